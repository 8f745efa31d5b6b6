// What velnorctl prints: result words by name, failures, bytes, progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velnor::tools {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The error bits of a result word by name, e.g. "VELNOR_ERR_PROBE".
std::string result_names(std::uint32_t result);
// One line on stderr; returns kExitFailed.
int report_failure(const char* what, std::uint32_t result);
void print_hex(const char* label, const std::uint8_t* bytes, std::size_t count);
void draw_progress(std::uint32_t total, std::int32_t remaining);

// A progress bar on stderr when a person is watching.
struct Progress {
  bool shown;
  std::uint32_t total;
  void update(std::uint32_t done) const;
  void finish() const;
};

}  // namespace velnor::tools
