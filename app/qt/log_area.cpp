#include "log_area.h"

#include <QPainter>
#include <algorithm>

namespace moxtest {

LogArea::LogArea(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
  // It takes its place in the tab order, as a drawing surface does.
  setFocusPolicy(Qt::StrongFocus);
}

int LogArea::visible_line_count() const {
  return std::max(1, contentsRect().height() / fontMetrics().lineSpacing());
}

void LogArea::print(const QString& line) {
  lines_.append(line);
  update();
}

void LogArea::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  const QRect area = contentsRect();
  const int spacing = fontMetrics().lineSpacing();
  const int first = std::max<int>(0, static_cast<int>(lines_.size()) - visible_line_count());
  int baseline = area.top() + fontMetrics().ascent();
  for (int line = first; line < lines_.size(); ++line, baseline += spacing)
    painter.drawText(area.left() + 1, baseline, lines_[line]);
}

}  // namespace moxtest
