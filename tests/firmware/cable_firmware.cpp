#include "cable_firmware.h"

#include "bench/device.h"
#include "firmware/protocol.h"

namespace velnor::bench {

namespace {
constexpr std::uint16_t kUsbCs = 0x7FD6;
constexpr std::uint8_t kDiscon = 0x08;
constexpr std::uint8_t kRenum = 0x02;
}  // namespace

CableFirmware::CableFirmware() {
  static_assert(sizeof kFirmwareImage == USB_JTAG_IMAGE_SIZE);
  chain.add(make_generic_device(kChainIdcode, 6, 0x01));
  bus.attach(cpu);
  cpu.load(0, std::span(kFirmwareImage, USB_JTAG_DOWNLOAD_SIZE));
  cpu.reset();
  run_until([&] { return (bus.reg(kUsbCs) & (kRenum | kDiscon)) == kRenum; }, 400000);
  cpu.run(1000);  // into the main loop
}

void CableFirmware::stream(std::span<const std::uint8_t> bytes) {
  bus.send(An2131TestBus::Out::Ep2, bytes);
  run_until([&] { return bus.out_armed(An2131TestBus::Out::Ep2); });
}

std::vector<std::uint8_t> CableFirmware::stream_tdo(std::span<const std::uint8_t> bytes) {
  bus.send(An2131TestBus::Out::Ep4, bytes);
  run_until([&] { return bus.reply_armed() && bus.out_armed(An2131TestBus::Out::Ep4); });
  return bus.take_reply();
}

std::vector<std::uint8_t> CableFirmware::pin_bytes(std::span<const std::uint8_t> bytes) {
  bus.send(An2131TestBus::Out::Ep6, bytes);
  run_until([&] { return bus.reply_armed() && bus.out_armed(An2131TestBus::Out::Ep6); });
  return bus.take_reply();
}

void CableFirmware::enter_shift_dr() {
  // Reset, Run-Test/Idle, Select-DR, Capture-DR, Shift-DR.
  const std::uint8_t path[] = {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04, 0x00, 0x00};
  pin_bytes(path);
  ASSERT_EQ(chain.device(0).state(), TapState::ShiftDr);
}

}  // namespace velnor::bench
