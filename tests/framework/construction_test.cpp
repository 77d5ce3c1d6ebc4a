// A form under construction: nothing calls its handlers before it is whole,
// even when a component runs the event loop while the layout is read (as
// the default exception handler's message box does).
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"

namespace framework {
namespace {

using namespace std::chrono_literals;

// Runs the event loop in its Loaded, long enough for a 1 ms timer loaded
// before it to come due many times over.
class TLoopOnLoad : public TComponent {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TLoopOnLoad>("TLoopOnLoad", &TComponent::StaticClassInfo());
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  void Loaded() override {
    TComponent::Loaded();
    test::PumpFor(30ms);
  }
};

class TLateFieldsForm : public TForm {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TLateFieldsForm>("TLateFieldsForm", &TForm::StaticClassInfo());
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  explicit TLateFieldsForm(bool loopInCreate = false) : loopInCreate_(loopInCreate) {
    BindHandler("FormCreate", &TLateFieldsForm::FormCreate);
    BindHandler("TickTimer", &TLateFieldsForm::TickTimer);
    LoadLayoutText(R"(Form : TLateFieldsForm {
      OnCreate = FormCreate
      Tick : TTimer { Interval = 1 OnTimer = TickTimer }
      Loop : TLoopOnLoad { }
    })");
    test::PumpFor(10ms);  // as a message box in the constructor would
    Tick = &Component<TTimer>("Tick");
  }
  void FormCreate(TObject*) {
    ++creates;
    if (loopInCreate_) test::PumpFor(20ms);
  }
  void TickTimer(TObject*) {
    if (Tick == nullptr || creates == 0) ++early;
    ++ticks;
  }

  TTimer* Tick = nullptr;
  int creates = 0;
  int ticks = 0;
  int early = 0;

 private:
  bool loopInCreate_;
};

TEST(FormConstructionTest, TimersWaitUntilTheFormIsWhole) {
  RegisterClass(TLoopOnLoad::StaticClassInfo());
  for (bool loopInCreate : {false, true}) {
    SCOPED_TRACE(loopInCreate ? "event loop in OnCreate" : "event loop while loading");
    auto form = NewObject<TLateFieldsForm>(loopInCreate);
    EXPECT_EQ(form->creates, 1);
    EXPECT_EQ(form->ticks, 0);
    EXPECT_FALSE(form->InConstruction());
    ASSERT_TRUE(test::PumpUntil([&] { return form->ticks >= 2; }));
    EXPECT_EQ(form->early, 0);
  }
}

TEST(FormConstructionTest, AComponentOfAFormUnderConstructionKnowsIt) {
  TForm form;
  auto* timer = NewComponent<TTimer>(form);
  int ticks = 0;
  timer->SetInterval(1);
  timer->SetOnTimer([&](TObject*) { ++ticks; });
  EXPECT_TRUE(timer->InConstruction());
  EXPECT_FALSE(timer->Running());
  form.AfterConstruction();
  EXPECT_FALSE(timer->InConstruction());
  EXPECT_TRUE(timer->Running());
  ASSERT_TRUE(test::PumpUntil([&] { return ticks >= 1; }));
}

}  // namespace
}  // namespace framework
