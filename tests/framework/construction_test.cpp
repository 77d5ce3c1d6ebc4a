// A form under construction: nothing calls its handlers before it is whole,
// even when a component runs the event loop while the layout is read (as
// the default exception handler's message box does).
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

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

// Fails in its Loaded the way the port component does when it cannot
// open: through the default exception handler, which shows a box.
class TFailOnLoad : public TComponent {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TFailOnLoad>("TFailOnLoad", &TComponent::StaticClassInfo());
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  void Loaded() override {
    TComponent::Loaded();
    CallGuarded(this, [] { throw Exception("Cannot open the port"); });
  }
};

class TBoxOnLoadForm : public TForm {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TBoxOnLoadForm>("TBoxOnLoadForm", &TForm::StaticClassInfo());
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  TBoxOnLoadForm() {
    BindHandler("TickTimer", &TBoxOnLoadForm::TickTimer);
    LoadLayoutText(R"(Form : TBoxOnLoadForm {
      Tick : TTimer { Interval = 1 OnTimer = TickTimer }
      Port : TFailOnLoad { }
    })");
    Tick = &Component<TTimer>("Tick");
  }
  void TickTimer(TObject*) { ticks += Tick != nullptr ? 1 : 1000; }
  TTimer* Tick = nullptr;
  int ticks = 0;
};

// The default handler's own box, on the offscreen platform: its event loop
// runs while the form is being loaded; Enter closes it.
TEST(FormConstructionTest, TheDefaultHandlersBoxWhileLoadingRunsNoHandlerOfTheForm) {
  RegisterClass(TFailOnLoad::StaticClassInfo());
  Application->SetBoxesWhenHeadless(true);
  const int handledBefore = Application->ExceptionCount();
  std::vector<std::string> boxTexts;
  bool nestedBox = false;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    boxTexts.push_back(box->text().toStdString());
    // A failure while the box is open is not stacked on it.
    CallGuarded(nullptr, [] { throw Exception("A second failure"); });
    nestedBox = nestedBox || QApplication::activeModalWidget() != box;
    test::PumpFor(20ms);  // the form's 1 ms timer would come due meanwhile
    QCoreApplication::postEvent(box, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
    QCoreApplication::postEvent(box, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier));
  });
  answer.start(5);
  auto form = NewObject<TBoxOnLoadForm>();
  answer.stop();
  Application->SetBoxesWhenHeadless(false);
  ASSERT_EQ(boxTexts.size(), 1u);
  EXPECT_EQ(boxTexts[0], "Cannot open the port");
  EXPECT_FALSE(nestedBox);
  EXPECT_EQ(Application->ExceptionCount(), handledBefore + 2);
  EXPECT_EQ(form->ticks, 0);
  ASSERT_TRUE(test::PumpUntil([&] { return form->ticks >= 2; }));
  EXPECT_LT(form->ticks, 1000) << "a tick reached the form before its fields were set";
}

}  // namespace
}  // namespace framework
