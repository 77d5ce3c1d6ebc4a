// Visual controls: geometry, visibility, colour and font, parents and
// alignment. A control's state lives here, in plain C++; when the program
// has a Qt application (TApplication::Initialize) every control placed on a
// form also has a Qt widget that mirrors it, so the same code runs with a
// display, on the offscreen platform, or with no views at all.
//
// Geometry is in pixels at 96 dpi, relative to the parent's client area.
// Ownership and nesting are separate: the form owns every control of its
// layout; Parent only places a control inside another one.
//
// Thread safety: the window's thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Graphics.h"
#include "framework/Properties.h"

class QWidget;

namespace framework {

namespace detail {
struct ViewRef;
}

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

class TWinControl;

class TControl : public TComponent {
 public:
  TControl();
  ~TControl() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int value) { SetBounds(value, top_, width_, height_); }
  void SetTop(int value) { SetBounds(left_, value, width_, height_); }
  void SetWidth(int value) { SetBounds(left_, top_, value, height_); }
  void SetHeight(int value) { SetBounds(left_, top_, width_, value); }
  virtual void SetBounds(int left, int top, int width, int height);
  // The area children are placed in; the whole control unless a form.
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign value);

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);

  TColor Color() const { return color_; }
  void SetColor(TColor value);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value) { hint_ = value; }

  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);

  TComponent* GetParentComponent() const override;
  bool SetParentComponent(TComponent* parent) override;
  void Loaded() override;

  // The Qt widget mirroring this control, or null when there is none.
  QWidget* View() const;

 protected:
  // Makes the widget of this kind inside ParentView (null for a window).
  virtual QWidget* CreateView(QWidget* parentView);
  // Pushes the whole state to the widget; called after every change.
  virtual void UpdateView();
  // Creates the view when the parent has one; a container then creates its
  // children's views.
  virtual void CreateViewIfPossible();
  void SetViewWidget(QWidget* widget);
  void Invalidate();
  // Runs after a change of the font or colour (own or inherited).
  virtual void FontChanged();
  void SetFontFromParent(const TFont& font);
  void SetColorFromParent(TColor color);
  void RequestParentRealign();

  TColor defaultColor_;

 private:
  friend class TWinControl;
  friend class TForm;

  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = TAlign::alNone;
  bool visible_ = true;
  bool enabled_ = true;
  TColor color_;
  bool parentColor_ = false;
  TFont font_;
  bool parentFont_ = true;
  bool fromParent_ = false;  // a font or colour change that came from the parent
  std::string hint_;
  TWinControl* parent_ = nullptr;
  std::unique_ptr<detail::ViewRef> view_;
};

// A control that holds other controls.
class TWinControl : public TControl {
 public:
  TWinControl();
  ~TWinControl() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  int TabOrder() const { return tabOrder_; }
  void SetTabOrder(int value) { tabOrder_ = value; }

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(index); }

  // Places the aligned children (alTop, then alBottom, alLeft, alRight,
  // alClient) in the client area.
  void AlignControls();
  void SetBounds(int left, int top, int width, int height) override;
  std::vector<TComponent*> GetChildren(const TComponent& root) const override;
  void Loaded() override;

  // Where the children's widgets go (the client area of a form).
  virtual QWidget* ClientView() const { return View(); }

 protected:
  void CreateViewIfPossible() override;
  void FontChanged() override;

 private:
  friend class TControl;
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  void PropagateColor();

  std::vector<TControl*> controls_;  // not owned: the form owns them
  int tabOrder_ = -1;
  bool aligning_ = false;
};

}  // namespace framework
