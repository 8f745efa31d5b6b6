// The kernel's ppdev driver (/dev/parportN) in front of a virtual board's
// printer ports, as a user program sees it through open, ioctl and close.
// The interposer (parport_preload.cpp) routes those calls here; tests drive
// the model directly.
//
// Nodes: the board's ports at 0x378, 0x278 and 0x3BC are /dev/parport0, 1
// and 2. Every other /dev/parportN is missing (ENOENT), so a program under
// the preload never reaches a real port.
//
// What the kernel does, and so the model: open registers nothing; the first
// PPCLAIM registers the opener with the port (exclusively after PPEXCL),
// which fails with ENXIO when an exclusive opener is there already, or when
// an exclusive one is asked for while others are; the port's registers are
// reached only while claimed (EINVAL otherwise); data and status reads and
// writes go to the hardware as they are, nothing inverted; the control
// register keeps a copy in the driver, of which only the four output bits
// are visible. Where the kernel would make PPCLAIM wait for another opener
// to release the port, the model answers EBUSY: a single-threaded program
// would wait forever.
#pragma once

#include <sys/time.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "bench/board.h"

namespace velnor::bench {

class PpdevModel {
 public:
  explicit PpdevModel(Board& board);

  // True for /dev/parportN whatever N: the nodes the model answers for.
  static bool is_node(std::string_view path);
  // The printer-port base behind a node, when the board has that port.
  std::optional<std::uint16_t> port_of(std::string_view path);

  // fd is a real descriptor the caller opened (on /dev/null) to stand for
  // the node; the model only keeps its state.
  void open(int fd, std::uint16_t base);
  bool owns(int fd) const;
  // Releases and unregisters, as the kernel does on the last close.
  void close(int fd);
  // 0, or -errno as the kernel would fail the call.
  int ioctl(int fd, unsigned long request, void* argument);

  // Calls so far: all of them, and those of one ppdev request code.
  std::uint64_t call_count() const;
  std::uint64_t call_count(unsigned long request) const;

 private:
  struct Opener {
    std::uint16_t base = 0;
    bool exclusive = false;  // PPEXCL given
    bool registered = false;
    bool claimed = false;
    int mode = 0;
    int phase = 0;
    int flags = 0;
    timeval timeout{};
  };
  int claim(int fd, Opener& opener);
  int claimed_ioctl(Opener& opener, unsigned long request, void* argument);
  void write_control(std::uint16_t base, std::uint8_t value);

  Board& board_;
  std::vector<std::optional<Opener>> openers_;     // indexed by descriptor
  std::map<std::uint16_t, std::uint8_t> control_;  // the driver's copy, per port
  std::array<std::uint64_t, 32> counts_{};         // by request number - 0x80
  std::uint64_t calls_ = 0;
};

}  // namespace velnor::bench
