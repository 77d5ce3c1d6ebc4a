// A program that leaves without Application->Shutdown, with a window that
// has a menu, a timer and a pending platform message: its exit must free
// all of it without touching anything already gone. Exits 0 when it works.
#include "framework/Application.h"
#include "framework/Forms.h"
#include "platform/messages.h"
#include "platform/thread.h"

int main() {
  framework::Application->Initialize();
  framework::TForm* form = nullptr;
  framework::Application->CreateForm(form);
  form->LoadLayoutText(R"(Form : TForm {
    Menu = Menu
    Menu : TMainMenu { Item : TMenuItem { Caption = "Запуск" } }
    Tick : TTimer { Interval = 1 }
  })");
  form->Show();
  framework::Application->ProcessMessages();
  platform::PostThreadMessageA(platform::GetCurrentThreadId(), platform::WM_USER, 0, 0);
  return 0;
}
