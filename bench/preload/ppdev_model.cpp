#include "ppdev_model.h"

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace velnor::bench {

namespace {

// The usual ISA bases, in the order the kernel numbers ports found there.
constexpr std::uint16_t kNodeBases[] = {0x378, 0x278, 0x3BC};
constexpr std::string_view kNodePrefix = "/dev/parport";

// IEEE 1284 phases (the kernel's enum ieee1284_phase).
constexpr int kForwardIdle = 1;
constexpr int kReverseIdle = 5;

// Control register: the four output lines the driver lets users set, and
// the data-direction bit it drives itself.
constexpr std::uint8_t kControlOutputs = 0x0F;
constexpr std::uint8_t kControlReverse = 0x20;
// What parport_pc leaves in the control register: nINIT and SELECT-IN high.
constexpr std::uint8_t kControlIdle = 0x0C;
// A plain PC port that can turn its data lines round.
constexpr unsigned kPortModes = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE | PARPORT_MODE_SAFEININT;
// The timeout a registered device starts with.
constexpr timeval kDefaultTimeout = {5, 0};

int phase_after_mode(int mode) {
  // The reverse modes start with the peripheral talking.
  return mode == IEEE1284_MODE_NIBBLE || mode == IEEE1284_MODE_BYTE ? kReverseIdle : kForwardIdle;
}

template <typename T>
T in(const void* argument) {
  T value;
  std::memcpy(&value, argument, sizeof value);
  return value;
}

template <typename T>
void out(void* argument, T value) {
  std::memcpy(argument, &value, sizeof value);
}

}  // namespace

PpdevModel::PpdevModel(Board& board) : board_(board) {}

bool PpdevModel::is_node(std::string_view path) {
  if (path.substr(0, kNodePrefix.size()) != kNodePrefix) return false;
  const std::string_view number = path.substr(kNodePrefix.size());
  if (number.empty()) return false;
  for (char c : number) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::optional<std::uint16_t> PpdevModel::port_of(std::string_view path) {
  if (!is_node(path)) return std::nullopt;
  const std::string_view number = path.substr(kNodePrefix.size());
  if (number.size() != 1) return std::nullopt;
  const auto index = static_cast<std::size_t>(number[0] - '0');
  if (index >= std::size(kNodeBases)) return std::nullopt;
  const std::uint16_t base = kNodeBases[index];
  if (board_.printer_port(base) == nullptr) return std::nullopt;
  return base;
}

void PpdevModel::open(int fd, std::uint16_t base) {
  const auto slot = static_cast<std::size_t>(fd);
  if (slot >= openers_.size()) openers_.resize(slot + 1);
  Opener opener;
  opener.base = base;
  opener.mode = IEEE1284_MODE_COMPAT;
  opener.phase = kForwardIdle;
  opener.timeout = kDefaultTimeout;
  openers_[slot] = opener;
  control_.emplace(base, kControlIdle);
}

bool PpdevModel::owns(int fd) const {
  const auto slot = static_cast<std::size_t>(fd);
  return fd >= 0 && slot < openers_.size() && openers_[slot].has_value();
}

void PpdevModel::close(int fd) { openers_[static_cast<std::size_t>(fd)].reset(); }

std::uint64_t PpdevModel::call_count() const { return calls_; }

std::uint64_t PpdevModel::call_count(unsigned long request) const {
  const unsigned number = _IOC_NR(request);
  if (_IOC_TYPE(request) != PP_IOCTL || number < 0x80 || number - 0x80 >= counts_.size()) return 0;
  return counts_[number - 0x80];
}

int PpdevModel::ioctl(int fd, unsigned long request, void* argument) {
  Opener& opener = *openers_[static_cast<std::size_t>(fd)];
  ++calls_;
  const unsigned number = _IOC_NR(request);
  if (_IOC_TYPE(request) == PP_IOCTL && number >= 0x80 && number - 0x80 < counts_.size()) {
    ++counts_[number - 0x80];
  }
  // These touch only the driver's record of the opener, claimed or not.
  switch (request) {
    case PPCLAIM:
      return claim(fd, opener);
    case PPEXCL:
      // Too late once registered, unless it was exclusive already.
      if (opener.registered) return opener.exclusive ? 0 : -EINVAL;
      opener.exclusive = true;
      return 0;
    case PPSETMODE:
      opener.mode = in<int>(argument);
      opener.phase = phase_after_mode(opener.mode);
      return 0;
    case PPGETMODE:
      out(argument, opener.mode);
      return 0;
    case PPSETPHASE:
      opener.phase = in<int>(argument);
      return 0;
    case PPGETPHASE:
      out(argument, opener.phase);
      return 0;
    case PPGETMODES:
      out(argument, kPortModes);
      return 0;
    case PPSETFLAGS:
      opener.flags = in<int>(argument) & PP_FLAGMASK;
      return 0;
    case PPGETFLAGS:
      out(argument, opener.flags);
      return 0;
    default:
      break;
  }
  if (!opener.claimed) return -EINVAL;
  return claimed_ioctl(opener, request, argument);
}

int PpdevModel::claim(int fd, Opener& opener) {
  if (opener.claimed) return -EINVAL;
  auto others_on_port = [&](auto test) {
    for (std::size_t slot = 0; slot < openers_.size(); ++slot) {
      const std::optional<Opener>& other = openers_[slot];
      if (static_cast<int>(slot) != fd && other && other->base == opener.base && test(*other)) {
        return true;
      }
    }
    return false;
  };
  if (!opener.registered) {
    if (others_on_port([&](const Opener& other) {
          return other.registered && (opener.exclusive || other.exclusive);
        })) {
      return -ENXIO;
    }
    opener.registered = true;
  }
  if (others_on_port([](const Opener& other) { return other.claimed; })) return -EBUSY;
  opener.claimed = true;
  return 0;
}

int PpdevModel::claimed_ioctl(Opener& opener, unsigned long request, void* argument) {
  const std::uint16_t base = opener.base;
  switch (request) {
    case PPRELEASE:
      opener.claimed = false;
      return 0;
    case PPYIELD:
      // Nobody else waits for the port in one process.
      return 0;
    case PPWDATA:
      board_.port_write(base, in<std::uint8_t>(argument));
      return 0;
    case PPRDATA:
      out(argument, board_.port_read(base));
      return 0;
    case PPRSTATUS:
      out(argument, board_.port_read(static_cast<std::uint16_t>(base + 1)));
      return 0;
    case PPRCONTROL:
      // The driver answers from its copy without reading the port.
      out(argument, static_cast<std::uint8_t>(control_[base] & kControlOutputs));
      return 0;
    case PPWCONTROL: {
      const std::uint8_t value = in<std::uint8_t>(argument) & kControlOutputs;
      write_control(base, static_cast<std::uint8_t>((control_[base] & ~kControlOutputs) | value));
      return 0;
    }
    case PPFCONTROL: {
      const auto frob = in<ppdev_frob_struct>(argument);
      const std::uint8_t mask = frob.mask & kControlOutputs;
      write_control(base, static_cast<std::uint8_t>((control_[base] & ~mask) | (frob.val & mask)));
      return 0;
    }
    case PPDATADIR: {
      const std::uint8_t control = control_[base];
      write_control(base,
                    static_cast<std::uint8_t>(in<int>(argument) != 0 ? control | kControlReverse
                                                                     : control & ~kControlReverse));
      return 0;
    }
    case PPNEGOT:
      // Compatibility mode needs no handshake; the cable answers no other.
      if (in<int>(argument) != IEEE1284_MODE_COMPAT) return -EIO;
      opener.mode = IEEE1284_MODE_COMPAT;
      return 0;
    case PPGETTIME:
      out(argument, opener.timeout);
      return 0;
    case PPSETTIME: {
      const auto timeout = in<timeval>(argument);
      if (timeout.tv_sec < 0 || timeout.tv_usec < 0 ||
          (timeout.tv_sec == 0 && timeout.tv_usec == 0)) {
        return -EINVAL;
      }
      opener.timeout = timeout;
      return 0;
    }
    default:
      return -EINVAL;
  }
}

void PpdevModel::write_control(std::uint16_t base, std::uint8_t value) {
  control_[base] = value;
  board_.port_write(static_cast<std::uint16_t>(base + 2), value);
}

}  // namespace velnor::bench
