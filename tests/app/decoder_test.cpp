// The result decoder, the hexadecimal log text and the transmit box's
// text-to-byte conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "log_lines.h"
#include "result_text.h"
#include "transmit_value.h"
#include "velnor.h"

namespace moxtest {
namespace {

TEST(ResultMessage, NamesEverySingleResultBitOfTheTable) {
  const struct {
    std::uint32_t result;
    const char* message;
  } rows[] = {
      {0x80000000u, "  DLL or DeviceDriver error"},
      {0x40000000u, "  Probe error"},
      {0x20000000u, "  JTAG Communication error"},
      {0x10000000u, "  Configration file error"},
      {0x00800000u, "  NO Target error"},
      {0x00400000u, "  Target power down"},
      {0x00008000u, "  format error"},
      {0x00000008u, "  device not match"},
      {0x00000004u, "  Can't shutdown"},
      {0x00000002u, "  Can't shutdown"},
      {0x00000001u, "  CRC error"},
  };
  for (const auto& row : rows) {
    const auto message = result_message(row.result);
    ASSERT_TRUE(message.has_value()) << std::hex << row.result;
    EXPECT_EQ(*message, row.message);
  }
}

TEST(ResultMessage, SaysNothingForSuccessCombinedOrUnnamedBits) {
  for (const std::uint32_t result :
       {0u, 0x00800002u, 0xC0000000u, 0x00000006u, 0x00008001u, 0xFFFFFFFFu, VELNOR_BUSY,
        0x00000010u, 0x00001000u, 0x00010000u, 0x01000000u})
    EXPECT_FALSE(result_message(result).has_value()) << std::hex << result;
}

TEST(LogText, HexadecimalIsUpperCaseWithoutLeadingZeros) {
  EXPECT_EQ(hex_text(0), "0");
  EXPECT_EQ(hex_text(0x1), "1");
  EXPECT_EQ(hex_text(0xA5), "A5");
  EXPECT_EQ(hex_text(0x10), "10");
  EXPECT_EQ(hex_text(0x0000ABCD), "ABCD");
  EXPECT_EQ(hex_text(0x40000000), "40000000");
  EXPECT_EQ(hex_text(0xFFFFFFFF), "FFFFFFFF");
}

TEST(LogText, LinesHaveTheirFixedForms) {
  EXPECT_EQ(result_line(kInitLabel, 0x40000000), "INIT : err = 40000000");
  EXPECT_EQ(result_line(kSpiCloseLabel, 0), "SPI close : err = 0");
  EXPECT_EQ(result_line(kShutdownLabel, 2), "Shutdown : err = 2");
  EXPECT_EQ(transfer_line(1, 0xA5, 0), "SPI XFER TXD=1 RXD=A5: err = 0");
  EXPECT_EQ(transfer_line(0xFF, 0, 0x08000000), "SPI XFER TXD=FF RXD=0: err = 8000000");
}

TEST(TransmitValue, ReadsTheLeadingDecimalNumber) {
  EXPECT_EQ(leading_number("255"), 255.0);
  EXPECT_EQ(leading_number("2.6"), 2.6);
  EXPECT_EQ(leading_number("abc"), 0.0);
  EXPECT_EQ(leading_number(""), 0.0);
  EXPECT_EQ(leading_number(" \t7"), 7.0);
  EXPECT_EQ(leading_number("+4"), 4.0);
  EXPECT_EQ(leading_number("-1.5"), -1.5);
  EXPECT_EQ(leading_number("12abc"), 12.0);
  EXPECT_EQ(leading_number(".5"), 0.5);
  EXPECT_EQ(leading_number("7."), 7.0);
  EXPECT_EQ(leading_number("1e2"), 100.0);
  EXPECT_EQ(leading_number("25E-1"), 2.5);
  EXPECT_EQ(leading_number("3e"), 3.0);  // no exponent digits: the exponent is not part of it
  EXPECT_EQ(leading_number("3e+x"), 3.0);
  EXPECT_EQ(leading_number("0x10"), 0.0);
  EXPECT_EQ(leading_number("1,5"), 1.0);
  EXPECT_EQ(leading_number("-"), 0.0);
  EXPECT_EQ(leading_number("."), 0.0);
  EXPECT_EQ(leading_number("1e400"), HUGE_VAL);
  EXPECT_EQ(leading_number("-1e400"), -HUGE_VAL);
  EXPECT_EQ(leading_number("1e-400"), 0.0);
  EXPECT_EQ(leading_number("0.0001e-330"), 0.0);
  EXPECT_EQ(leading_number(std::string(400, '9')), HUGE_VAL);
  EXPECT_EQ(leading_number("1e99999999999999999999"), HUGE_VAL);
  EXPECT_EQ(leading_number("1e-99999999999999999999"), 0.0);
}

TEST(TransmitValue, RoundsToTheNearestByteOrOverflows) {
  const struct {
    const char* text;
    std::optional<std::uint8_t> byte;
  } rows[] = {
      {"255", 0xFF},
      {"abc", 0},
      {"2.6", 3},
      {"256", std::nullopt},
      {"0", 0},
      {"", 0},
      {"2.5", 2},
      {"3.5", 4},
      {"0.5", 0},
      {"254.5", 254},
      {"255.4", 255},
      {"255.5", std::nullopt},
      {"-0.4", 0},
      {"-0.5", 0},
      {"-0.6", std::nullopt},
      {"-1", std::nullopt},
      {"1e2", 100},
      {"1e400", std::nullopt},
      {"1e-400", 0},
      {"99999999999", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(transmit_byte(row.text), row.byte) << row.text;
}

}  // namespace
}  // namespace moxtest
