// Forms: top-level windows read from a stored layout.
//
// Left, Top, Width and Height are the window's outer rectangle as the
// program's layouts were drawn: a sizeable frame is 4 pixels on each side,
// a dialog or single frame 3, the caption 19 and a main menu bar 19, so a
// sizeable 626 x 318 window with a menu has a 618 x 272 client area. The Qt
// view is the client area plus the menu bar; the title bar and frame are
// the window manager's.
//
// A form class of the program:
//
//   class TForm1 : public framework::TForm {
//    public:
//     static const TClassInfo& StaticClassInfo();   // DefineClass<TForm1>("TForm1", &TForm::StaticClassInfo())
//     const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
//     TForm1() {
//       BindHandler("FormCreate", &TForm1::FormCreate);   // every handler the layout names
//       BindHandler("Bu_UClick", &TForm1::Bu_UClick);
//       LoadLayout("UNIT1");                             // resources/layouts/unit1.lay
//       La_Data = &Component<TLabel>("La_Data");          // fields, by name
//     }
//     void FormCreate(TObject* Sender);
//     ...
//   };
//
// OnCreate runs from AfterConstruction (TApplication::CreateForm, NewObject,
// NewComponent), after the whole layout has been loaded, through the
// application's guard. Until OnCreate has returned the form is under
// construction (TComponent::InConstruction): its timers do not run and its
// components hold the events they would raise, so no other handler of the
// form runs before it is whole, not even from the event loop of a message
// box shown meanwhile. A form made without those factories (a dialog on
// the stack) must call AfterConstruction itself for its timers to run.
//
// Thread safety: the window's thread only.
#pragma once

#include <string>

#include "framework/Controls.h"
#include "framework/StdCtrls.h"

class QEventLoop;
class QMenuBar;

namespace framework {

class TMainMenu;

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSet<TBorderIcon>;
enum class TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
                       poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

// Raised for a call that cannot be made now (ShowModal of a visible form,
// or without the application's event loop).
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

class TForm : public TWinControl {
 public:
  TForm();
  ~TForm() override;
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Reads the embedded layout resource Name into this form (see Layout.h).
  void LoadLayout(std::string_view name);
  // Reads a layout given as text (tests, generated forms).
  void LoadLayoutText(std::string_view text, std::string_view source = "layout");

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle value);
  TBorderIcons BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TBorderIcons value);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition value) { position_ = value; }
  TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* value);
  // The window icon: the name of an embedded image resource of type ICON
  // (PNG), or empty for the system's default. A name with no such resource,
  // or one that is not an image, raises EComponentError.
  const std::string& Icon() const { return icon_; }
  void SetIcon(const std::string& value);

  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetClientWidth(int value);
  void SetClientHeight(int value);
  // The frame and caption sizes for the border style, and the menu bar.
  int FrameWidth() const;
  int CaptionHeight() const;
  int MenuHeight() const;

  void SetVisible(bool value) override;
  // Asks to close: a modal form ends with mrCancel; otherwise OnClose may
  // refuse (caNone); the main form's close ends the application.
  void Close();
  // Shows the form modally and runs a nested event loop until ModalResult
  // becomes non-zero; returns it and hides the form.
  TModalResult ShowModal();
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult value);
  bool Modal() const { return modalLoop_ != nullptr; }

  // Renders the client area (and menu bar) offscreen; for tests and
  // screenshots. Returns false without a view.
  bool SaveImage(const std::string& pngPath);

  void AfterConstruction() override;
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;
  QWidget* ClientView() const override;

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TCloseEvent OnClose;

 protected:
  void UpdateView() override;
  void CreateViewIfPossible() override;

 private:
  void CreateFormView();
  void ApplyPosition();
  bool CloseRequested();
  void ClickDefault(bool cancel);

  std::string caption_;
  std::string icon_;
  TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
  TBorderIcons borderIcons_{TBorderIcon::biSystemMenu, TBorderIcon::biMinimize, TBorderIcon::biMaximize};
  TPosition position_ = TPosition::poDesigned;
  TMainMenu* menu_ = nullptr;
  TModalResult modalResult_ = mrNone;
  QEventLoop* modalLoop_ = nullptr;
  QWidget* client_ = nullptr;    // children of the form's view
  QMenuBar* menuBar_ = nullptr;
  int pendingClientWidth_ = -1;  // ClientWidth/Height read from a layout,
  int pendingClientHeight_ = -1;  // applied once the menu is known
  bool destroying_ = false;
};

// The form a control sits on, or null.
TForm* GetParentForm(const TControl* control);

}  // namespace framework
