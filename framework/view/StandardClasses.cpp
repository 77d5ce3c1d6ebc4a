#include "framework/view/StandardClasses.h"

#include <mutex>

#include "framework/ExtCtrls.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"

namespace framework::detail {

void RegisterStandardClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const TClassInfo* info :
         {&TLabel::StaticClassInfo(), &TButton::StaticClassInfo(), &TEdit::StaticClassInfo(),
          &TComboBox::StaticClassInfo(), &TPanel::StaticClassInfo(), &TBevel::StaticClassInfo(),
          &TTimer::StaticClassInfo(), &TMainMenu::StaticClassInfo(), &TMenuItem::StaticClassInfo()})
      RegisterClass(*info);
  });
}

}  // namespace framework::detail
