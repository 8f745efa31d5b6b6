// The library's own USB cable firmware (firmware/generated/) end to end on
// the EZ-USB device model: booted from a bare unit as the library boots it,
// then driven through the driver from two handles. Its behaviour on the
// chip itself is tested in tests/firmware.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "bench/usb_host.h"

namespace velnor::bench {
namespace {

constexpr std::uint32_t kPipeStreamTdo = 2, kPipePins = 3, kPipeReply = 5;

std::vector<std::uint8_t> utf16_descriptor(const std::string& text) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
  for (const char c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

// Sends bytes on a pipe while a second handle reads the replies on pipe 5.
std::vector<std::uint8_t> exchange(Host& host, Handle writer, Handle reader, std::uint32_t pipe,
                                   const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> replies(bytes.size());
  bool read_ok = false;
  std::thread reading([&] { read_ok = host.read(reader, kPipeReply, &replies); });
  EXPECT_TRUE(host.write(writer, pipe, bytes));
  reading.join();
  EXPECT_TRUE(read_ok);
  return replies;
}

TEST(UsbFirmwareBoot, ABareUnitBootsTheImageAsTheLibraryDoes) {
  std::unique_ptr<Board> running = make_board("usb=0:running");
  const std::span<const std::uint8_t> ram = running->usb_device(0)->chip().ram();
  const std::vector<std::uint8_t> image(ram.begin(), ram.begin() + 4096);
  Host host("trace=on");
  host.boot(image);
  host.board->clock().sleep_ms(1500);
  // The library retries every 50 ms; the firmware is back well within.
  Handle h = 0;
  for (int attempt = 0; attempt < 200 && h == 0; ++attempt) {
    h = host.open();
    if (h == 0) host.board->clock().sleep_ms(50);
  }
  ASSERT_NE(h, 0u);
  std::vector<std::uint8_t> text;
  ASSERT_TRUE(host.string(h, 1, &text));
  EXPECT_EQ(text, utf16_descriptor("USB_SPI"));

  // Pin bytes asking for replies and the TDO stream through the driver,
  // replies read on a second handle: Test-Logic-Reset to Shift-DR, then 32
  // cycles with TMS low give the first device's IDCODE, each byte's first
  // bit in bit 7.
  const Handle reader = host.open();
  ASSERT_NE(reader, 0u);
  host.board->trace().clear();
  const std::vector<std::uint8_t> replies =
      exchange(host, h, reader, kPipePins, {0x84, 0x84, 0x84, 0x84, 0x84, 0x80, 0x84, 0x80, 0x80});
  for (const std::uint8_t reply : replies) EXPECT_EQ(reply & 0x08, 0x08);
  const std::vector<std::uint8_t> idcode = exchange(host, h, reader, kPipeStreamTdo, {0, 0, 0, 0});
  std::uint32_t value = 0;
  for (int bit = 0; bit < 32; ++bit) {
    value |= static_cast<std::uint32_t>((idcode[bit / 8] >> (7 - bit % 8)) & 1) << bit;
  }
  EXPECT_EQ(value, host.board->chain().device(0).idcode());
  EXPECT_EQ(host.board->trace().tms_bits(), "111110100" + std::string(32, '0'));
  EXPECT_TRUE(host.board->violations().empty());
}

}  // namespace
}  // namespace velnor::bench
