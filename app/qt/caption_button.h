// A push button whose caption wraps onto more lines when it is wider than the
// button, as the platform's command buttons do: the window's captions were
// sized for a 9-point system font and some are wider than their buttons.
#pragma once

#include <QPushButton>

namespace moxtest {

class CaptionButton final : public QPushButton {
 public:
  CaptionButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace moxtest
