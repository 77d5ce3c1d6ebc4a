// Standard controls: labels, push buttons, single-line edits and
// drop-down lists.
//
// Events raised by the user (a click, an edit, a choice) run on the
// window's thread through the application's guard: an exception a handler
// lets out is shown by TApplication::HandleException and the program goes
// on. Changes made by the program itself raise OnChange directly.
//
// Thread safety: the window's thread only.
#pragma once

#include <string>
#include <vector>

#include "framework/Controls.h"

namespace framework {

// Static text, drawn as plain text with every space kept. With AutoSize
// the label takes the size of its caption (when a view can measure it).
class TLabel : public TControl {
 public:
  TLabel();
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);

  void Loaded() override;

 protected:
  QWidget* CreateView(QWidget* parentView) override;
  void FontChanged() override;

 private:
  void AdjustSize();

  std::string caption_;
  bool autoSize_ = false;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  bool transparent_ = false;
  bool wordWrap_ = false;
};

// Modal results (TForm::ShowModal, TButton::ModalResult).
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

class TButton : public TWinControl {
 public:
  TButton();
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  // Pressing Enter in the form clicks its default button; Esc its cancel one.
  bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult value) { modalResult_ = value; }

  // What a click does: sets the form's ModalResult (when non-zero), then
  // raises OnClick. Exceptions go to the caller.
  virtual void Click();

  TNotifyEvent OnClick;

 protected:
  QWidget* CreateView(QWidget* parentView) override;
  void UpdateView() override;

 private:
  std::string caption_;
  bool default_ = false;
  bool cancel_ = false;
  TModalResult modalResult_ = mrNone;
};

class TEdit : public TWinControl {
 public:
  TEdit();
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::string& Text() const { return text_; }
  void SetText(const std::string& value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);

  TNotifyEvent OnChange;

 protected:
  QWidget* CreateView(QWidget* parentView) override;
  void UpdateView() override;

 private:
  void TextEdited(const std::string& value);

  std::string text_;
  bool readOnly_ = false;
};

// Only the drop-down list kind: the user picks an entry, never types.
enum class TComboBoxStyle { csDropDownList };

class TComboBox : public TWinControl {
 public:
  TComboBox();
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(const std::vector<std::string>& value);
  // Adds an entry; `hint` is shown when the pointer rests on it in the
  // open list (empty: no hint).
  void AddItem(const std::string& item, const std::string& hint = {});
  void ClearItems();
  // The hint of entry `index`, or "" (no hint, or no such entry).
  std::string ItemHint(int index) const;
  // -1 (nothing selected) or the index of an entry; a value outside the
  // list selects nothing.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int value);
  // The selected entry's text, or "" when nothing is selected.
  std::string Text() const;
  TComboBoxStyle Style() const { return TComboBoxStyle::csDropDownList; }
  void SetStyle(TComboBoxStyle) {}
  int ItemHeight() const { return itemHeight_; }
  void SetItemHeight(int value) { itemHeight_ = value; }

  TNotifyEvent OnChange;

 protected:
  QWidget* CreateView(QWidget* parentView) override;
  void UpdateView() override;

 private:
  void UserSelected(int index);

  std::vector<std::string> items_;
  std::vector<std::string> itemHints_;  // one per entry of items_
  int itemIndex_ = -1;
  int itemHeight_ = 13;
};

}  // namespace framework
