// The devices the operations work on, and the check every operation starts
// with, shared by the FPGA and the PROM operations: the device selected from
// its remembered chain index, or found by a chain scan.
#pragma once

#include <atomic>
#include <cstdint>

#include "jtag/jtag.h"

namespace velnor {

struct Target {
  Jtag jtag;
  // Chain indices found by the FPGA and PROM target checks; -1 until found.
  // They survive closing and reopening the cable, so later checks only
  // reselect.
  std::int32_t fpga_index = -1;
  std::int32_t prom_index = -1;
  // The user channel whose frame transfers continue (0: none), and the one
  // whose instruction is loaded with Shift-DR entered (0 after a TAP reset
  // or an ended frame). -1: not known since load, configuration or shutdown.
  std::int32_t open_channel = -1;
  std::int32_t loaded_channel = -1;
};

// What a long operation tells whoever started it: that its preliminary steps
// are done and data starts to move.
struct Progress {
  void (*running)(void* context) = nullptr;
  void* context = nullptr;
  void mark_running() const {
    if (running != nullptr) running(context);
  }
};

// Updates the caller's count word, which the caller may read at any time
// while an operation runs on a worker thread.
inline void publish_count(std::int32_t* count, std::int32_t value) {
  std::atomic_ref<std::int32_t>(*count).store(value, std::memory_order_relaxed);
}

// Reselects the device at *remembered when it still answers there with an
// IDCODE that `accepts` takes (read_back reads the same 32 bits the scan
// found). Otherwise senses target power, scans the chain afresh, forgets
// both remembered indices, and takes the first device whose scanned IDCODE
// `accepts`, provided read_back reads the same 32 bits from it; its index
// goes to *remembered. A result word; 0 with the device selected.
std::uint32_t check_device(Target& target, std::int32_t* remembered,
                           bool (*accepts)(std::uint32_t idcode),
                           std::uint32_t (*read_back)(Target& target, std::uint32_t* idcode));

// VELNOR_ERR_POWER_DOWN when the cable senses no target supply,
// VELNOR_ERR_PROBE when it cannot be asked, else 0.
std::uint32_t sense_power(Target& target);

// tap_reset(6), which also closes the frame of an open user channel.
std::uint32_t reset_ending_any_frame(Target& target);

// Reads a 32-bit register of the selected device (TAP reset, instruction,
// one DR scan); the first bit out is bit 0. out may be null.
std::uint32_t read_word(Target& target, std::uint32_t instruction, std::uint32_t ir_length,
                        std::uint32_t* out);

}  // namespace velnor
