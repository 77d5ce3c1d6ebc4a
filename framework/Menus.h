// The main menu and its items.
//
// Items form a tree: a TMainMenu holds the top-level items, an item holds
// its submenu's items. The form that read them from its layout owns every
// item; the tree only links them (an item destroyed leaves its parent's
// list).
//
// Check marks belong to the program: a click never checks or unchecks an
// item by itself, the OnClick handler sets Checked. Checking a RadioItem
// unchecks the other radio items of the same GroupIndex in the same
// submenu. A disabled item cannot be clicked. Caption "-" is a separator.
// Clicks from the menu bar run OnClick through the application's guard.
//
// Thread safety: the window's thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Properties.h"

class QAction;
class QMenuBar;
class QWidget;

namespace framework {

class TMainMenu;
class TMenuItem;

namespace detail {
struct ActionRef;
struct MenuBarRef;
void SetItemAction(TMenuItem& item, QAction* action);
void SyncItemAction(TMenuItem& item);
}  // namespace detail

class TMenuItem : public TComponent {
 public:
  TMenuItem();
  ~TMenuItem() override;
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  bool Checked() const { return checked_; }
  void SetChecked(bool value);
  bool RadioItem() const { return radioItem_; }
  void SetRadioItem(bool value);
  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(index); }
  TMenuItem* Parent() const { return parent_; }
  // The menu this item belongs to, or null.
  TMainMenu* Menu() const;
  // Links Item (not owned) at the end of this item's submenu.
  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);
  bool IsLine() const { return caption_ == "-"; }

  // What a click does: raises OnClick when the item is enabled. Exceptions
  // go to the caller.
  virtual void Click();

  TNotifyEvent OnClick;

  TComponent* GetParentComponent() const override;
  bool SetParentComponent(TComponent* parent) override;
  std::vector<TComponent*> GetChildren(const TComponent& root) const override;

  // The Qt action mirroring the item while a menu bar shows it, or null.
  QAction* Action() const;

 private:
  friend class TMainMenu;
  friend void detail::SetItemAction(TMenuItem& item, QAction* action);
  friend void detail::SyncItemAction(TMenuItem& item);
  void UpdateAction();
  void Rebuild();

  std::string caption_;
  bool checked_ = false;
  bool radioItem_ = false;
  int groupIndex_ = 0;
  bool enabled_ = true;
  bool visible_ = true;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TMainMenu* menu_ = nullptr;  // set on the root item only
  std::unique_ptr<detail::ActionRef> action_;
};

class TMainMenu : public TComponent {
 public:
  TMainMenu();
  ~TMainMenu() override;
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // The invisible root item whose submenu is the menu bar.
  TMenuItem& Items() { return *items_; }
  const TMenuItem& Items() const { return *items_; }
  // True when some top-level item is visible (the bar takes room).
  bool HasVisibleItems() const;

  std::vector<TComponent*> GetChildren(const TComponent& root) const override;

  // Builds the bar's menus and actions (the form does this); null detaches.
  void AttachBar(QMenuBar* bar);
  QMenuBar* Bar() const;
  // Rebuilds the bar after the item tree changed.
  void RebuildBar();

 private:
  std::unique_ptr<TMenuItem> items_;
  std::unique_ptr<detail::MenuBarRef> bar_;
};

}  // namespace framework
