// libvelnor_ppdev_stub.so: /dev/parport0 for the configuration benchmark
// (LD_PRELOAD), answering each ppdev call as cheaply as it can so that the
// library's own CPU time on its real Linux path can be measured. Writes are
// counted and dropped; reads return, in order, the answers a run on the
// bench gave (VELNOR_PPDEV_STUB_ANSWERS: a file of byte pairs, the register
// offset read and its value), so the library takes the same branches as on
// the bench. Every other path and descriptor goes to the C library.
//
// The benchmark reaches the counters through the functions exported below
// (dlsym in the preloaded process).
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/ioctl.h>
#include <linux/ppdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The Xilinx cable's TCK on data bit 1: a write raising it is one cycle.
constexpr std::uint8_t kTck = 0x02;

int node = -1;  // the descriptor standing for /dev/parport0
std::vector<std::uint8_t> answers;
std::size_t next_answer = 0;
std::uint64_t calls = 0, cycles = 0, faults = 0;
std::uint8_t data = 0;

using IoctlFunction = int (*)(int, unsigned long, ...);
using OpenFunction = int (*)(const char*, int, ...);

template <typename Function>
Function next_definition(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool load_answers() {
  const char* path = std::getenv("VELNOR_PPDEV_STUB_ANSWERS");
  std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
  if (file == nullptr) return false;
  answers.clear();
  std::uint8_t chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    answers.insert(answers.end(), chunk, chunk + got);
  }
  std::fclose(file);
  return answers.size() % 2 == 0;
}

int open_node(const char* path, int flags, mode_t mode, OpenFunction real) {
  if (std::strncmp(path, "/dev/parport", 12) != 0) return real(path, flags, mode);
  if (std::strcmp(path, "/dev/parport0") != 0 || node >= 0 || !load_answers()) {
    errno = ENOENT;
    return -1;
  }
  node = real("/dev/null", O_RDWR | (flags & O_CLOEXEC), 0);
  return node;
}

// A read the recorded run did not make at this point is a fault; the
// benchmark refuses the figures then.
int answer(unsigned offset, void* argument) {
  ++calls;
  if (next_answer + 2 > answers.size() || answers[next_answer] != offset) {
    ++faults;
    *static_cast<std::uint8_t*>(argument) = 0xFF;
    return 0;
  }
  *static_cast<std::uint8_t*>(argument) = answers[next_answer + 1];
  next_answer += 2;
  return 0;
}

// open's third argument is there only when the flags create a file.
mode_t mode_argument(int flags, va_list arguments) {
  const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  return creates ? va_arg(arguments, mode_t) : 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  static const auto real = next_definition<OpenFunction>("open");
  return open_node(path, flags, mode, real);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_argument(flags, arguments);
  va_end(arguments);
  static const auto real = next_definition<OpenFunction>("open64");
  return open_node(path, flags, mode, real);
}

__attribute__((visibility("default"))) int close(int fd) {
  if (fd == node) node = -1;
  static const auto real = next_definition<int (*)(int)>("close");
  return real(fd);
}

// Declared with its one argument rather than as the C library's variadic
// function: on the Linux ABIs a pointer passed as the first variadic
// argument arrives where a third named one would, and the stub saves the
// register spill a va_list needs on every call.
__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request,
                                                 void* argument) noexcept {
  if (fd != node) {
    static const auto real = next_definition<IoctlFunction>("ioctl");
    return real(fd, request, argument);
  }
  switch (request) {
    case PPWDATA: {
      ++calls;
      const std::uint8_t value = *static_cast<const std::uint8_t*>(argument);
      cycles += (value & ~data & kTck) != 0;
      data = value;
      return 0;
    }
    case PPRDATA:
      return answer(0, argument);
    case PPRSTATUS:
      return answer(1, argument);
    default:
      // Claim, mode and control calls: taken, nothing to keep.
      ++calls;
      return 0;
  }
}

// Back to the first recorded answer, for the next run of the same job.
__attribute__((visibility("default"))) void velnor_ppdev_stub_rewind() { next_answer = 0; }

// The node's descriptor (-1 when not open), the calls and TCK cycles so far,
// the reads that found no matching answer, and the answers not yet used.
__attribute__((visibility("default"))) void velnor_ppdev_stub_state(int* fd,
                                                                    std::uint64_t* call_count,
                                                                    std::uint64_t* tck,
                                                                    std::uint64_t* fault_count,
                                                                    std::uint64_t* unused) {
  *fd = node;
  *call_count = calls;
  *tck = cycles;
  *fault_count = faults;
  *unused = (answers.size() - next_answer) / 2;
}

}  // extern "C"
