// Panels, bevels and timers.
//
// TTimer fires OnTimer on the thread that made it (the window's thread),
// through its event loop, every Interval milliseconds while Enabled, with
// precise (not coarse) timing:
//   - enabling a timer that is already enabled leaves its running interval
//     alone (it does not restart);
//   - a disabled timer never fires, not even when it was already due;
//   - changing the interval of a running timer restarts it;
//   - an Interval of 0 or no OnTimer handler means it does not run;
//   - while the timer is being loaded it waits for Loaded, and while its
//     form is being constructed it waits for the form to be whole
//     (TComponent::InConstruction): its interval starts then.
// OnTimer runs through the application's guard.
//
// Thread safety: the window's thread only.
#pragma once

#include <memory>
#include <string>

#include "framework/Controls.h"

class QTimer;

namespace framework {

enum class TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum class TBorderStyle { bsNone, bsSingle };

class TPanel : public TWinControl {
 public:
  TPanel();
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value);
  TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut value);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value);

 protected:
  QWidget* CreateView(QWidget* parentView) override;

 private:
  std::string caption_;
  TAlignment alignment_ = TAlignment::taCenter;
  TBevelCut bevelOuter_ = TBevelCut::bvRaised;
  TBevelCut bevelInner_ = TBevelCut::bvNone;
  int bevelWidth_ = 1;
  TBorderStyle borderStyle_ = TBorderStyle::bsNone;
  int borderWidth_ = 0;
};

enum class TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum class TBevelStyle { bsLowered, bsRaised };

class TBevel : public TControl {
 public:
  TBevel();
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  TBevelShape Shape() const { return shape_; }
  void SetShape(TBevelShape value);
  TBevelStyle Style() const { return style_; }
  void SetStyle(TBevelStyle value);

 protected:
  QWidget* CreateView(QWidget* parentView) override;

 private:
  TBevelShape shape_ = TBevelShape::bsBox;
  TBevelStyle style_ = TBevelStyle::bsLowered;
};

class TTimer : public TComponent {
 public:
  TTimer();
  ~TTimer() override;
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned value);
  const TNotifyEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(TNotifyEvent value);

  void Loaded() override;
  void Constructed() override;

  // True while the underlying timer runs (for tests).
  bool Running() const;

 private:
  void UpdateTimer();
  void Fire();

  bool enabled_ = true;
  unsigned interval_ = 1000;
  TNotifyEvent onTimer_;
  std::unique_ptr<QTimer> timer_;
};

}  // namespace framework
