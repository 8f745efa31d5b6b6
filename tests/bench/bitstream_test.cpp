#include "bench/bitstream.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "bench/spartan2.h"

namespace velnor::bench {
namespace {

std::vector<std::uint32_t> words_of(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint32_t> words(bytes.size() / 4);
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = std::uint32_t{bytes[4 * i]} << 24 | std::uint32_t{bytes[4 * i + 1]} << 16 |
               std::uint32_t{bytes[4 * i + 2]} << 8 | bytes[4 * i + 3];
  }
  return words;
}

std::vector<std::uint32_t> generate(Part part, StartupClock clock = StartupClock::Jtag,
                                    std::uint32_t seed = 1) {
  BitstreamOptions options;
  options.part = part;
  options.startup_clock = clock;
  options.seed = seed;
  return words_of(make_bitstream(options));
}

// Per part: frame length, block 0 with its pad frame (words), the vendor's
// bitstream size, the part name field and the closing CRC, which covers
// only LFRM, the zero frame, START and CTL.
TEST(Bitstream, EveryPart) {
  struct Case {
    Part part;
    int frame_words;
    int block0_words;
    std::size_t bytes;
    const char* name;
    std::uint32_t second_crc;
  };
  const Case cases[] = {{Part::Xc2s15, 7, 5229, 24712, "2s15cs144", 0xA490},
                        {Part::Xc2s30, 9, 9315, 42096, "2s30vq100", 0xC17D},
                        {Part::Xc2s50, 12, 15876, 69900, "2s50tq144", 0xE15A},
                        {Part::Xc2s100, 14, 22554, 97652, "2s100tq144", 0x6B97},
                        {Part::Xc2s150, 16, 30384, 130012, "2s150fg456", 0xE117},
                        {Part::Xc2s200, 18, 39366, 166980, "2s200fg256", 0x38FE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Spartan2Geometry g = spartan2_geometry(c.part);
    EXPECT_EQ(g.frame_words(), c.frame_words);
    EXPECT_EQ(g.frame_words() * (g.block0_frames() + 1), c.block0_words);
    EXPECT_EQ(4 * static_cast<std::size_t>(g.bitstream_words()), c.bytes);
    EXPECT_EQ(bit_file_part_name(c.part), c.name);
    const std::vector<std::uint32_t> w = generate(c.part, StartupClock::Cclk, 7);
    EXPECT_EQ(4 * w.size(), c.bytes);
    EXPECT_EQ(w[w.size() - 5], c.second_crc);
  }
  EXPECT_THROW(spartan2_geometry(Part::Xcf02s), std::invalid_argument);
  EXPECT_THROW(bit_file_part_name(Part::Xcf04s), std::invalid_argument);
  BitstreamOptions options;
  options.part = Part::Xcf01s;
  EXPECT_THROW(make_bitstream(options), std::invalid_argument);
}

TEST(Bitstream, VendorCommandSequence) {
  const std::vector<std::uint32_t> w = generate(Part::Xc2s50);
  const std::uint32_t fl = 12;
  const std::uint32_t block0 = 1323 * fl;
  const std::vector<std::uint32_t> head = {
      0xFFFFFFFF, 0xAA995566, 0x30008001, 7, 0x30016001, fl - 1,
      0x30012001, 0x00A03F2D, 0x3000C001, 0, 0x30008001, 9,
      0x30002001, 0,          0x30008001, 1, 0x30004000, 0x50000000 | block0};
  EXPECT_EQ(std::vector<std::uint32_t>(w.begin(), w.begin() + 18), head);
  std::size_t at = 18 + block0;
  EXPECT_EQ(w[at], 0x30002001u);
  EXPECT_EQ(w[at + 1], 0x02000000u);
  EXPECT_EQ(w[at + 2], 0x30004000u | 65 * fl);
  at += 3 + 65 * fl;
  EXPECT_EQ(w[at], 0x30002001u);
  EXPECT_EQ(w[at + 1], 0x02020000u);
  EXPECT_EQ(w[at + 2], 0x30004000u | 64 * fl);
  at += 3 + 64 * fl;
  EXPECT_EQ(w[at], 0x30000001u);
  EXPECT_EQ(w[at + 1] >> 16, 0u);
  EXPECT_EQ(w[at + 2], 0x30008001u);
  EXPECT_EQ(w[at + 3], 3u);  // LFRM
  EXPECT_EQ(w[at + 4], 0x30004000u | fl);
  at += 5;
  EXPECT_EQ(std::vector<std::uint32_t>(w.begin() + static_cast<std::ptrdiff_t>(at),
                                       w.begin() + static_cast<std::ptrdiff_t>(at + fl)),
            std::vector<std::uint32_t>(fl, 0));
  at += fl;
  const std::vector<std::uint32_t> tail = {0x30008001, 5, 0x3000A001, 0, 0x30000001,
                                           0xE15A,     0, 0,          0, 0};
  EXPECT_EQ(std::vector<std::uint32_t>(w.begin() + static_cast<std::ptrdiff_t>(at), w.end()), tail);
}

TEST(Bitstream, StartupClockInCor) {
  EXPECT_EQ(generate(Part::Xc2s15, StartupClock::Jtag)[7], 0x00A03F2Du);
  EXPECT_EQ(generate(Part::Xc2s15, StartupClock::Cclk)[7], 0x00803F2Du);
  EXPECT_EQ(generate(Part::Xc2s15, StartupClock::User)[7], 0x00903F2Du);
}

TEST(Bitstream, SeedsChangeTheFrames) {
  const std::vector<std::uint32_t> a = generate(Part::Xc2s30, StartupClock::Jtag, 1);
  const std::vector<std::uint32_t> b = generate(Part::Xc2s30, StartupClock::Jtag, 2);
  EXPECT_EQ(generate(Part::Xc2s30, StartupClock::Jtag, 1), a);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_NE(a[18], b[18]);                      // the first frame word
  EXPECT_EQ(a[a.size() - 5], b[b.size() - 5]);  // the closing CRC
}

TEST(Bitstream, FaultsChangeWhatTheySay) {
  const std::vector<std::uint32_t> good = generate(Part::Xc2s15);
  const std::uint32_t fl = 7;
  auto faulty = [](BitstreamOptions options) {
    options.part = Part::Xc2s15;
    return words_of(make_bitstream(options));
  };
  std::vector<std::uint32_t> w = faulty({.wrong_first_crc = true});
  const std::size_t first_crc = good.size() - 14 - fl;  // before LFRM
  ASSERT_EQ(good[first_crc - 1], 0x30000001u);
  EXPECT_EQ(w[first_crc] ^ good[first_crc], 1u);

  w = faulty({.extra_frames = 2});
  EXPECT_EQ(w.size(), good.size() + 2 * fl);
  EXPECT_EQ(w[17], good[17] + 2 * fl);  // the type-2 count
  EXPECT_EQ(faulty({.extra_frames = -3})[17], good[17] - 3 * fl);

  EXPECT_EQ(faulty({.wrong_frame_length = true})[5], fl);
  EXPECT_EQ(good[5], fl - 1);

  w = faulty({.write_to_missing_register = true});
  ASSERT_EQ(w.size(), good.size() + 2);
  EXPECT_EQ(w[10], 0x3001A001u);  // after MASK
  EXPECT_EQ(w[11], 0u);
}

TEST(BitFile, HeaderFieldsAndData) {
  BitFileFields fields;
  fields.design = "ab.ncd";
  fields.part = "2s15cs144";
  fields.date = "2026/01/02";
  fields.time = "03:04:05";
  const std::vector<std::uint8_t> file = make_bit_file({0xDE, 0xAD, 0xBE}, fields);
  std::vector<std::uint8_t> expected = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                        0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
  auto field = [&](char key, const std::string& text) {
    expected.push_back(static_cast<std::uint8_t>(key));
    expected.push_back(0);
    expected.push_back(static_cast<std::uint8_t>(text.size() + 1));
    expected.insert(expected.end(), text.begin(), text.end());
    expected.push_back(0);
  };
  field('a', "ab.ncd");
  field('b', "2s15cs144");
  field('c', "2026/01/02");
  field('d', "03:04:05");
  expected.insert(expected.end(), {'e', 0, 0, 0, 3, 0xDE, 0xAD, 0xBE});
  EXPECT_EQ(file, expected);
  // The default fields name an XC2S200 design; the length takes 4 bytes.
  BitstreamOptions options;
  const std::vector<std::uint8_t> data = make_bitstream(options);
  const std::vector<std::uint8_t> whole = make_bit_file(data, BitFileFields{});
  const std::size_t e = whole.size() - data.size() - 5;
  EXPECT_EQ(whole[e], 'e');
  EXPECT_EQ(whole[e + 2], 0x02);  // 166,980 = 0x00028C44
  EXPECT_EQ(whole[e + 3], 0x8C);
  EXPECT_EQ(whole[e + 4], 0x44);
}

}  // namespace
}  // namespace velnor::bench
