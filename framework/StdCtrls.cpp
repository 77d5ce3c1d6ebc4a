#include "framework/StdCtrls.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include "framework/Application.h"
#include "framework/QtBridge.h"

namespace framework {

namespace {
const std::vector<std::string> kAlignmentNames = {"taLeftJustify", "taRightJustify", "taCenter"};
}

// ---- TLabel ----

const TClassInfo& TLabel::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TLabel>(
      "TLabel", &TControl::StaticClassInfo(), [](PropertyBuilder<TLabel>& p) {
        p.Bool("ParentColor", &TLabel::ParentColor, &TLabel::SetParentColor, true);
        p.Str("Caption", &TLabel::Caption, &TLabel::SetCaption, "");
        p.Enum<TAlignment>("Alignment", &TLabel::Alignment, &TLabel::SetAlignment,
                           TAlignment::taLeftJustify, kAlignmentNames);
        p.Bool("Transparent", &TLabel::Transparent, &TLabel::SetTransparent, false);
        p.Bool("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap, false);
        p.Bool("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize, false);
      });
  return info;
}

TLabel::TLabel() { SetParentColor(true); }

void TLabel::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  AdjustSize();
  Invalidate();
}

void TLabel::SetAutoSize(bool value) {
  autoSize_ = value;
  AdjustSize();
}

void TLabel::Loaded() {
  TControl::Loaded();
  AdjustSize();
}

void TLabel::FontChanged() {
  TControl::FontChanged();
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!autoSize_ || IsLoading() || View() == nullptr || wordWrap_) return;
  QFontMetrics metrics(detail::ToQFont(Font()));
  SetBounds(Left(), Top(), metrics.horizontalAdvance(detail::ToQString(caption_)), metrics.height());
}

void TLabel::SetAlignment(TAlignment value) {
  alignment_ = value;
  Invalidate();
}

void TLabel::SetTransparent(bool value) {
  transparent_ = value;
  Invalidate();
}

void TLabel::SetWordWrap(bool value) {
  wordWrap_ = value;
  Invalidate();
}

QWidget* TLabel::CreateView(QWidget* parentView) {
  auto* widget = new detail::PaintedWidget(parentView);
  widget->paint = [this, widget](QPainter& painter) {
    if (!transparent_) painter.fillRect(widget->rect(), detail::ToQColor(Color()));
    painter.setFont(detail::ToQFont(Font()));
    painter.setPen(detail::ToQColor(Enabled() ? Font().Color() : clGrayText));
    int flags = Qt::AlignTop;
    flags |= alignment_ == TAlignment::taCenter        ? Qt::AlignHCenter
             : alignment_ == TAlignment::taRightJustify ? Qt::AlignRight
                                                        : Qt::AlignLeft;
    flags |= wordWrap_ ? Qt::TextWordWrap : Qt::TextSingleLine;
    painter.drawText(widget->rect(), flags, detail::ToQString(caption_));
  };
  return widget;
}

// ---- TButton ----

const TClassInfo& TButton::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TButton>(
      "TButton", &TWinControl::StaticClassInfo(), [](PropertyBuilder<TButton>& p) {
        p.Str("Caption", &TButton::Caption, &TButton::SetCaption, "");
        p.Bool("Default", &TButton::Default, &TButton::SetDefault, false);
        p.Bool("Cancel", &TButton::Cancel, &TButton::SetCancel, false);
        p.Int("ModalResult", &TButton::ModalResult, &TButton::SetModalResult, mrNone)
            .Constants({{"mrNone", mrNone}, {"mrOk", mrOk}, {"mrCancel", mrCancel},
                        {"mrAbort", mrAbort}, {"mrRetry", mrRetry}, {"mrIgnore", mrIgnore},
                        {"mrYes", mrYes}, {"mrNo", mrNo}});
        p.Event<void(TObject*)>("OnClick", &TButton::OnClick);
      });
  return info;
}

TButton::TButton() = default;

void TButton::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  UpdateView();
}

void TButton::Click() {
  if (modalResult_ != mrNone)
    if (TForm* form = GetParentForm(this)) form->SetModalResult(modalResult_);
  if (OnClick) OnClick(this);
}

QWidget* TButton::CreateView(QWidget* parentView) {
  auto* button = new QPushButton(parentView);
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, button, [this] {
    if (Enabled()) CallGuarded(this, [this] { Click(); });
  });
  return button;
}

void TButton::UpdateView() {
  TWinControl::UpdateView();
  if (auto* button = qobject_cast<QPushButton*>(View())) button->setText(detail::ToQString(caption_));
}

// ---- TEdit ----

const TClassInfo& TEdit::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TEdit>(
      "TEdit", &TWinControl::StaticClassInfo(), [](PropertyBuilder<TEdit>& p) {
        p.Color("Color", &TEdit::Color, &TEdit::SetColor, clWindow)
            .StoredIf([](const TPersistent& o) { return !static_cast<const TEdit&>(o).ParentColor(); });
        p.Str("Text", &TEdit::Text, &TEdit::SetText, "");
        p.Bool("ReadOnly", &TEdit::ReadOnly, &TEdit::SetReadOnly, false);
        p.Event<void(TObject*)>("OnChange", &TEdit::OnChange);
      });
  return info;
}

TEdit::TEdit() {
  SetColor(clWindow);
  SetBounds(0, 0, 121, 21);
}

void TEdit::SetText(const std::string& value) {
  if (value == text_) return;
  text_ = value;
  UpdateView();
  if (OnChange && !IsLoading()) OnChange(this);
}

void TEdit::SetReadOnly(bool value) {
  readOnly_ = value;
  UpdateView();
}

void TEdit::TextEdited(const std::string& value) {
  text_ = value;
  if (OnChange) OnChange(this);
}

QWidget* TEdit::CreateView(QWidget* parentView) {
  auto* edit = new QLineEdit(parentView);
  edit->setFrame(true);
  QObject::connect(edit, &QLineEdit::textEdited, edit, [this](const QString& text) {
    CallGuarded(this, [&] { TextEdited(detail::FromQString(text)); });
  });
  return edit;
}

void TEdit::UpdateView() {
  TWinControl::UpdateView();
  auto* edit = qobject_cast<QLineEdit*>(View());
  if (edit == nullptr) return;
  QString text = detail::ToQString(text_);
  if (edit->text() != text) edit->setText(text);
  edit->setReadOnly(readOnly_);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, detail::ToQColor(Color()));
  palette.setColor(QPalette::Text, detail::ToQColor(Font().Color()));
  edit->setPalette(palette);
}

// ---- TComboBox ----

const TClassInfo& TComboBox::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TComboBox>(
      "TComboBox", &TWinControl::StaticClassInfo(), [](PropertyBuilder<TComboBox>& p) {
        p.Color("Color", &TComboBox::Color, &TComboBox::SetColor, clWindow)
            .StoredIf([](const TPersistent& o) { return !static_cast<const TComboBox&>(o).ParentColor(); });
        p.Enum<TComboBoxStyle>("Style", &TComboBox::Style, &TComboBox::SetStyle,
                               TComboBoxStyle::csDropDownList, {"csDropDownList"});
        p.Int("ItemHeight", &TComboBox::ItemHeight, &TComboBox::SetItemHeight, 13);
        p.Strings("Items", &TComboBox::Items, &TComboBox::SetItems);
        p.Int("ItemIndex", &TComboBox::ItemIndex, &TComboBox::SetItemIndex, -1);
        p.Event<void(TObject*)>("OnChange", &TComboBox::OnChange);
      });
  return info;
}

TComboBox::TComboBox() {
  SetColor(clWindow);
  SetBounds(0, 0, 145, 21);
}

void TComboBox::SetItems(const std::vector<std::string>& value) {
  items_ = value;
  itemHints_.assign(items_.size(), std::string());
  if (itemIndex_ >= static_cast<int>(items_.size())) itemIndex_ = -1;
  UpdateView();
}

void TComboBox::AddItem(const std::string& item, const std::string& hint) {
  items_.push_back(item);
  itemHints_.push_back(hint);
  UpdateView();
}

std::string TComboBox::ItemHint(int index) const {
  if (index < 0 || index >= static_cast<int>(itemHints_.size())) return {};
  return itemHints_[static_cast<std::size_t>(index)];
}

void TComboBox::ClearItems() {
  items_.clear();
  itemHints_.clear();
  itemIndex_ = -1;
  UpdateView();
}

void TComboBox::SetItemIndex(int value) {
  if (value < -1 || value >= static_cast<int>(items_.size())) value = -1;
  itemIndex_ = value;
  UpdateView();
}

std::string TComboBox::Text() const {
  return itemIndex_ >= 0 ? items_[static_cast<std::size_t>(itemIndex_)] : std::string();
}

void TComboBox::UserSelected(int index) {
  if (index == itemIndex_) return;
  itemIndex_ = index;
  if (OnChange) OnChange(this);
}

QWidget* TComboBox::CreateView(QWidget* parentView) {
  auto* combo = new QComboBox(parentView);
  combo->setEditable(false);
  QObject::connect(combo, &QComboBox::activated, combo, [this](int index) {
    CallGuarded(this, [&] { UserSelected(index); });
  });
  return combo;
}

void TComboBox::UpdateView() {
  TWinControl::UpdateView();
  auto* combo = qobject_cast<QComboBox*>(View());
  if (combo == nullptr) return;
  QStringList list;
  for (const std::string& item : items_) list << detail::ToQString(item);
  QStringList current;
  for (int i = 0; i < combo->count(); ++i) current << combo->itemText(i);
  if (current != list) {
    combo->clear();
    combo->addItems(list);
  }
  for (int i = 0; i < combo->count(); ++i)
    combo->setItemData(i, detail::ToQString(ItemHint(i)), Qt::ToolTipRole);
  combo->setCurrentIndex(itemIndex_);
}

}  // namespace framework
