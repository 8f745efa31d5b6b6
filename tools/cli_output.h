// What velnorctl prints: result words by name, failures, bytes, progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velnor::tools {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The error bits of a result word by name, e.g. "VELNOR_ERR_PROBE", and
// those names joined by " | ".
std::vector<std::string> result_name_list(std::uint32_t result);
std::string result_names(std::uint32_t result);
// One line on stderr; returns kExitFailed.
int report_failure(const char* what, std::uint32_t result);
// Says on stderr why a file was refused as a bitstream: the system's reason
// when it cannot be read, else that it is not a .bit file. Returns kExitFailed.
int report_bad_bitstream(const std::string& path);
// A command's report (what it found or did): on stdout, or on the stream
// set here; null prints none.
void set_report_stream(std::FILE* stream);
#if defined(__MINGW_PRINTF_FORMAT)
// MinGW's own C99 printf, which knows %zu, rather than msvcrt's.
__attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void report(const char* format, ...);
void print_hex(const char* label, const std::uint8_t* bytes, std::size_t count);
void draw_progress(std::uint32_t total, std::int32_t remaining);

// Progress bars are drawn when a person watches stderr, unless turned off.
bool progress_wanted();
void set_progress_shown(bool shown);

// A progress bar on stderr when a person is watching.
struct Progress {
  bool shown;
  std::uint32_t total;
  void update(std::uint32_t done) const;
  void finish() const;
};

}  // namespace velnor::tools
