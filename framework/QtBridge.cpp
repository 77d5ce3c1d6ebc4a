#include "framework/QtBridge.h"

#include <QApplication>
#include <QCloseEvent>
#include <QResizeEvent>
#include <QPainter>
#include <QThread>

namespace framework::detail {

bool HasGui() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool IsHeadless() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return true;
  QString name = QGuiApplication::platformName();
  return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

QString ToQString(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) { return text.toUtf8().toStdString(); }

QColor ToQColor(TColor color) {
  TColor rgb = ColorToRGB(color);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

QFont ToQFont(const TFont& font) {
  // The old bitmap sans face is drawn with its metric-compatible outline
  // twin, which also has the Cyrillic letters.
  QString family = ToQString(font.Name());
  if (family.compare(QLatin1String("MS Sans Serif"), Qt::CaseInsensitive) == 0 ||
      family.compare(QLatin1String("Arial"), Qt::CaseInsensitive) == 0)
    family = QStringLiteral("Liberation Sans");
  QFont result(family);
  result.setPixelSize(font.PixelSize() > 0 ? font.PixelSize() : 11);
  result.setBold(font.Style().Contains(TFontStyle::fsBold));
  result.setItalic(font.Style().Contains(TFontStyle::fsItalic));
  result.setUnderline(font.Style().Contains(TFontStyle::fsUnderline));
  result.setStrikeOut(font.Style().Contains(TFontStyle::fsStrikeOut));
  result.setHintingPreference(QFont::PreferFullHinting);
  return result;
}

void PaintedWidget::paintEvent(QPaintEvent*) {
  if (!paint) return;
  QPainter painter(this);
  paint(painter);
}

void FormWidget::closeEvent(QCloseEvent* event) {
  if (onClose && !onClose())
    event->ignore();
  else
    event->accept();
}

void FormWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (onResize) onResize(event->size().width(), event->size().height());
}

void DrawEdge(QPainter& painter, const QRect& rect, bool raised, int width) {
  QColor light = ToQColor(clBtnHighlight);
  QColor dark = ToQColor(clBtnShadow);
  if (!raised) std::swap(light, dark);
  QRect r = rect;
  for (int i = 0; i < width && r.width() > 1 && r.height() > 1; ++i) {
    painter.setPen(light);
    painter.drawLine(r.left(), r.top(), r.right(), r.top());
    painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
    painter.setPen(dark);
    painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
    r.adjust(1, 1, -1, -1);
  }
}

}  // namespace framework::detail
