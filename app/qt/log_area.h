// The log area: a drawing surface that text lines are printed on, one below
// the other. It is never cleared; once the lines fill it, the oldest scroll
// out of sight at the top. The lines stay readable as text.
#pragma once

#include <QFrame>
#include <QStringList>

namespace moxtest {

class LogArea final : public QFrame {
 public:
  explicit LogArea(QWidget* parent);

  void print(const QString& line);
  const QStringList& lines() const { return lines_; }
  // How many lines fit in the area.
  int visible_line_count() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QStringList lines_;
};

}  // namespace moxtest
