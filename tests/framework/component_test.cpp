// The component model: ownership and destruction order, names, loading
// state and Loaded order, notifications and Assign.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Layout.h"
#include "framework/Properties.h"

namespace framework {
namespace {

std::vector<std::string>* g_log = nullptr;  // the running test's journal

// Records its life in the journal.
class TLogged : public TComponent {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TLogged>(
        "TLogged", &TComponent::StaticClassInfo(), [](PropertyBuilder<TLogged>& p) {
          p.Int("Value", &TLogged::Value, &TLogged::SetValue, 7);
          p.Reference<TLogged>("Buddy", &TLogged::Buddy, &TLogged::SetBuddy);
        });
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  ~TLogged() override { Log("free " + Name()); }

  int Value() const { return value_; }
  void SetValue(int v) {
    Log("set " + Name() + (IsLoading() ? " loading" : " live"));
    value_ = v;
  }
  TLogged* Buddy() const { return buddy_; }
  void SetBuddy(TLogged* b) { buddy_ = b; }
  void Loaded() override {
    TComponent::Loaded();
    Log("loaded " + Name() + (IsLoading() ? " loading" : "") + (buddy_ ? " buddy=" + buddy_->Name() : ""));
  }
  void Notification(TComponent* c, TOperation op) override {
    if (op == TOperation::opRemove && c == buddy_) buddy_ = nullptr;
  }

 private:
  static void Log(const std::string& s) {
    if (g_log) g_log->push_back(s);
  }
  int value_ = 7;
  TLogged* buddy_ = nullptr;
};

class ComponentTest : public testing::Test {
 protected:
  void SetUp() override {
    g_log = &log;
    RegisterClass(TLogged::StaticClassInfo());
  }
  void TearDown() override { g_log = nullptr; }
  std::vector<std::string> log;
};

TEST_F(ComponentTest, OwnerFreesItsComponentsInReverseOrderOfCreation) {
  {
    auto root = std::make_unique<TLogged>();
    root->SetName("Root");
    for (const char* name : {"A", "B", "C"}) NewComponent<TLogged>(*root)->SetName(name);
    EXPECT_EQ(root->ComponentCount(), 3);
    EXPECT_EQ(root->Components(1)->Owner(), root.get());
  }
  EXPECT_EQ(log, (std::vector<std::string>{"free Root", "free C", "free B", "free A"}));
}

TEST_F(ComponentTest, NamesAreIdentifiersUniqueWithinTheOwner) {
  TComponent root;
  TComponent* a = NewComponent<TLogged>(root);
  a->SetName("Button1");
  TComponent* b = NewComponent<TLogged>(root);
  EXPECT_THROW(b->SetName("button1"), EComponentError);  // case-insensitive
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  b->SetName("Button2");
  EXPECT_EQ(root.FindComponent("BUTTON2"), b);
  EXPECT_EQ(&root.Component<TLogged>("Button1"), a);
  EXPECT_THROW(root.Component<TLogged>("Missing"), EComponentError);
}

TEST_F(ComponentTest, RemovedComponentIsNoLongerReferenced) {
  TComponent root;
  auto* a = NewComponent<TLogged>(root);
  auto* b = NewComponent<TLogged>(root);
  a->SetName("A");
  b->SetName("B");
  a->SetBuddy(b);
  root.DestroyComponent(b);
  EXPECT_EQ(a->Buddy(), nullptr);
  EXPECT_EQ(root.ComponentCount(), 1);
  // Taking a component out hands over its ownership.
  std::unique_ptr<TComponent> taken = root.RemoveComponent(a);
  EXPECT_EQ(taken->Owner(), nullptr);
  EXPECT_EQ(root.ComponentCount(), 0);
}

TEST_F(ComponentTest, LayoutSetsPropertiesWhileLoadingAndCallsLoadedInOrderAfterReferences) {
  TLogged root;
  ReadLayout(R"(Root : TLogged {
    Value = 1
    First : TLogged { Value = 2 Buddy = Second }
    Second : TLogged { Value = 3 }
  })",
             root, "test");
  EXPECT_EQ(log, (std::vector<std::string>{"set Root loading", "set First loading", "set Second loading",
                                           "loaded Root", "loaded First buddy=Second", "loaded Second"}));
  EXPECT_FALSE(root.IsLoading());
  EXPECT_FALSE(root.Component<TLogged>("Second").IsLoading());
  root.SetValue(9);
  EXPECT_EQ(log.back(), "set Root live");
}

TEST_F(ComponentTest, AssignCopiesPublishedPropertiesOnlyBetweenRelatedClasses) {
  TLogged a, b;
  a.SetValue(42);
  a.SetTag(5);
  b.Assign(a);
  EXPECT_EQ(b.Value(), 42);
  EXPECT_EQ(b.Tag(), 5);
  TComponent plain;
  EXPECT_THROW(a.Assign(plain), EComponentError);
}

}  // namespace
}  // namespace framework
