#include "framework/Forms.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>

#include "framework/Application.h"
#include "framework/Layout.h"
#include "framework/Menus.h"
#include "framework/QtBridge.h"
#include "platform/resources.h"

namespace framework {

// Non-client metrics of the platform the layouts were drawn on.
namespace {
constexpr int kCaption = 19;
constexpr int kSmallCaption = 16;
constexpr int kMenuBar = 19;
constexpr int kSizingFrame = 4;
constexpr int kFixedFrame = 3;
}  // namespace

const TClassInfo& TForm::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TForm>(
      "TForm", &TWinControl::StaticClassInfo(), [](PropertyBuilder<TForm>& p) {
        p.Bool("Visible", &TForm::Visible, &TForm::SetVisible, false);
        p.Bool("ParentFont", &TForm::ParentFont, &TForm::SetParentFont, false);
        p.Str("Caption", &TForm::Caption, &TForm::SetCaption, "");
        p.Enum<TFormBorderStyle>("BorderStyle", &TForm::BorderStyle, &TForm::SetBorderStyle,
                                 TFormBorderStyle::bsSizeable,
                                 {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow",
                                  "bsSizeToolWin"});
        p.Set<TBorderIcon>("BorderIcons", &TForm::BorderIcons, &TForm::SetBorderIcons,
                           TBorderIcons{TBorderIcon::biSystemMenu, TBorderIcon::biMinimize,
                                        TBorderIcon::biMaximize},
                           {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"});
        p.Enum<TPosition>("Position", &TForm::Position, &TForm::SetPosition, TPosition::poDesigned,
                          {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly",
                           "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"});
        p.Reference<TMainMenu>("Menu", &TForm::Menu, &TForm::SetMenu);
        p.Str("Icon", &TForm::Icon, &TForm::SetIcon, "");
        p.Int("ClientWidth", &TForm::ClientWidth, &TForm::SetClientWidth, 0).NeverStored();
        p.Int("ClientHeight", &TForm::ClientHeight, &TForm::SetClientHeight, 0).NeverStored();
        p.Event<void(TObject*)>("OnCreate", &TForm::OnCreate);
        p.Event<void(TObject*)>("OnDestroy", &TForm::OnDestroy);
        p.Event<void(TObject*)>("OnShow", &TForm::OnShow);
        p.Event<void(TObject*, TCloseAction&)>("OnClose", &TForm::OnClose);
      });
  return info;
}

TForm::TForm() {
  BeginConstruction();
  SetParentFont(false);
  SetVisible(false);
  SetBounds(0, 0, 320, 240);
  CreateViewIfPossible();
}

TForm::~TForm() {
  destroying_ = true;
  if (OnDestroy) CallGuarded(this, [this] { OnDestroy(this); });
  if (modalLoop_ != nullptr) modalLoop_->exit(0);
  if (menu_ != nullptr) menu_->AttachBar(nullptr);
}

void TForm::LoadLayout(std::string_view name) { ReadLayoutResource(name, *this); }

void TForm::LoadLayoutText(std::string_view text, std::string_view source) {
  ReadLayout(text, *this, source);
}

void TForm::SetCaption(const std::string& value) {
  caption_ = value;
  UpdateView();
}

namespace {

// The icon's image; a null pixmap when there is no GUI to decode it with.
QPixmap IconImage(const std::string& name) {
  auto data = platform::FindEmbeddedResource(name, "ICON");
  if (!data) throw EComponentError("No icon resource named '" + name + "'");
  QPixmap image;
  if (!detail::HasGui()) return image;
  if (!image.loadFromData(reinterpret_cast<const uchar*>(data->data()),
                          static_cast<uint>(data->size())))
    throw EComponentError("Icon resource '" + name + "' is not an image");
  return image;
}

}  // namespace

void TForm::SetIcon(const std::string& value) {
  QPixmap image;
  if (!value.empty()) image = IconImage(value);
  icon_ = value;
  if (QWidget* window = View()) window->setWindowIcon(image.isNull() ? QIcon() : QIcon(image));
}

void TForm::SetBorderStyle(TFormBorderStyle value) {
  borderStyle_ = value;
  UpdateView();
  if (!IsLoading()) AlignControls();
}

void TForm::SetBorderIcons(TBorderIcons value) { borderIcons_ = value; }

void TForm::SetMenu(TMainMenu* value) {
  if (value == menu_) return;
  if (menu_ != nullptr) menu_->AttachBar(nullptr);
  menu_ = value;
  if (menu_ != nullptr && menuBar_ != nullptr) menu_->AttachBar(menuBar_);
  UpdateView();
  if (!IsLoading()) AlignControls();
}

int TForm::FrameWidth() const {
  switch (borderStyle_) {
    case TFormBorderStyle::bsNone: return 0;
    case TFormBorderStyle::bsSizeable:
    case TFormBorderStyle::bsSizeToolWin: return kSizingFrame;
    default: return kFixedFrame;
  }
}

int TForm::CaptionHeight() const {
  switch (borderStyle_) {
    case TFormBorderStyle::bsNone: return 0;
    case TFormBorderStyle::bsToolWindow:
    case TFormBorderStyle::bsSizeToolWin: return kSmallCaption;
    default: return kCaption;
  }
}

int TForm::MenuHeight() const { return menu_ != nullptr && menu_->HasVisibleItems() ? kMenuBar : 0; }

int TForm::ClientWidth() const { return std::max(0, Width() - 2 * FrameWidth()); }

int TForm::ClientHeight() const {
  return std::max(0, Height() - CaptionHeight() - 2 * FrameWidth() - MenuHeight());
}

void TForm::SetClientWidth(int value) {
  if (IsLoading()) pendingClientWidth_ = value;
  SetWidth(value + 2 * FrameWidth());
}

void TForm::SetClientHeight(int value) {
  if (IsLoading()) pendingClientHeight_ = value;
  SetHeight(value + CaptionHeight() + 2 * FrameWidth() + MenuHeight());
}

void TForm::Loaded() {
  TWinControl::Loaded();
  // The menu is known only now; a stored client size wins over the outer one.
  if (pendingClientWidth_ >= 0) SetClientWidth(pendingClientWidth_);
  if (pendingClientHeight_ >= 0) SetClientHeight(pendingClientHeight_);
  pendingClientWidth_ = pendingClientHeight_ = -1;
  UpdateView();
  AlignControls();
}

void TForm::AfterConstruction() {
  if (OnCreate) CallGuarded(this, [this] { OnCreate(this); });
  // Only now may timers and held events reach the form's handlers: a
  // message box shown while the layout was read, or by OnCreate, runs an
  // event loop before the form's own fields are set.
  EndConstruction();
}

void TForm::Notification(TComponent* component, TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation == TOperation::opRemove && component == menu_) {
    menu_ = nullptr;
    UpdateView();
  }
}

QWidget* TForm::ClientView() const { return client_; }

void TForm::CreateViewIfPossible() {
  if (View() == nullptr && detail::HasGui()) CreateFormView();
  if (View() == nullptr) return;
  for (int i = 0; i < ControlCount(); ++i) Controls(i)->CreateViewIfPossible();
}

void TForm::CreateFormView() {
  auto* window = new detail::FormWidget();
  window->onClose = [this] {
    bool accept = false;
    CallGuarded(this, [&] { accept = CloseRequested(); });
    return accept;
  };
  window->onResize = [this](int width, int height) {
    // The user resized the window: the outer size follows. The Qt window
    // holds the menu bar already, so only the frame and caption are added.
    if (destroying_ || !Visible()) return;
    SetBounds(Left(), Top(), width + 2 * FrameWidth(), height + CaptionHeight() + 2 * FrameWidth());
  };
  auto* client = new detail::PaintedWidget(window);
  client->paint = [this, client](QPainter& painter) { painter.fillRect(client->rect(), detail::ToQColor(Color())); };
  client_ = client;
  menuBar_ = new QMenuBar(window);
  menuBar_->setNativeMenuBar(false);
  for (auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    auto* shortcut = new QShortcut(QKeySequence(key), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window,
                     [this, key] { ClickDefault(key == Qt::Key_Escape); });
  }
  SetViewWidget(window);
  if (!icon_.empty()) window->setWindowIcon(QIcon(IconImage(icon_)));
  if (menu_ != nullptr) menu_->AttachBar(menuBar_);
  UpdateView();
}

void TForm::UpdateView() {
  QWidget* window = View();
  if (window == nullptr || destroying_) return;
  int menuHeight = MenuHeight();
  window->setWindowTitle(detail::ToQString(caption_));
  window->setFont(detail::ToQFont(Font()));
  window->setEnabled(Enabled());
  window->move(Left(), Top());
  bool fixed = borderStyle_ != TFormBorderStyle::bsSizeable && borderStyle_ != TFormBorderStyle::bsSizeToolWin;
  QSize size(ClientWidth(), ClientHeight() + menuHeight);
  if (fixed)
    window->setFixedSize(size);
  else {
    window->setMinimumSize(0, 0);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window->resize(size);
  }
  menuBar_->setGeometry(0, 0, ClientWidth(), menuHeight);
  menuBar_->setVisible(menuHeight > 0);
  client_->setGeometry(0, menuHeight, ClientWidth(), ClientHeight());
  client_->update();
}

void TForm::SetVisible(bool value) {
  if (value && !Visible()) ApplyPosition();
  TControl::SetVisible(value);
  QWidget* window = View();
  if (window != nullptr && !destroying_) window->setVisible(value);
  if (value && OnShow && !IsLoading()) OnShow(this);
}

void TForm::ApplyPosition() {
  QRect area;
  if ((position_ == TPosition::poMainFormCenter || position_ == TPosition::poOwnerFormCenter) &&
      Application->MainForm() != nullptr && Application->MainForm() != this &&
      Application->MainForm()->Visible()) {
    const TForm* main = Application->MainForm();
    area = QRect(main->Left(), main->Top(), main->Width(), main->Height());
  } else if (position_ != TPosition::poDesigned && position_ != TPosition::poDefaultSizeOnly &&
             detail::HasGui() && QGuiApplication::primaryScreen() != nullptr) {
    area = QGuiApplication::primaryScreen()->availableGeometry();
  }
  if (area.isNull()) return;
  SetBounds(area.x() + (area.width() - Width()) / 2, area.y() + (area.height() - Height()) / 2, Width(), Height());
}

void TForm::Close() {
  if (Modal()) {
    SetModalResult(mrCancel);
    return;
  }
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) return;
  Hide();
  if (Application->MainForm() == this) Application->Terminate();
}

bool TForm::CloseRequested() {
  Close();
  // The form hides itself (or refused); Qt must not hide it behind our back.
  return false;
}

TModalResult TForm::ShowModal() {
  if (Visible() || Modal()) throw EInvalidOperation("Cannot make a visible window modal");
  QWidget* window = View();
  if (window == nullptr) throw EInvalidOperation("A modal window needs the application's event loop");
  modalResult_ = mrNone;
  window->setWindowModality(Qt::ApplicationModal);
  QEventLoop loop;
  modalLoop_ = &loop;
  Show();
  if (modalResult_ == mrNone && !Application->Terminated()) loop.exec();
  modalLoop_ = nullptr;
  Hide();
  window->setWindowModality(Qt::NonModal);
  return modalResult_;
}

void TForm::SetModalResult(TModalResult value) {
  modalResult_ = value;
  if (modalLoop_ != nullptr && value != mrNone) modalLoop_->exit(0);
}

void TForm::ClickDefault(bool cancel) {
  for (int i = 0; i < ComponentCount(); ++i) {
    auto* button = dynamic_cast<TButton*>(Components(i));
    if (button == nullptr || !button->Visible() || !button->Enabled()) continue;
    if (cancel ? button->Cancel() : button->Default()) {
      CallGuarded(button, [button] { button->Click(); });
      return;
    }
  }
}

bool TForm::SaveImage(const std::string& pngPath) {
  QWidget* window = View();
  if (window == nullptr) return false;
  window->ensurePolished();
  QPixmap image = window->grab();
  return image.save(detail::ToQString(pngPath), "PNG");
}

TForm* GetParentForm(const TControl* control) {
  const TControl* c = control;
  while (c != nullptr && c->Parent() != nullptr) c = c->Parent();
  return const_cast<TForm*>(dynamic_cast<const TForm*>(c));
}

}  // namespace framework
