#include "cli_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "velnor.h"

namespace velnor::tools {

std::vector<std::string> result_name_list(uint32_t result) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kBits[] = {
      {VELNOR_ERR_DRIVER, "VELNOR_ERR_DRIVER"},
      {VELNOR_ERR_PROBE, "VELNOR_ERR_PROBE"},
      {VELNOR_ERR_JTAG, "VELNOR_ERR_JTAG"},
      {VELNOR_ERR_FILE, "VELNOR_ERR_FILE"},
      {VELNOR_BUSY, "VELNOR_BUSY"},
      {VELNOR_ERR_NO_TARGET, "VELNOR_ERR_NO_TARGET"},
      {VELNOR_ERR_POWER_DOWN, "VELNOR_ERR_POWER_DOWN"},
      {VELNOR_ERR_FORMAT, "VELNOR_ERR_FORMAT"},
      {VELNOR_ERR_DEVICE_MISMATCH, "VELNOR_ERR_DEVICE_MISMATCH"},
      {VELNOR_ERR_SHUTDOWN_A, "VELNOR_ERR_SHUTDOWN_A"},
      {VELNOR_ERR_SHUTDOWN_B, "VELNOR_ERR_SHUTDOWN_B"},
      {VELNOR_ERR_CRC, "VELNOR_ERR_CRC"},
  };
  std::vector<std::string> names;
  for (const auto& entry : kBits) {
    if (result & entry.bit) names.emplace_back(entry.name);
  }
  return names;
}

std::string result_names(uint32_t result) {
  std::string joined;
  for (const std::string& name : result_name_list(result)) {
    if (!joined.empty()) joined += " | ";
    joined += name;
  }
  return joined;
}

int report_failure(const char* what, uint32_t result) {
  std::fflush(stdout);
  std::fprintf(stderr, "velnorctl: %s failed: 0x%08X (%s)\n", what, result,
               result_names(result).c_str());
  return kExitFailed;
}

int report_bad_bitstream(const std::string& path) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  int reason = errno;
  if (file != nullptr) {
    // A folder opens but does not read.
    std::fgetc(file);
    reason = std::ferror(file) ? errno : 0;
    std::fclose(file);
  }
  std::fflush(stdout);
  std::fprintf(stderr, "velnorctl: %s: %s\n", path.c_str(),
               reason != 0 ? std::strerror(reason) : "not a .bit file");
  return kExitFailed;
}

namespace {
std::FILE* report_stream = stdout;
}  // namespace

void set_report_stream(std::FILE* stream) { report_stream = stream; }

void report(const char* format, ...) {
  if (report_stream == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(report_stream, format, arguments);
  va_end(arguments);
}

void print_hex(const char* label, const uint8_t* bytes, std::size_t count) {
  report("%s", label);
  for (std::size_t i = 0; i < count; ++i) report(" %02X", bytes[i]);
  report("\n");
}

void draw_progress(uint32_t total, int32_t remaining) {
  constexpr int kWidth = 40;
  const uint32_t done = total - static_cast<uint32_t>(remaining);
  if (done > total) return;
  const int filled = total == 0 ? kWidth : static_cast<int>(uint64_t{done} * kWidth / total);
  std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(),
               total == 0 ? 100 : static_cast<int>(uint64_t{done} * 100 / total));
}

namespace {
bool progress_shown = true;
}  // namespace

bool progress_wanted() { return progress_shown && isatty(STDERR_FILENO) != 0; }

void set_progress_shown(bool shown) { progress_shown = shown; }

void Progress::update(std::uint32_t done) const {
  if (shown) draw_progress(total, static_cast<std::int32_t>(total - done));
}

void Progress::finish() const {
  if (shown) {
    draw_progress(total, 0);
    std::fprintf(stderr, "\n");
  }
}

}  // namespace velnor::tools
