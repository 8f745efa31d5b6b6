// Printer ports on Linux, through the kernel's ppdev driver: each port is a
// device node (/dev/parportN) whose ioctls read and write the port's data,
// status and control registers, once the node is claimed.
//
// Which node serves the port at an I/O base: 0x378, 0x278 and 0x3BC are
// /dev/parport0, 1 and 2 (the order the kernel usually finds them in), and
// VELNOR_PARPORT_MAP overrides or adds nodes, e.g.
// "0x378=/dev/parport3,0x278=/dev/parport0".
//
// A node is opened on the first access to its port and then stays open and
// claimed, exclusively, until the library unloads: the cable keeps TAP state
// on the data lines, so no other driver may use the port in between. When it
// cannot be opened or claimed, one line on stderr says why, and the port
// reads as absent (every register 0xFF, writes dropped), so the cable's
// detection fails as it does on an empty port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velnor::platform::ppdev {

// VELNOR_PARPORT_MAP's entries: I/O base, device node.
using NodeMap = std::vector<std::pair<std::uint16_t, std::string>>;

// Parses "BASE=NODE[,BASE=NODE...]" (BASE hex, 0x optional); false with the
// offending item in error.
bool parse_node_map(std::string_view text, NodeMap* map, std::string* error);
// The node of the port at base: the map's, else the usual one; empty when
// there is neither.
std::string node_for(const NodeMap& map, std::uint16_t base);
// The line printed when a step ("open", "claim", ...) on a node failed with
// errno error: the reason and what usually helps.
std::string failure_line(const std::string& node, const char* step, int error);

// Register access at an I/O address (base, base + 1 status, base + 2 control).
std::uint8_t port_read(std::uint16_t address);
void port_write(std::uint16_t address, std::uint8_t value);

}  // namespace velnor::platform::ppdev
