#include "framework/Menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <algorithm>

#include "framework/Application.h"
#include "framework/QtBridge.h"
#include "framework/view/StandardClasses.h"

namespace framework {

namespace detail {
struct ActionRef {
  QPointer<QAction> action;
};
struct MenuBarRef {
  QPointer<QMenuBar> bar;
};
}  // namespace detail

// ---- TMenuItem ----

const TClassInfo& TMenuItem::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TMenuItem>(
      "TMenuItem", &TComponent::StaticClassInfo(), [](PropertyBuilder<TMenuItem>& p) {
        p.Str("Caption", &TMenuItem::Caption, &TMenuItem::SetCaption, "");
        p.Bool("Checked", &TMenuItem::Checked, &TMenuItem::SetChecked, false);
        p.Bool("Enabled", &TMenuItem::Enabled, &TMenuItem::SetEnabled, true);
        p.Int("GroupIndex", &TMenuItem::GroupIndex, &TMenuItem::SetGroupIndex, 0);
        p.Bool("RadioItem", &TMenuItem::RadioItem, &TMenuItem::SetRadioItem, false);
        p.Bool("Visible", &TMenuItem::Visible, &TMenuItem::SetVisible, true);
        p.Event<void(TObject*)>("OnClick", &TMenuItem::OnClick);
      });
  return info;
}

TMenuItem::TMenuItem() : action_(std::make_unique<detail::ActionRef>()) {}

TMenuItem::~TMenuItem() {
  for (TMenuItem* child : items_) child->parent_ = nullptr;
  items_.clear();
  if (parent_ != nullptr) parent_->Remove(this);
}

void TMenuItem::SetCaption(const std::string& value) {
  bool lineChanged = (value == "-") != IsLine();
  caption_ = value;
  if (lineChanged)
    Rebuild();
  else
    UpdateAction();
}

void TMenuItem::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  if (checked_ && radioItem_ && parent_ != nullptr) {
    for (TMenuItem* sibling : parent_->items_) {
      if (sibling == this || !sibling->radioItem_ || sibling->groupIndex_ != groupIndex_) continue;
      if (sibling->checked_) {
        sibling->checked_ = false;
        sibling->UpdateAction();
      }
    }
  }
  UpdateAction();
}

void TMenuItem::SetRadioItem(bool value) {
  radioItem_ = value;
  UpdateAction();
}

void TMenuItem::SetGroupIndex(int value) { groupIndex_ = value; }

void TMenuItem::SetEnabled(bool value) {
  enabled_ = value;
  UpdateAction();
}

void TMenuItem::SetVisible(bool value) {
  visible_ = value;
  UpdateAction();
}

TMainMenu* TMenuItem::Menu() const {
  const TMenuItem* item = this;
  while (item->parent_ != nullptr) item = item->parent_;
  return item->menu_;
}

void TMenuItem::Add(TMenuItem* item) {
  if (item == nullptr || item == this) return;
  if (item->parent_ != nullptr) item->parent_->Remove(item);
  items_.push_back(item);
  item->parent_ = this;
  Rebuild();
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
  Rebuild();
}

void TMenuItem::Click() {
  if (enabled_ && OnClick) OnClick(this);
}

TComponent* TMenuItem::GetParentComponent() const {
  if (parent_ != nullptr && parent_->menu_ != nullptr) return parent_->menu_;
  return parent_;
}

bool TMenuItem::SetParentComponent(TComponent* parent) {
  if (auto* menu = dynamic_cast<TMainMenu*>(parent)) {
    menu->Items().Add(this);
    return true;
  }
  if (auto* item = dynamic_cast<TMenuItem*>(parent)) {
    item->Add(this);
    return true;
  }
  return false;
}

std::vector<TComponent*> TMenuItem::GetChildren(const TComponent& root) const {
  std::vector<TComponent*> result;
  for (TMenuItem* item : items_)
    if (item->Owner() == &root) result.push_back(item);
  return result;
}

QAction* TMenuItem::Action() const { return action_->action.data(); }

void TMenuItem::UpdateAction() {
  QAction* action = Action();
  if (action == nullptr) return;
  if (!IsLine()) action->setText(detail::ToQString(caption_));
  action->setEnabled(enabled_);
  action->setVisible(visible_);
  action->setCheckable(checked_);
  action->setChecked(checked_);
}

void TMenuItem::Rebuild() {
  if (TMainMenu* menu = Menu()) menu->RebuildBar();
}

// ---- TMainMenu ----

const TClassInfo& TMainMenu::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TMainMenu>("TMainMenu", &TComponent::StaticClassInfo());
  return info;
}

TMainMenu::TMainMenu()
    : items_(std::make_unique<TMenuItem>()), bar_(std::make_unique<detail::MenuBarRef>()) {
  items_->menu_ = this;
  detail::RegisterStandardClasses();
}

TMainMenu::~TMainMenu() {
  AttachBar(nullptr);
  items_.reset();
}

bool TMainMenu::HasVisibleItems() const {
  for (int i = 0; i < items_->Count(); ++i)
    if (items_->Items(i)->Visible()) return true;
  return false;
}

std::vector<TComponent*> TMainMenu::GetChildren(const TComponent& root) const {
  return items_->GetChildren(root);
}

QMenuBar* TMainMenu::Bar() const { return bar_->bar.data(); }

void TMainMenu::AttachBar(QMenuBar* bar) {
  if (QMenuBar* old = Bar(); old != nullptr && old != bar) {
    bar_->bar = nullptr;
    old->clear();
    qDeleteAll(old->findChildren<QMenu*>(Qt::FindDirectChildrenOnly));
  }
  bar_->bar = bar;
  RebuildBar();
}

namespace {

void BuildInto(QWidget* container, TMenuItem& parent) {
  for (int i = 0; i < parent.Count(); ++i) {
    TMenuItem* item = parent.Items(i);
    QAction* action = nullptr;
    if (item->IsLine()) {
      action = new QAction(container);
      action->setSeparator(true);
      container->addAction(action);
    } else if (item->Count() > 0) {
      auto* submenu = new QMenu(detail::ToQString(item->Caption()), container);
      container->addAction(submenu->menuAction());
      BuildInto(submenu, *item);
      action = submenu->menuAction();
    } else {
      action = new QAction(detail::ToQString(item->Caption()), container);
      container->addAction(action);
      QObject::connect(action, &QAction::triggered, action, [item] {
        // Qt toggles a checkable action by itself; the marks are the
        // program's, so put the item's own state back first.
        detail::SyncItemAction(*item);
        CallGuarded(item, [item] { item->Click(); });
      });
    }
    detail::SetItemAction(*item, action);
  }
}

}  // namespace

void TMainMenu::RebuildBar() {
  QMenuBar* bar = Bar();
  if (bar == nullptr) return;
  bar->clear();
  qDeleteAll(bar->findChildren<QMenu*>(Qt::FindDirectChildrenOnly));
  BuildInto(bar, *items_);
}

namespace detail {
void SetItemAction(TMenuItem& item, QAction* action) {
  item.action_->action = action;
  item.UpdateAction();
}
void SyncItemAction(TMenuItem& item) { item.UpdateAction(); }
}  // namespace detail

}  // namespace framework
