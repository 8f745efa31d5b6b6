// A view that records what the logic shows, and a library that answers with
// set result words and records how it was called.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "form_view.h"
#include "velnor_library.h"

namespace moxtest::testing {

class RecordingView final : public FormView {
 public:
  void set_enabled(Button button, bool enabled) override { enabled_[button] = enabled; }
  void set_marker(Marker marker, std::string_view text) override {
    markers_[marker] = std::string(text);
    events.push_back("marker " + std::string(text));
  }
  void paint_pending() override { events.emplace_back("paint"); }
  void print_line(std::string_view line) override { lines.emplace_back(line); }
  std::string file_name() const override { return file_name_text; }
  std::string transmit_text() const override { return transmit; }
  void report_runtime_error(std::string_view message) override {
    runtime_errors.emplace_back(message);
  }
  void end_program() override { ++end_requests; }

  bool enabled(Button button) const { return enabled_.at(button); }
  std::string marker(Marker marker) const {
    const auto found = markers_.find(marker);
    return found == markers_.end() ? "" : found->second;
  }

  std::string file_name_text = "velnor.bit";
  std::string transmit = "1";
  std::vector<std::string> lines;
  std::vector<std::string> runtime_errors;
  // Markers set and paints asked for, in order, with the library's calls
  // recorded into the same list by ScriptedLibrary.
  std::vector<std::string> events;
  int end_requests = 0;

 private:
  std::map<Button, bool> enabled_;
  std::map<Marker, std::string> markers_;
};

// Answers every call with `result` (or, when `missing` is set, as if the
// function named there could not be found) and records each call.
class ScriptedLibrary final : public VelnorLibrary {
 public:
  explicit ScriptedLibrary(std::vector<std::string>& events) : events_(events) {}

  CallResult init(std::uint32_t selector) override {
    init_selector = selector;
    return answer("init");
  }
  CallResult free() override { return answer("free"); }
  CallResult check_daisychain() override { return answer("check_daisychain"); }
  CallResult get_status(std::uint32_t*, std::uint32_t*, std::uint32_t*) override {
    return answer("get_status");
  }
  CallResult shutdown() override { return answer("shutdown"); }
  CallResult config(const void* source, std::int32_t* count) override {
    config_source = static_cast<const char*>(source);
    config_count = count != nullptr ? *count : -1;
    return answer("config");
  }
  CallResult spi_xfer(std::uint8_t channel, const std::uint8_t* transmit, std::uint8_t* receive,
                      std::int32_t* count) override;
  CallResult jmem_access(std::uint8_t, std::uint32_t, std::uint8_t*, std::uint32_t) override {
    return answer("jmem_access");
  }

  std::uint32_t result = 0;
  std::string missing;
  std::uint8_t receive_byte = 0;
  bool writes_receive_byte = true;

  std::vector<std::string> calls;
  std::uint32_t init_selector = 0;
  std::string config_source;
  std::int32_t config_count = 0;
  struct Transfer {
    std::uint8_t channel;
    bool buffers_null;
    std::uint8_t transmit0;
    bool rest_zero;  // every other byte of both 129-byte buffers is 0
    std::int32_t count;
  };
  std::vector<Transfer> transfers;

 private:
  CallResult answer(const std::string& name) {
    calls.push_back(name);
    events_.push_back("call " + name);
    if (!missing.empty()) return CallResult{0, missing};
    return CallResult{result, ""};
  }
  std::vector<std::string>& events_;
};

inline CallResult ScriptedLibrary::spi_xfer(std::uint8_t channel, const std::uint8_t* transmit,
                                            std::uint8_t* receive, std::int32_t* count) {
  Transfer transfer{channel, transmit == nullptr && receive == nullptr && count == nullptr, 0, true,
                    count != nullptr ? *count : -1};
  if (transmit != nullptr && receive != nullptr) {
    transfer.transmit0 = transmit[0];
    for (int index = 0; index < 129; ++index)
      transfer.rest_zero =
          transfer.rest_zero && receive[index] == 0 && (index == 0 || transmit[index] == 0);
    if (writes_receive_byte) receive[0] = receive_byte;
  }
  transfers.push_back(transfer);
  return answer("spi_xfer");
}

}  // namespace moxtest::testing
