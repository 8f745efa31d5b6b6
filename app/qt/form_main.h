// FormMain: the test window. It shows the controls at their fixed places and
// hands every click to the presenter, which decides what the window shows.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "form_presenter.h"
#include "form_view.h"
#include "log_area.h"
#include "velnor_library.h"

namespace moxtest {

class FormMain final : public QWidget, public FormView {
 public:
  explicit FormMain(VelnorLibrary& library);

  void set_enabled(Button button, bool enabled) override;
  void set_marker(Marker marker, std::string_view text) override;
  void paint_pending() override;
  void print_line(std::string_view line) override;
  std::string file_name() const override;
  std::string transmit_text() const override;
  void report_runtime_error(std::string_view message) override;
  void end_program() override;

 private:
  QPushButton* cmd_init_;
  LogArea* picture_log_;
  QPushButton* cmd_config_;
  QPushButton* cmd_spi_xfer_;
  QPushButton* cmd_spi_close_;
  QPushButton* cmd_shutdown_;
  QLabel* label_cf_remain_;
  QLabel* label_spi_remain_;
  QLineEdit* text_spi_txd_;
  QLineEdit* text_filename_;
  QLabel* label1_;
  QPushButton* cmd_end_;
  QLabel* label2_;
  FormPresenter presenter_;
};

}  // namespace moxtest
