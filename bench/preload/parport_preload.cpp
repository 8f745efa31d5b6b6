// libvelnor_parport_preload.so: with LD_PRELOAD, any program that opens
// /dev/parportN reaches the virtual board's printer ports instead (see
// ppdev_model.h for the numbering and the driver's behaviour). Every other
// path and descriptor goes to the C library untouched.
//
// The C library's open family, close and ioctl are replaced; a program
// reaching the kernel another way (fopen, raw system calls) still sees the
// real nodes. A node stands on a real descriptor (on /dev/null) so that
// select, fcntl and close work on it.
//
// Environment:
//   VELNOR_PARPORT_BENCH   the board (same descriptions as VELNOR_BENCH);
//                          unset or empty: the default board. Unless it
//                          says otherwise, the preload adds platform=9x (no
//                          port-I/O grant: the kernel driver stands for it)
//                          and time=real (the program's sleeps are real, and
//                          the PROM's timed operations must see them).
//   VELNOR_PARPORT_TRACE   a file that receives the board's trace at exit
//                          (see trace_text.h); setting it turns the trace on.
//   VELNOR_PARPORT_COUNTS  a file that receives, at exit, the ppdev calls by
//                          request, their total and the TCK cycles.
//   VELNOR_PARPORT_PINS    a file that receives, at exit, each FPGA's DONE
//                          and INIT pins ("fpgaN.done 1", N its place from
//                          TDO), which tell whether a program's configuration
//                          took.
// The board's PROM image is saved at exit when its description asks for it
// (promsave), and the bench's violations (a PROM instruction refused while
// it is busy, for one) go to stderr then, one line each.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "bench/board.h"
#include "bench/spartan2.h"
#include "ppdev_model.h"
#include "trace_text.h"

namespace {

using velnor::bench::Board;
using velnor::bench::PpdevModel;

template <typename Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using CloseFunction = int (*)(int);
using IoctlFunction = int (*)(int, unsigned long, ...);

std::mutex model_mutex;
// Built on the first open of a node and never destroyed: descriptors may
// still be used while the process's destructors run.
Board* board = nullptr;
PpdevModel* model = nullptr;

const char* environment_text(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

PpdevModel& the_model() {
  if (model != nullptr) return *model;
  const char* text = environment_text("VELNOR_PARPORT_BENCH");
  // The kernel driver stands for the port-I/O grant, and the program's
  // sleeps are real: the PROM's timed operations must see them.
  const std::string description =
      velnor::bench::description_with_defaults(text, {"platform=9x", "time=real"});
  std::string error;
  std::unique_ptr<Board> built = Board::parse(description, &error);
  if (!built) {
    std::fprintf(stderr, "velnor parport preload: bad board description: %s\n", error.c_str());
    built = Board::parse("platform=9x;chain=;lpt=", &error);
  }
  if (environment_text("VELNOR_PARPORT_TRACE") != nullptr) built->trace().enable(true);
  board = built.release();
  model = new PpdevModel(*board);
  return *model;
}

// O_CREAT and O_TMPFILE carry a mode argument.
bool takes_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

int open_node(const char* path, int flags) {
  std::lock_guard<std::mutex> lock(model_mutex);
  PpdevModel& ppdev = the_model();
  const std::optional<std::uint16_t> base = ppdev.port_of(path);
  if (!base) {
    errno = ENOENT;
    return -1;
  }
  static const auto real_open = next_definition<OpenFunction>("open");
  const int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
  if (fd >= 0) ppdev.open(fd, *base);
  return fd;
}

bool is_node(const char* path) { return path != nullptr && PpdevModel::is_node(path); }

bool is_node_at(int directory, const char* path) {
  // A relative path names a node only from the current directory.
  return is_node(path) && (path[0] == '/' || directory == AT_FDCWD);
}

bool write_file(const char* path, const std::string& text) {
  std::FILE* file = std::fopen(path, "w");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

std::string counts_text() {
  static const struct {
    unsigned long request;
    const char* name;
  } kRequests[] = {
      {PPCLAIM, "PPCLAIM"},       {PPRELEASE, "PPRELEASE"},   {PPEXCL, "PPEXCL"},
      {PPYIELD, "PPYIELD"},       {PPSETMODE, "PPSETMODE"},   {PPGETMODE, "PPGETMODE"},
      {PPGETMODES, "PPGETMODES"}, {PPSETPHASE, "PPSETPHASE"}, {PPGETPHASE, "PPGETPHASE"},
      {PPSETFLAGS, "PPSETFLAGS"}, {PPGETFLAGS, "PPGETFLAGS"}, {PPNEGOT, "PPNEGOT"},
      {PPDATADIR, "PPDATADIR"},   {PPWDATA, "PPWDATA"},       {PPRDATA, "PPRDATA"},
      {PPRSTATUS, "PPRSTATUS"},   {PPWCONTROL, "PPWCONTROL"}, {PPRCONTROL, "PPRCONTROL"},
      {PPFCONTROL, "PPFCONTROL"}, {PPGETTIME, "PPGETTIME"},   {PPSETTIME, "PPSETTIME"},
  };
  std::string text;
  char line[64];
  for (const auto& request : kRequests) {
    const std::uint64_t count = model->call_count(request.request);
    if (count == 0) continue;
    std::snprintf(line, sizeof line, "%s %" PRIu64 "\n", request.name, count);
    text += line;
  }
  std::snprintf(line, sizeof line, "ioctls %" PRIu64 "\ntck %" PRIu64 "\n", model->call_count(),
                board->chain().cycle_count());
  return text + line;
}

std::string pins_text() {
  std::string text;
  for (std::size_t index = 0; index < board->chain().size(); ++index) {
    const auto* fpga = dynamic_cast<const velnor::bench::Spartan2*>(&board->chain().device(index));
    if (fpga == nullptr) continue;
    const std::string name = "fpga" + std::to_string(index);
    text += name + ".done " + (fpga->done() ? "1\n" : "0\n");
    text += name + ".init " + (fpga->init() ? "1\n" : "0\n");
  }
  return text;
}

// At exit: the PROM image when the description names a file for it, the
// violations, and the files asked for here.
__attribute__((destructor)) void report() {
  std::lock_guard<std::mutex> lock(model_mutex);
  if (model == nullptr) return;
  board->save_prom_image_if_asked();
  for (const std::string& violation : board->violations()) {
    std::fprintf(stderr, "velnor parport preload: violation: %s\n", violation.c_str());
  }
  const struct {
    const char* variable;
    std::string (*text)();
  } kReports[] = {
      {"VELNOR_PARPORT_TRACE", [] { return velnor::bench::trace_text(board->trace()); }},
      {"VELNOR_PARPORT_COUNTS", counts_text},
      {"VELNOR_PARPORT_PINS", pins_text},
  };
  for (const auto& report : kReports) {
    const char* path = environment_text(report.variable);
    if (path != nullptr && !write_file(path, report.text())) {
      std::fprintf(stderr, "velnor parport preload: cannot write %s\n", path);
    }
  }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (takes_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  if (is_node(path)) return open_node(path, flags);
  static const auto real = next_definition<OpenFunction>("open");
  return real(path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (takes_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  if (is_node(path)) return open_node(path, flags);
  static const auto real = next_definition<OpenFunction>("open64");
  return real(path, flags, mode);
}

__attribute__((visibility("default"))) int openat(int directory, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (takes_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  if (is_node_at(directory, path)) return open_node(path, flags);
  static const auto real = next_definition<OpenAtFunction>("openat");
  return real(directory, path, flags, mode);
}

__attribute__((visibility("default"))) int openat64(int directory, const char* path, int flags,
                                                    ...) {
  mode_t mode = 0;
  if (takes_mode(flags)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  if (is_node_at(directory, path)) return open_node(path, flags);
  static const auto real = next_definition<OpenAtFunction>("openat64");
  return real(directory, path, flags, mode);
}

// The checked forms a program built with _FORTIFY_SOURCE calls.
__attribute__((visibility("default"))) int __open_2(const char* path, int flags) {
  if (is_node(path)) return open_node(path, flags);
  static const auto real = next_definition<int (*)(const char*, int)>("__open_2");
  return real(path, flags);
}

__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) {
  if (is_node(path)) return open_node(path, flags);
  static const auto real = next_definition<int (*)(const char*, int)>("__open64_2");
  return real(path, flags);
}

__attribute__((visibility("default"))) int __openat_2(int directory, const char* path, int flags) {
  if (is_node_at(directory, path)) return open_node(path, flags);
  static const auto real = next_definition<int (*)(int, const char*, int)>("__openat_2");
  return real(directory, path, flags);
}

__attribute__((visibility("default"))) int __openat64_2(int directory, const char* path,
                                                        int flags) {
  if (is_node_at(directory, path)) return open_node(path, flags);
  static const auto real = next_definition<int (*)(int, const char*, int)>("__openat64_2");
  return real(directory, path, flags);
}

__attribute__((visibility("default"))) int close(int fd) {
  {
    std::lock_guard<std::mutex> lock(model_mutex);
    if (model != nullptr && model->owns(fd)) model->close(fd);
  }
  static const auto real = next_definition<CloseFunction>("close");
  return real(fd);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  {
    std::lock_guard<std::mutex> lock(model_mutex);
    if (model != nullptr && model->owns(fd)) {
      const int result = model->ioctl(fd, request, argument);
      if (result == 0) return 0;
      errno = -result;
      return -1;
    }
  }
  static const auto real = next_definition<IoctlFunction>("ioctl");
  return real(fd, request, argument);
}

}  // extern "C"
