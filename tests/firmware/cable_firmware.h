// The cable firmware image running on the 8051 core against the test AN2131
// and a one-device JTAG chain, with the host's side of each pipe.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "an2131_test_bus.h"
#include "bench/chain.h"
#include "bench/mcs51.h"

namespace velnor::bench {

inline constexpr std::uint8_t kFirmwareImage[] = {
#include "firmware/generated/usb_jtag_firmware.inc"
};

inline constexpr std::uint32_t kChainIdcode = 0x1234A093;

class CableFirmware : public ::testing::Test {
 protected:
  CableFirmware();
  void TearDown() override { EXPECT_EQ(bus.stray_accesses, 0u); }

  // Runs the firmware until done() holds; fails after budget machine cycles.
  template <typename Done>
  void run_until(Done done, std::uint64_t budget = 200000) {
    const std::uint64_t end = cpu.cycles() + budget;
    while (!done()) {
      ASSERT_LT(cpu.cycles(), end) << "firmware did not get there";
      cpu.run(8);
    }
  }

  // One packet on each pipe, run to completion; the reply when there is one.
  void stream(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> stream_tdo(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> pin_bytes(std::span<const std::uint8_t> bytes);
  // Pin bytes from Test-Logic-Reset to Shift-DR (IDCODE selected).
  void enter_shift_dr();

  Chain chain;
  An2131TestBus bus{chain};
  Mcs51 cpu{bus,
            {.ri_page = Mcs51::RiPage::Mpage,
             .timing = Mcs51::Timing::An2131,
             .shared_code_size = 0x2000}};
};

}  // namespace velnor::bench
