// The real bitstreams in the shared realdata folder (never copied into the
// repository) against the model: each configures its part, single bit
// flips in what the CRC covers do not, and a Spartan-IIE file does not fit
// an XC2S200.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bitstream.h"
#include "bench/board.h"
#include "bench/fpga_driver.h"
#include "bench/spartan2.h"

namespace velnor::bench {
namespace {

using testing::FpgaDriver;

const std::filesystem::path kExamples =
    std::filesystem::path(VELNOR_REALDATA_DIR) / "HattonLe_XessCorp-Tools-CD" / "Examples";

struct BitFile {
  std::string part;                // field b
  std::vector<std::uint8_t> data;  // field e
};

// The .bit container: 13-byte preamble, keyed fields a..d with 2-byte
// lengths, then e with a 4-byte length.
BitFile read_bit_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  BitFile bit;
  std::size_t at = 13;
  while (at < file.size()) {
    const char key = static_cast<char>(file[at]);
    if (key == 'e') {
      const std::size_t length = std::size_t{file[at + 1]} << 24 | std::size_t{file[at + 2]} << 16 |
                                 std::size_t{file[at + 3]} << 8 | file[at + 4];
      bit.data.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 5),
                      file.begin() + static_cast<std::ptrdiff_t>(at + 5 + length));
      break;
    }
    const std::size_t length = std::size_t{file[at + 1]} << 8 | file[at + 2];
    if (key == 'b') {
      bit.part.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 3),
                      file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length));
    }
    at += 3 + length;
  }
  return bit;
}

class RealBitstreams : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kExamples)) {
      GTEST_SKIP() << "no real bitstreams at " << kExamples;
    }
  }
};

struct RealFile {
  const char* path;  // under Examples
  const char* part;  // field b
  const char* chain;
  const char* mode;  // one whose start-up clock runs
};
// The CCLK files need master-serial mode; the JTAG-clocked one runs in any
// mode, slave serial here.
constexpr RealFile kFiles[] = {
    {"XSA/50/test_board/test_board.bit", "2s50tq144", "xc2s50", "master"},
    {"XSA/100/test_board/test_board.bit", "2s100tq144", "xc2s100", "master"},
    {"XSA/100/fintf_jtag/fintf_jtag.bit", "2s100tq144", "xc2s100", "slave"},
    {"XSA/200/test_board/test_board.bit", "2s200fg256", "xc2s200", "master"},
};

struct Result {
  bool done;
  bool crc_error;
  bool user_mode;
  std::uint32_t status;  // as read through CFG_OUT
};

Result configure(const RealFile& file, const std::vector<std::uint8_t>& data) {
  auto board = make_board(std::string("chain=") + file.chain + ";mode=" + file.mode);
  FpgaDriver jtag(board->chain());
  jtag.configure(data);
  const Spartan2& fpga = *board->fpga();
  return {fpga.done(), fpga.crc_error(), fpga.user_mode(), jtag.status()};
}

TEST_F(RealBitstreams, EachConfiguresItsPart) {
  for (const RealFile& file : kFiles) {
    SCOPED_TRACE(file.path);
    const BitFile bit = read_bit_file(kExamples / file.path);
    ASSERT_EQ(bit.part, file.part);
    const Result r = configure(file, bit.data);
    EXPECT_TRUE(r.done);
    EXPECT_FALSE(r.crc_error);
    EXPECT_TRUE(r.user_mode);
    EXPECT_EQ(r.status, 0x6300u | (std::string(file.mode) == "slave" ? 0x1C00 : 0));
  }
}

TEST_F(RealBitstreams, CclkFileNeedsTheSerialMaster) {
  const BitFile bit = read_bit_file(kExamples / kFiles[0].path);
  for (const char* mode : {"slave", "jtag"}) {
    const Result r = configure({"", "", "xc2s50", mode}, bit.data);
    EXPECT_FALSE(r.done) << mode;
    EXPECT_FALSE(r.crc_error) << mode;
  }
}

// Flips in the sync word, in header words (type, operation, register and
// count fields), register values and frame data; not the dummy word, nor the RCRC header
// of a fresh part, nor the trailing zero words, which a real part ignores
// too. XC2S50 layout: block 0 in words 18..15893, the RAM columns behind
// FAR writes at 15894 and 16677, the first CRC at 17448, LFRM at 17450, the
// zero frame from 17453, START 17465, CTL 17467, the closing CRC 17469.
TEST_F(RealBitstreams, SingleBitFlipsFail) {
  const RealFile& file = kFiles[0];
  const BitFile bit = read_bit_file(kExamples / file.path);
  ASSERT_EQ(bit.data.size(), 69900u);
  // Headers, then register values, then frame data.
  const std::pair<std::size_t, int> flips[] = {
      {1, 0},      {4, 13},     {4, 0},     {6, 27},     {8, 29},     {10, 15},    {12, 0},
      {16, 0},     {17, 3},     {17, 30},   {15894, 14}, {15896, 5},  {16679, 9},  {17448, 15},
      {17450, 13}, {17452, 2},  {17465, 1}, {17467, 27}, {17469, 29}, {3, 2},      {5, 0},
      {7, 21},     {7, 15},     {7, 13},    {9, 31},     {11, 0},     {13, 17},    {15, 1},
      {15895, 25}, {16678, 17}, {17449, 4}, {17451, 2},  {17466, 0},  {17468, 0},  {17470, 8},
      {18, 31},    {100, 0},    {5000, 17}, {15893, 7},  {15900, 3},  {16676, 30}, {16700, 12},
      {17447, 0},  {17453, 9},  {17464, 31}};
  for (const auto& [word, bit_number] : flips) {
    std::vector<std::uint8_t> data = bit.data;
    data[4 * word + 3 - static_cast<std::size_t>(bit_number / 8)] ^=
        static_cast<std::uint8_t>(1 << (bit_number % 8));
    const Result r = configure(file, data);
    EXPECT_TRUE(r.crc_error || !r.done) << "word " << word << " bit " << bit_number;
  }
}

TEST_F(RealBitstreams, FlipsInTheOtherFilesFail) {
  for (std::size_t f = 1; f < std::size(kFiles); ++f) {
    const BitFile bit = read_bit_file(kExamples / kFiles[f].path);
    const std::size_t words = bit.data.size() / 4;
    // The FLR value, frame data early and late, START, the closing CRC.
    for (const std::size_t word :
         {std::size_t{5}, std::size_t{40}, words / 2, words - 11, words - 9, words - 5}) {
      std::vector<std::uint8_t> data = bit.data;
      data[4 * word + 3] ^= 1;
      const Result r = configure(kFiles[f], data);
      EXPECT_TRUE(r.crc_error || !r.done) << kFiles[f].path << " word " << word;
    }
  }
}

TEST_F(RealBitstreams, SpartanIIeFileDoesNotFitAnXc2s200) {
  const BitFile bit = read_bit_file(kExamples / "XSB/300e/test_board/test_board.bit");
  ASSERT_EQ(bit.part, "2s300epq208");
  const Result r = configure({"", "", "xc2s200", "master"}, bit.data);
  EXPECT_FALSE(r.done);
  EXPECT_TRUE(r.crc_error);
}

// The generator's CCLK bitstreams are the real files word for word but for
// the frame contents and the first CRC.
TEST_F(RealBitstreams, GeneratorMatchesTheVendorLayout) {
  const std::pair<const char*, Part> cases[] = {
      {"XSA/50/test_board/test_board.bit", Part::Xc2s50},
      {"XSA/100/test_board/test_board.bit", Part::Xc2s100},
      {"XSA/200/test_board/test_board.bit", Part::Xc2s200},
  };
  for (const auto& [path, part] : cases) {
    const BitFile bit = read_bit_file(kExamples / path);
    BitstreamOptions options;
    options.part = part;
    options.startup_clock = StartupClock::Cclk;
    const std::vector<std::uint8_t> generated = make_bitstream(options);
    ASSERT_EQ(generated.size(), bit.data.size()) << path;
    const Spartan2Geometry g = spartan2_geometry(part);
    const std::size_t fl = static_cast<std::size_t>(g.frame_words());
    const std::size_t block0_end = 18 + fl * static_cast<std::size_t>(g.block0_frames() + 1);
    const std::size_t ram0_end = block0_end + 3 + 65 * fl;
    const std::size_t ram1_end = ram0_end + 3 + 64 * fl;
    std::size_t differing_words = 0;
    for (std::size_t i = 0; i < generated.size(); ++i) {
      if (generated[i] == bit.data[i]) continue;
      const std::size_t word = i / 4;
      const bool allowed = (word >= 18 && word < block0_end) ||
                           (word >= block0_end + 3 && word < ram0_end) ||
                           (word >= ram0_end + 3 && word < ram1_end) || word == ram1_end + 1;
      if (!allowed) ++differing_words;
    }
    EXPECT_EQ(differing_words, 0u) << path;
  }
}

}  // namespace
}  // namespace velnor::bench
