#include "framework/Controls.h"

#include <algorithm>

#include "framework/QtBridge.h"
#include "framework/view/StandardClasses.h"

namespace framework {

// ---- TControl ----

const TClassInfo& TControl::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TControl>(
      "TControl", &TComponent::StaticClassInfo(), [](PropertyBuilder<TControl>& p) {
        p.Int("Left", &TControl::Left, &TControl::SetLeft, 0).AlwaysStored();
        p.Int("Top", &TControl::Top, &TControl::SetTop, 0).AlwaysStored();
        p.Int("Width", &TControl::Width, &TControl::SetWidth, 0).AlwaysStored();
        p.Int("Height", &TControl::Height, &TControl::SetHeight, 0).AlwaysStored();
        p.Enum<TAlign>("Align", &TControl::Align, &TControl::SetAlign, TAlign::alNone,
                       {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"});
        p.Bool("ParentColor", &TControl::ParentColor, &TControl::SetParentColor, false);
        p.Color("Color", &TControl::Color, &TControl::SetColor, clBtnFace)
            .StoredIf([](const TPersistent& o) { return !static_cast<const TControl&>(o).ParentColor(); });
        p.Bool("ParentFont", &TControl::ParentFont, &TControl::SetParentFont, true);
        p.Object("Font", static_cast<TFont& (TControl::*)()>(&TControl::Font))
            .StoredIf([](const TPersistent& o) { return !static_cast<const TControl&>(o).ParentFont(); });
        p.Bool("Visible", &TControl::Visible, &TControl::SetVisible, true);
        p.Bool("Enabled", &TControl::Enabled, &TControl::SetEnabled, true);
        p.Str("Hint", &TControl::Hint, &TControl::SetHint, "");
      });
  return info;
}

TControl::TControl()
    : defaultColor_(clBtnFace), color_(clBtnFace), view_(std::make_unique<detail::ViewRef>()) {
  detail::RegisterStandardClasses();
  font_.OnChange = [this] {
    if (!fromParent_) parentFont_ = false;
    FontChanged();
  };
}

TControl::~TControl() {
  if (parent_ != nullptr) parent_->RemoveControl(this);
  parent_ = nullptr;
  delete view_->widget.data();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  UpdateView();
  if (align_ != TAlign::alNone) RequestParentRealign();
}

void TControl::SetAlign(TAlign value) {
  if (value == align_) return;
  align_ = value;
  RequestParentRealign();
}

void TControl::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  UpdateView();
  if (align_ != TAlign::alNone) RequestParentRealign();
}

void TControl::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateView();
}

void TControl::SetColor(TColor value) {
  if (!fromParent_) parentColor_ = false;
  if (value == color_) return;
  color_ = value;
  Invalidate();
  if (auto* container = dynamic_cast<TWinControl*>(this)) container->PropagateColor();
}

void TControl::SetParentColor(bool value) {
  parentColor_ = value;
  if (value && parent_ != nullptr) SetColorFromParent(parent_->Color());
}

void TControl::SetParentFont(bool value) {
  parentFont_ = value;
  if (value && parent_ != nullptr) SetFontFromParent(parent_->Font());
}

void TControl::SetFontFromParent(const TFont& font) {
  fromParent_ = true;
  font_.Assign(font);
  fromParent_ = false;
}

void TControl::SetColorFromParent(TColor color) {
  fromParent_ = true;
  SetColor(color);
  fromParent_ = false;
}

void TControl::FontChanged() { UpdateView(); }

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw EComponentError("A control cannot be its own parent");
  if (parent_ != nullptr) parent_->RemoveControl(this);
  parent_ = parent;
  if (parent_ == nullptr) {
    delete view_->widget.data();
    return;
  }
  parent_->InsertControl(this);
  if (parentFont_) SetFontFromParent(parent_->Font());
  if (parentColor_) SetColorFromParent(parent_->Color());
  if (QWidget* w = View(); w != nullptr && parent_->ClientView() != nullptr) {
    w->setParent(parent_->ClientView());
    UpdateView();
  } else {
    CreateViewIfPossible();
  }
  RequestParentRealign();
}

TComponent* TControl::GetParentComponent() const { return parent_; }

bool TControl::SetParentComponent(TComponent* parent) {
  if (parent == nullptr) {
    // At a layout's root: the root itself is the parent when it is a
    // container (a form).
    if (auto* container = dynamic_cast<TWinControl*>(Owner())) SetParent(container);
    return true;
  }
  auto* container = dynamic_cast<TWinControl*>(parent);
  if (container == nullptr) return false;
  SetParent(container);
  return true;
}

void TControl::Loaded() { TComponent::Loaded(); }

QWidget* TControl::View() const { return view_->widget.data(); }

QWidget* TControl::CreateView(QWidget* parentView) {
  auto* widget = new detail::PaintedWidget(parentView);
  return widget;
}

void TControl::UpdateView() {
  QWidget* w = View();
  if (w == nullptr) return;
  w->setGeometry(left_, top_, width_, height_);
  w->setEnabled(enabled_);
  w->setFont(detail::ToQFont(font_));
  w->setVisible(visible_);
  w->update();
}

void TControl::CreateViewIfPossible() {
  if (View() != nullptr || !detail::HasGui()) return;
  if (parent_ == nullptr || parent_->ClientView() == nullptr) return;
  SetViewWidget(CreateView(parent_->ClientView()));
  UpdateView();
}

void TControl::SetViewWidget(QWidget* widget) { view_->widget = widget; }

void TControl::Invalidate() {
  if (QWidget* w = View()) w->update();
}

void TControl::RequestParentRealign() {
  if (parent_ != nullptr && !parent_->aligning_ && !parent_->IsLoading()) parent_->AlignControls();
}

// ---- TWinControl ----

const TClassInfo& TWinControl::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TWinControl>(
      "TWinControl", &TControl::StaticClassInfo(), [](PropertyBuilder<TWinControl>& p) {
        p.Int("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder, -1);
      });
  return info;
}

TWinControl::TWinControl() = default;

TWinControl::~TWinControl() {
  // The children are owned elsewhere (the form, in reverse order of
  // creation); those still alive just lose their parent.
  for (TControl* c : controls_) c->parent_ = nullptr;
  controls_.clear();
}

void TWinControl::InsertControl(TControl* control) { controls_.push_back(control); }

void TWinControl::RemoveControl(TControl* control) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  if (control->Align() != TAlign::alNone && !aligning_ && !IsLoading() &&
      (ComponentState() & csDestroying) == 0)
    AlignControls();
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  bool resized = width != Width() || height != Height();
  TControl::SetBounds(left, top, width, height);
  if (resized && !IsLoading()) AlignControls();
}

void TWinControl::AlignControls() {
  if (aligning_) return;
  aligning_ = true;
  int left = 0, top = 0, right = ClientWidth(), bottom = ClientHeight();
  auto place = [&](TAlign which) {
    for (TControl* c : controls_) {
      if (c->Align() != which || !c->Visible()) continue;
      switch (which) {
        case TAlign::alTop:
          c->SetBounds(left, top, right - left, c->Height());
          top += c->Height();
          break;
        case TAlign::alBottom:
          c->SetBounds(left, bottom - c->Height(), right - left, c->Height());
          bottom -= c->Height();
          break;
        case TAlign::alLeft:
          c->SetBounds(left, top, c->Width(), bottom - top);
          left += c->Width();
          break;
        case TAlign::alRight:
          c->SetBounds(right - c->Width(), top, c->Width(), bottom - top);
          right -= c->Width();
          break;
        case TAlign::alClient:
          c->SetBounds(left, top, right - left, bottom - top);
          break;
        case TAlign::alNone:
          break;
      }
    }
  };
  for (TAlign a : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient})
    place(a);
  aligning_ = false;
}

std::vector<TComponent*> TWinControl::GetChildren(const TComponent& root) const {
  if (this == &root) return TComponent::GetChildren(root);
  std::vector<TComponent*> result;
  for (TControl* c : controls_)
    if (c->Owner() == &root) result.push_back(c);
  return result;
}

void TWinControl::Loaded() {
  TControl::Loaded();
  AlignControls();
}

void TWinControl::CreateViewIfPossible() {
  TControl::CreateViewIfPossible();
  if (View() == nullptr) return;
  for (TControl* c : controls_) c->CreateViewIfPossible();
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* c : controls_)
    if (c->ParentFont()) c->SetFontFromParent(Font());
}

void TWinControl::PropagateColor() {
  for (TControl* c : controls_)
    if (c->ParentColor()) c->SetColorFromParent(Color());
}

}  // namespace framework
