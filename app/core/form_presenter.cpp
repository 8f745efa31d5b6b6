#include "form_presenter.h"

#include <array>
#include <string>

#include "log_lines.h"
#include "result_text.h"
#include "transmit_value.h"

namespace moxtest {
namespace {

constexpr std::string_view kStarted = "開始";
constexpr std::string_view kFinished = "終了";
// Every transfer gets fresh zero-filled buffers of this size; only byte 0
// travels.
constexpr std::size_t kTransferBufferSize = 129;
constexpr std::uint8_t kUserChannel = 1;
constexpr std::uint8_t kCloseChannel = 0;

}  // namespace

FormPresenter::FormPresenter(FormView& view, VelnorLibrary& library)
    : view_(view), library_(library) {
  for (const Button button :
       {Button::Config, Button::Shutdown, Button::SpiTransfer, Button::SpiClose})
    view_.set_enabled(button, false);
}

void FormPresenter::report(const std::string& error) {
  view_.report_runtime_error("Run-time error: " + error);
}

void FormPresenter::print_result(const std::string& line, std::uint32_t result) {
  view_.print_line(line);
  if (const auto message = result_message(result)) view_.print_line(*message);
}

void FormPresenter::click_init() {
  const CallResult call = library_.init(kInitCableSelector);
  if (!call.made()) return report(call.runtime_error);
  print_result(result_line(kInitLabel, call.word), call.word);
  if (call.word == VELNOR_OK) {
    view_.set_enabled(Button::Config, true);
    view_.set_enabled(Button::Shutdown, true);
  }
}

void FormPresenter::click_config() {
  const std::string file_name = view_.file_name();
  view_.set_marker(Marker::Configuration, kStarted);
  view_.paint_pending();
  // Configure on this thread: a count of 0 asks for no worker thread.
  std::int32_t count = 0;
  const CallResult call = library_.config(file_name.c_str(), &count);
  if (!call.made()) return report(call.runtime_error);
  view_.set_marker(Marker::Configuration, kFinished);
  print_result(result_line(kConfigLabel, call.word), call.word);
  if (call.word == VELNOR_OK) {
    view_.set_enabled(Button::SpiTransfer, true);
    view_.set_enabled(Button::SpiClose, true);
  }
}

void FormPresenter::click_spi_transfer() {
  std::array<std::uint8_t, kTransferBufferSize> transmit{};
  std::array<std::uint8_t, kTransferBufferSize> receive{};
  const std::string text = view_.transmit_text();
  const auto byte = transmit_byte(text);
  if (!byte) return report("overflow: the transmit value \"" + text + "\" is not within 0 to 255");
  transmit[0] = *byte;
  std::int32_t count = 1;
  view_.set_marker(Marker::Transfer, kStarted);
  view_.paint_pending();
  const CallResult call = library_.spi_xfer(kUserChannel, transmit.data(), receive.data(), &count);
  if (!call.made()) return report(call.runtime_error);
  view_.set_marker(Marker::Transfer, kFinished);
  print_result(transfer_line(transmit[0], receive[0], call.word), call.word);
}

void FormPresenter::click_spi_close() {
  const CallResult call = library_.spi_xfer(kCloseChannel, nullptr, nullptr, nullptr);
  if (!call.made()) return report(call.runtime_error);
  print_result(result_line(kSpiCloseLabel, call.word), call.word);
}

void FormPresenter::click_shutdown() {
  const CallResult call = library_.shutdown();
  if (!call.made()) return report(call.runtime_error);
  print_result(result_line(kShutdownLabel, call.word), call.word);
  view_.set_enabled(Button::SpiTransfer, false);
  view_.set_enabled(Button::SpiClose, false);
}

void FormPresenter::click_end() { view_.end_program(); }

}  // namespace moxtest
