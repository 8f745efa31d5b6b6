// The library's own USB cable firmware (firmware/generated/) on the EZ-USB
// model: its identity, its boot from a bare unit, and pin bytes and byte
// streams against the default chain. Skipped while the bench is built
// without the image.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "bench/usb_host.h"

namespace velnor::bench {
namespace {

constexpr std::uint32_t kPipeStreamTdo = 2, kPipePins = 3, kPipeReply = 5;

std::unique_ptr<Board> running_board(const std::string& extra) {
  return velnor::bench::make_board("usb=0:running;trace=on" + extra);
}

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

class UsbFirmware : public ::testing::Test {
 protected:
  void SetUp() override {
    host = std::make_unique<Host>(running_board(""));
    writer = host->open();
    reader = host->open();
    ASSERT_NE(writer, 0u);
    ASSERT_NE(reader, 0u);
  }
  std::unique_ptr<Host> host;
  Handle writer = 0;
  Handle reader = 0;
};

TEST_F(UsbFirmware, PresentsTheLibrarysIdentityAndPipes) {
  std::vector<std::uint8_t> text;
  ASSERT_TRUE(host->string(writer, 1, &text));
  EXPECT_EQ(text, utf16_descriptor("USB_SPI"));
  ASSERT_TRUE(host->string(writer, 2, &text));
  EXPECT_EQ(text, utf16_descriptor("V010"));
  std::vector<std::uint8_t> addresses;
  for (const UsbPipe& pipe : host->device().pipes()) addresses.push_back(pipe.address);
  EXPECT_EQ(addresses, (std::vector<std::uint8_t>{0x01, 0x02, 0x04, 0x06, 0x81, 0x82, 0x84, 0x86}));
  EXPECT_TRUE(host->board->violations().empty());
}

TEST_F(UsbFirmware, PinBytesAndTheTdoStreamReadTheIdcode) {
  host->board->trace().clear();
  // Test-Logic-Reset, Run-Test/Idle, Select-DR, Capture-DR, Shift-DR.
  const std::vector<std::uint8_t> replies = exchange(
      *host, writer, reader, kPipePins, {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04, 0x00, 0x00});
  for (const std::uint8_t reply : replies) EXPECT_EQ(reply & 0x08, 0x08);
  // 32 cycles with TMS low: the first device's IDCODE, first bit in bit 0.
  const std::vector<std::uint8_t> idcode =
      exchange(*host, writer, reader, kPipeStreamTdo, {0, 0, 0, 0});
  const std::uint32_t value = static_cast<std::uint32_t>(
      idcode[0] | idcode[1] << 8 | idcode[2] << 16 | static_cast<std::uint32_t>(idcode[3]) << 24);
  EXPECT_EQ(value, host->board->chain().device(0).idcode());
  EXPECT_EQ(host->board->trace().tms_bits(), "111110100" + std::string(32, '0'));
  EXPECT_TRUE(host->board->violations().empty());
}

TEST_F(UsbFirmware, PowerQueryMakesNoCycle) {
  host->board->trace().clear();
  EXPECT_EQ(exchange(*host, writer, reader, kPipePins, {0x06})[0] & 0x08, 0x08);
  host->board->set_target_powered(false);
  EXPECT_EQ(exchange(*host, writer, reader, kPipePins, {0x06})[0] & 0x08, 0x00);
  EXPECT_EQ(host->board->trace().clock_count(), 0u);
}

TEST(UsbFirmwareBoot, ABareUnitBootsTheImageAsTheLibraryDoes) {
  std::unique_ptr<Board> running = running_board("");
  const std::span<const std::uint8_t> ram = running->usb_device(0)->chip().ram();
  const std::vector<std::uint8_t> image(ram.begin(), ram.begin() + 4096);
  Host host("default");
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
  EXPECT_TRUE(host.board->violations().empty());
}

}  // namespace
}  // namespace velnor::bench
