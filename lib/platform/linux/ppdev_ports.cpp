#include "platform/linux/ppdev_ports.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace velnor::platform::ppdev {

namespace {

constexpr std::pair<std::uint16_t, const char*> USUAL_NODES[] = {
    {0x378, "/dev/parport0"},
    {0x278, "/dev/parport1"},
    {0x3BC, "/dev/parport2"},
};

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool parse_base(std::string_view text, std::uint16_t* base) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 4) return false;
  unsigned value = 0;
  for (char c : text) {
    const char lower = static_cast<char>(c | 0x20);
    if (c >= '0' && c <= '9') {
      value = value * 16 + static_cast<unsigned>(c - '0');
    } else if (lower >= 'a' && lower <= 'f') {
      value = value * 16 + static_cast<unsigned>(lower - 'a' + 10);
    } else {
      return false;
    }
  }
  // The three registers must fit below 0x10000.
  if (value > 0xFFFD) return false;
  *base = static_cast<std::uint16_t>(value);
  return true;
}

bool covers(std::uint16_t base, std::uint16_t address) {
  return address >= base && address - base <= 2;
}

// The base whose registers include the address; an address no known port
// covers is taken as a base of its own (the cable touches its base first).
std::uint16_t base_covering(const NodeMap& map, std::uint16_t address) {
  for (const auto& [base, node] : map) {
    if (covers(base, address)) return base;
  }
  for (const auto& [base, node] : USUAL_NODES) {
    if (covers(base, address)) return base;
  }
  return address;
}

// --- Open ports ------------------------------------------------------------------

struct OpenPort {
  std::uint16_t base;
  int fd;  // -1: absent
};

// Published by count so the per-access lookup takes no lock; the slots
// below the count never change until the unload closes them all.
constexpr std::size_t MAX_PORTS = 8;
OpenPort open_ports[MAX_PORTS];
std::atomic<std::size_t> open_count{0};
std::mutex opening;
bool close_registered = false;

const OpenPort* find(std::uint16_t address, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (covers(open_ports[i].base, address)) return &open_ports[i];
  }
  return nullptr;
}

void close_all() {
  std::lock_guard<std::mutex> lock(opening);
  const std::size_t count = open_count.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < count; ++i) {
    if (open_ports[i].fd < 0) continue;
    ::ioctl(open_ports[i].fd, PPRELEASE);
    ::close(open_ports[i].fd);
  }
  open_count.store(0, std::memory_order_release);
  close_registered = false;
}

// The map from the environment, read once; a bad one is reported once and
// leaves every port absent rather than guessing which node was meant.
struct Map {
  bool valid;
  NodeMap nodes;
};
const Map& environment_map() {
  static const Map map = [] {
    Map parsed{true, {}};
    const char* text = std::getenv("VELNOR_PARPORT_MAP");
    std::string error;
    if (text != nullptr && !parse_node_map(text, &parsed.nodes, &error)) {
      std::fprintf(stderr, "velnor: VELNOR_PARPORT_MAP: %s\n", error.c_str());
      parsed.valid = false;
    }
    return parsed;
  }();
  return map;
}

int fail(const std::string& node, const char* step, int error, int fd) {
  std::fprintf(stderr, "%s\n", failure_line(node, step, error).c_str());
  if (fd >= 0) ::close(fd);
  return -1;
}

// Opens and claims the node; -1 after saying why not.
int open_node(const std::string& node) {
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return fail(node, "open", errno, -1);
  int mode = IEEE1284_MODE_COMPAT;
  if (::ioctl(fd, PPEXCL) != 0 || ::ioctl(fd, PPCLAIM) != 0) return fail(node, "claim", errno, fd);
  // Compatibility mode, as a port just claimed by another program may be
  // left in another; the cable is no IEEE 1284 peripheral.
  if (::ioctl(fd, PPSETMODE, &mode) != 0 || ::ioctl(fd, PPNEGOT, &mode) != 0) {
    const int error = errno;
    ::ioctl(fd, PPRELEASE);
    return fail(node, "set compatibility mode on", error, fd);
  }
  if (!close_registered) close_registered = at_unload(close_all);
  return fd;
}

const OpenPort& open_port(std::uint16_t address) {
  static constexpr OpenPort ABSENT = {0, -1};
  std::lock_guard<std::mutex> lock(opening);
  const std::size_t count = open_count.load(std::memory_order_relaxed);
  if (const OpenPort* found = find(address, count)) return *found;
  if (count == MAX_PORTS) return ABSENT;
  const Map& map = environment_map();
  const std::uint16_t base = base_covering(map.nodes, address);
  int fd = -1;
  if (map.valid) {
    const std::string node = node_for(map.nodes, base);
    if (node.empty()) {
      std::fprintf(stderr,
                   "velnor: no device node for the printer port at 0x%04X (name one in "
                   "VELNOR_PARPORT_MAP)\n",
                   base);
    } else {
      fd = open_node(node);
    }
  }
  open_ports[count] = {base, fd};
  open_count.store(count + 1, std::memory_order_release);
  return open_ports[count];
}

const OpenPort& port_at(std::uint16_t address) {
  if (const OpenPort* found = find(address, open_count.load(std::memory_order_acquire))) {
    return *found;
  }
  return open_port(address);
}

}  // namespace

bool parse_node_map(std::string_view text, NodeMap* map, std::string* error) {
  map->clear();
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (item.empty()) continue;
    const std::size_t equals = item.find('=');
    std::uint16_t base = 0;
    if (equals == std::string_view::npos || !parse_base(trim(item.substr(0, equals)), &base) ||
        trim(item.substr(equals + 1)).empty()) {
      *error = "bad item '" + std::string(item) + "' (want BASE=NODE, e.g. 0x378=/dev/parport0)";
      return false;
    }
    map->emplace_back(base, std::string(trim(item.substr(equals + 1))));
  }
  return true;
}

std::string node_for(const NodeMap& map, std::uint16_t base) {
  for (const auto& [mapped, node] : map) {
    if (mapped == base) return node;
  }
  for (const auto& [usual, node] : USUAL_NODES) {
    if (usual == base) return node;
  }
  return {};
}

std::string failure_line(const std::string& node, const char* step, int error) {
  const bool opening_node = std::strcmp(step, "open") == 0;
  const char* hint = nullptr;
  switch (error) {
    case ENOENT:
      hint = "no such node: load the ppdev module, or name the node in VELNOR_PARPORT_MAP";
      break;
    case EACCES:
    case EPERM:
      hint = "join the 'lp' group";
      break;
    case ENXIO:
    case ENODEV:
      hint = opening_node ? "no driver behind the node: load the ppdev module"
                          : "no port behind the node, or another program or a driver such as "
                            "lp uses the port";
      break;
    case EBUSY:
      hint = "another program or a driver such as lp uses the port";
      break;
    case ENOTTY:
    case EINVAL:
      hint = "not a printer-port node";
      break;
    default:
      break;
  }
  std::string line =
      "velnor: cannot " + std::string(step) + " " + node + ": " + std::strerror(error);
  if (hint != nullptr) line += " (" + std::string(hint) + ")";
  return line;
}

std::uint8_t port_read(std::uint16_t address) {
  const OpenPort& port = port_at(address);
  if (port.fd < 0) return 0xFF;
  static constexpr unsigned long READ_REQUESTS[] = {PPRDATA, PPRSTATUS, PPRCONTROL};
  unsigned char value = 0xFF;
  if (::ioctl(port.fd, READ_REQUESTS[address - port.base], &value) != 0) return 0xFF;
  return value;
}

void port_write(std::uint16_t address, std::uint8_t value) {
  const OpenPort& port = port_at(address);
  // The status register takes no writes.
  const unsigned offset = address - port.base;
  if (port.fd < 0 || offset == 1) return;
  unsigned char byte = value;
  ::ioctl(port.fd, offset == 0 ? PPWDATA : PPWCONTROL, &byte);
}

}  // namespace velnor::platform::ppdev
