// The one interface between the library and a cable: five operations that
// every cable fills in. Nothing above it knows which cable is in use.
//
// shift clocks bit_count TCK cycles. TDI of cycle i is bit (7 - i % 8) of
// tdi[i / 8] (most significant bit first, zeros when tdi is null); TMS is
// tms for every cycle but the last and tms_last for the last; the TDO the
// chain presents in cycle i lands in bit (i % 8) of tdo[i / 8] (least
// significant bit first), each tdo byte cleared before its first bit.
#pragma once

#include <cstdint>

namespace velnor {

struct CableOps {
  std::int32_t (*max_bits)();
  std::int32_t (*open)(std::uint32_t unit, std::uint32_t rate, char* description);
  std::int32_t (*target_power)();
  void (*close)();
  std::int32_t (*shift)(const std::uint8_t* tdi, std::uint8_t* tdo, std::uint32_t bit_count,
                        int tms, int tms_last);
};

// Every cable's open accepts a description buffer of this size.
constexpr int kCableDescriptionSize = 128;
// Both cables announce the same transfer limit; shift accepts more.
constexpr std::int32_t kCableMaxBits = 0x10000;

// The cable kind of a selector's high half names a cable identifier
// (1 "mox_usb2", 2 "mox_xpar"); null for any other kind.
const char* cable_identifier(std::uint32_t kind);
// The operations of the cable with that identifier; null when none.
const CableOps* cable_ops_named(const char* identifier);

}  // namespace velnor
