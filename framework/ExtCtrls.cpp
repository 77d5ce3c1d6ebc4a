#include "framework/ExtCtrls.h"

#include <QCoreApplication>
#include <QPainter>
#include <QTimer>

#include "framework/Application.h"
#include "framework/QtBridge.h"
#include "framework/view/StandardClasses.h"

namespace framework {

namespace {
const std::vector<std::string> kBevelCutNames = {"bvNone", "bvLowered", "bvRaised", "bvSpace"};

void DrawCut(QPainter& painter, QRect& rect, TBevelCut cut, int width) {
  if (cut == TBevelCut::bvNone) return;
  if (cut != TBevelCut::bvSpace) detail::DrawEdge(painter, rect, cut == TBevelCut::bvRaised, width);
  rect.adjust(width, width, -width, -width);
}
}  // namespace

// ---- TPanel ----

const TClassInfo& TPanel::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TPanel>(
      "TPanel", &TWinControl::StaticClassInfo(), [](PropertyBuilder<TPanel>& p) {
        p.Str("Caption", &TPanel::Caption, &TPanel::SetCaption, "");
        p.Enum<TAlignment>("Alignment", &TPanel::Alignment, &TPanel::SetAlignment, TAlignment::taCenter,
                           {"taLeftJustify", "taRightJustify", "taCenter"});
        p.Enum<TBevelCut>("BevelOuter", &TPanel::BevelOuter, &TPanel::SetBevelOuter, TBevelCut::bvRaised,
                          kBevelCutNames);
        p.Enum<TBevelCut>("BevelInner", &TPanel::BevelInner, &TPanel::SetBevelInner, TBevelCut::bvNone,
                          kBevelCutNames);
        p.Int("BevelWidth", &TPanel::BevelWidth, &TPanel::SetBevelWidth, 1);
        p.Enum<TBorderStyle>("BorderStyle", &TPanel::BorderStyle, &TPanel::SetBorderStyle,
                             TBorderStyle::bsNone, {"bsNone", "bsSingle"});
        p.Int("BorderWidth", &TPanel::BorderWidth, &TPanel::SetBorderWidth, 0);
      });
  return info;
}

TPanel::TPanel() { SetBounds(0, 0, 185, 41); }

void TPanel::SetCaption(const std::string& value) {
  caption_ = value;
  Invalidate();
}
void TPanel::SetAlignment(TAlignment value) {
  alignment_ = value;
  Invalidate();
}
void TPanel::SetBevelOuter(TBevelCut value) {
  bevelOuter_ = value;
  Invalidate();
}
void TPanel::SetBevelInner(TBevelCut value) {
  bevelInner_ = value;
  Invalidate();
}
void TPanel::SetBevelWidth(int value) {
  bevelWidth_ = value < 1 ? 1 : value;
  Invalidate();
}
void TPanel::SetBorderStyle(TBorderStyle value) {
  borderStyle_ = value;
  Invalidate();
}
void TPanel::SetBorderWidth(int value) {
  borderWidth_ = value < 0 ? 0 : value;
  Invalidate();
}

QWidget* TPanel::CreateView(QWidget* parentView) {
  auto* widget = new detail::PaintedWidget(parentView);
  widget->paint = [this, widget](QPainter& painter) {
    QRect r = widget->rect();
    painter.fillRect(r, detail::ToQColor(Color()));
    if (borderStyle_ == TBorderStyle::bsSingle) {
      painter.setPen(detail::ToQColor(clBlack));
      painter.drawRect(r.adjusted(0, 0, -1, -1));
      r.adjust(1, 1, -1, -1);
    }
    DrawCut(painter, r, bevelOuter_, bevelWidth_);
    r.adjust(borderWidth_, borderWidth_, -borderWidth_, -borderWidth_);
    DrawCut(painter, r, bevelInner_, bevelWidth_);
    if (caption_.empty()) return;
    painter.setFont(detail::ToQFont(Font()));
    painter.setPen(detail::ToQColor(Font().Color()));
    int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    flags |= alignment_ == TAlignment::taCenter        ? Qt::AlignHCenter
             : alignment_ == TAlignment::taRightJustify ? Qt::AlignRight
                                                        : Qt::AlignLeft;
    painter.drawText(r, flags, detail::ToQString(caption_));
  };
  return widget;
}

// ---- TBevel ----

const TClassInfo& TBevel::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TBevel>(
      "TBevel", &TControl::StaticClassInfo(), [](PropertyBuilder<TBevel>& p) {
        p.Enum<TBevelShape>("Shape", &TBevel::Shape, &TBevel::SetShape, TBevelShape::bsBox,
                            {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine",
                             "bsSpacer"});
        p.Enum<TBevelStyle>("Style", &TBevel::Style, &TBevel::SetStyle, TBevelStyle::bsLowered,
                            {"bsLowered", "bsRaised"});
      });
  return info;
}

TBevel::TBevel() { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape value) {
  shape_ = value;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle value) {
  style_ = value;
  Invalidate();
}

QWidget* TBevel::CreateView(QWidget* parentView) {
  auto* widget = new detail::PaintedWidget(parentView);
  widget->setAttribute(Qt::WA_TransparentForMouseEvents);
  widget->paint = [this, widget](QPainter& painter) {
    QRect r = widget->rect();
    bool raised = style_ == TBevelStyle::bsRaised;
    QColor first = detail::ToQColor(raised ? clBtnHighlight : clBtnShadow);
    QColor second = detail::ToQColor(raised ? clBtnShadow : clBtnHighlight);
    switch (shape_) {
      case TBevelShape::bsBox: detail::DrawEdge(painter, r, raised, 1); break;
      case TBevelShape::bsFrame:
        painter.setPen(first);
        painter.drawRect(r.adjusted(0, 0, -2, -2));
        painter.setPen(second);
        painter.drawRect(r.adjusted(1, 1, -1, -1));
        break;
      case TBevelShape::bsTopLine:
      case TBevelShape::bsBottomLine: {
        int y = shape_ == TBevelShape::bsTopLine ? 0 : r.bottom() - 1;
        painter.setPen(first);
        painter.drawLine(0, y, r.right(), y);
        painter.setPen(second);
        painter.drawLine(0, y + 1, r.right(), y + 1);
        break;
      }
      case TBevelShape::bsLeftLine:
      case TBevelShape::bsRightLine: {
        int x = shape_ == TBevelShape::bsLeftLine ? 0 : r.right() - 1;
        painter.setPen(first);
        painter.drawLine(x, 0, x, r.bottom());
        painter.setPen(second);
        painter.drawLine(x + 1, 0, x + 1, r.bottom());
        break;
      }
      case TBevelShape::bsSpacer: break;
    }
  };
  return widget;
}

// ---- TTimer ----

const TClassInfo& TTimer::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TTimer>(
      "TTimer", &TComponent::StaticClassInfo(), [](PropertyBuilder<TTimer>& p) {
        p.Bool("Enabled", &TTimer::Enabled, &TTimer::SetEnabled, true);
        p.Int("Interval", &TTimer::Interval, &TTimer::SetInterval, 1000);
        p.Event<void(TObject*)>("OnTimer", &TTimer::SetOnTimer);
      });
  return info;
}

TTimer::TTimer() { detail::RegisterStandardClasses(); }

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateTimer();
}

void TTimer::SetInterval(unsigned value) {
  if (value == interval_) return;
  interval_ = value;
  if (timer_) timer_->stop();
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent value) {
  onTimer_ = std::move(value);
  UpdateTimer();
}

void TTimer::Loaded() {
  TComponent::Loaded();
  UpdateTimer();
}

void TTimer::Constructed() { UpdateTimer(); }

bool TTimer::Running() const { return timer_ && timer_->isActive(); }

void TTimer::UpdateTimer() {
  bool run = enabled_ && interval_ > 0 && onTimer_ && !IsLoading() && !InConstruction();
  if (!run) {
    if (timer_) timer_->stop();
    return;
  }
  if (QCoreApplication::instance() == nullptr) return;
  if (!timer_) {
    timer_ = std::make_unique<QTimer>();
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { Fire(); });
  }
  // An enabled timer that is running keeps its phase.
  if (timer_->isActive()) return;
  timer_->start(static_cast<int>(interval_ > 0x7FFFFFFFu ? 0x7FFFFFFFu : interval_));
}

void TTimer::Fire() {
  // A timeout already queued when the program disabled the timer must not
  // reach the handler.
  if (!enabled_ || !onTimer_ || !timer_ || !timer_->isActive()) return;
  TNotifyEvent handler = onTimer_;
  CallGuarded(this, [&] { handler(this); });
}

}  // namespace framework
