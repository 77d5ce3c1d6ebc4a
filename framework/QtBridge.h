// The framework's private meeting point with Qt: conversions and the few
// widget classes the controls are drawn with. Not for use outside
// framework/.
//
// Thread safety: the window's (GUI) thread only.
#pragma once

#include <QFont>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

#include "framework/Graphics.h"

class QPainter;

namespace framework::detail {

struct ViewRef {
  QPointer<QWidget> widget;
};

// True when a Qt application exists and the caller is on its thread, so
// widgets may be made.
bool HasGui();
// True on the offscreen (or minimal) platform: nobody can see or answer a
// window, so message boxes are not shown.
bool IsHeadless();

QString ToQString(const std::string& text);
std::string FromQString(const QString& text);
QColor ToQColor(TColor color);
QFont ToQFont(const TFont& font);

// A widget drawn by a function (labels, panels, bevels).
class PaintedWidget : public QWidget {
 public:
  explicit PaintedWidget(QWidget* parent) : QWidget(parent) {}
  std::function<void(QPainter&)> paint;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The top-level widget of a form. OnClose decides whether a close request
// (the window manager's or Close()) is accepted.
class FormWidget : public QWidget {
 public:
  FormWidget() : QWidget(nullptr) {}
  std::function<bool()> onClose;
  std::function<void(int width, int height)> onResize;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

// Draws a raised or lowered 3-D edge of the given width inside Rect.
void DrawEdge(QPainter& painter, const QRect& rect, bool raised, int width);

}  // namespace framework::detail
