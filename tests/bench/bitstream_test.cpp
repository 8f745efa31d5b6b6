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

constexpr Part kParts[] = {Part::Xc2s15,  Part::Xc2s30,  Part::Xc2s50,
                           Part::Xc2s100, Part::Xc2s150, Part::Xc2s200};

TEST(Bitstream, SizesOfEveryPart) {
  const int bytes[] = {24712, 42096, 69900, 97652, 130012, 166980};
  for (std::size_t i = 0; i < std::size(kParts); ++i) {
    BitstreamOptions options;
    options.part = kParts[i];
    EXPECT_EQ(make_bitstream(options).size(), static_cast<std::size_t>(bytes[i]))
        << bit_file_part_name(kParts[i]);
  }
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

TEST(Bitstream, SecondCrcOfEveryPart) {
  const std::uint32_t expected[] = {0xA490, 0xC17D, 0xE15A, 0x6B97, 0xE117, 0x38FE};
  for (std::size_t i = 0; i < std::size(kParts); ++i) {
    const std::vector<std::uint32_t> w = generate(kParts[i], StartupClock::Cclk, 7);
    EXPECT_EQ(w[w.size() - 5], expected[i]) << bit_file_part_name(kParts[i]);
  }
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
  BitstreamOptions options;
  options.part = Part::Xc2s15;

  options.wrong_first_crc = true;
  std::vector<std::uint32_t> w = words_of(make_bitstream(options));
  const std::size_t first_crc = good.size() - 14 - fl;  // before LFRM
  ASSERT_EQ(good[first_crc - 1], 0x30000001u);
  EXPECT_EQ(w[first_crc] ^ good[first_crc], 1u);

  options = {};
  options.part = Part::Xc2s15;
  options.extra_frames = 2;
  w = words_of(make_bitstream(options));
  EXPECT_EQ(w.size(), good.size() + 2 * fl);
  EXPECT_EQ(w[17], good[17] + 2 * fl);  // the type-2 count
  options.extra_frames = -3;
  w = words_of(make_bitstream(options));
  EXPECT_EQ(w[17], good[17] - 3 * fl);

  options = {};
  options.part = Part::Xc2s15;
  options.wrong_frame_length = true;
  w = words_of(make_bitstream(options));
  EXPECT_EQ(w[5], fl);
  EXPECT_EQ(good[5], fl - 1);

  options = {};
  options.part = Part::Xc2s15;
  options.write_to_missing_register = true;
  w = words_of(make_bitstream(options));
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

TEST(BitFile, PartNames) {
  const char* names[] = {"2s15cs144",  "2s30vq100",  "2s50tq144",
                         "2s100tq144", "2s150fg456", "2s200fg256"};
  for (std::size_t i = 0; i < std::size(kParts); ++i) {
    EXPECT_EQ(bit_file_part_name(kParts[i]), names[i]);
  }
  EXPECT_THROW(bit_file_part_name(Part::Xcf04s), std::invalid_argument);
  BitstreamOptions options;
  options.part = Part::Xcf01s;
  EXPECT_THROW(make_bitstream(options), std::invalid_argument);
}

}  // namespace
}  // namespace velnor::bench
