// FormMain as a native Windows window: the same presenter as the Qt window,
// with push buttons, edit boxes and static texts of the system's own
// classes and a log area painted by this program.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "form_presenter.h"
#include "form_view.h"
#include "velnor_library.h"

namespace moxtest {

class FormMain final : public FormView {
 public:
  FormMain(HINSTANCE instance, VelnorLibrary& library);
  FormMain(const FormMain&) = delete;
  FormMain& operator=(const FormMain&) = delete;

  HWND window() const { return window_; }

  void set_enabled(Button button, bool enabled) override;
  void set_marker(Marker marker, std::string_view text) override;
  void paint_pending() override;
  void print_line(std::string_view line) override;
  std::string file_name() const override;
  std::string transmit_text() const override;
  void report_runtime_error(std::string_view message) override;
  void end_program() override;

 private:
  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK log_procedure(HWND window, UINT message, WPARAM w, LPARAM l);
  void create_controls(HINSTANCE instance);
  void command(int control);
  void paint_log(HWND log);

  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  HWND cmd_init_ = nullptr, picture_log_ = nullptr, cmd_config_ = nullptr;
  HWND cmd_spi_xfer_ = nullptr, cmd_spi_close_ = nullptr, cmd_shutdown_ = nullptr;
  HWND label_cf_remain_ = nullptr, label_spi_remain_ = nullptr;
  HWND text_spi_txd_ = nullptr, text_filename_ = nullptr, cmd_end_ = nullptr;
  std::vector<std::wstring> log_lines_;
  std::unique_ptr<FormPresenter> presenter_;
  VelnorLibrary& library_;
};

}  // namespace moxtest
