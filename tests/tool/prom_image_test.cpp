// Reading PROM images from the files the vendor's tools write.
#include "prom_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace velnor::tools {
namespace {

std::string temp_file(const std::string& name, const std::string& contents) {
  const std::string path = ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(contents.data(), 1, contents.size(), file);
  std::fclose(file);
  return path;
}

using Parser = bool (*)(const std::string&, std::vector<std::uint8_t>*, std::string*);

// The same two data records in each format: FF FF 55 99 at 0, 01 80 at
// 0x10010 (past a 64 KiB boundary).
const char* const kHexLinear =
    ":020000040000FA\n:04000000FFFF559910\n:020000040001F9\n:0200100001806D\n:00000001FF\n";
const char* const kHexSegment =
    ":04000000FFFF559910\n:020000021000EC\n:0200100001806D\n:00000001FF\n";
const char* const kSRecords =
    "S00600004844521B\nS208000000FFFF55990B\nS206010010018067\nS5030002FA\nS804000000FB\n";

TEST(PromFiles, RecordsLandAtTheirAddresses) {
  const struct {
    const char* name;
    Parser parse;
    const char* text;
  } kCases[] = {
      {"Intel HEX, extended linear addresses", parse_intel_hex, kHexLinear},
      {"Intel HEX, extended segment address", parse_intel_hex, kHexSegment},
      {"S-records with a header and a count", parse_s_records, kSRecords},
  };
  for (const auto& c : kCases) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(c.parse(c.text, &bytes, &error)) << c.name << ": " << error;
    ASSERT_EQ(bytes.size(), 0x10012u) << c.name;
    const std::map<std::size_t, std::uint8_t> expected = {
        {0, 0xFF}, {2, 0x55}, {3, 0x99}, {4, 0xFF}, {0x10010, 0x01}, {0x10011, 0x80}};
    for (const auto& [address, byte] : expected) EXPECT_EQ(bytes[address], byte) << c.name;
  }
}

TEST(PromFiles, BrokenRecordsAreRefused) {
  const struct {
    Parser parse;
    const char* text;
    const char* error;
  } kCases[] = {
      {parse_intel_hex, ":04000000FFFF559911\n:00000001FF\n", "line 1: checksum mismatch"},
      {parse_intel_hex, ":04000000FFFF55\n", "line 1 is not an Intel HEX record"},
      {parse_intel_hex, ":04000000FFFF559910\n", "no end record"},
      {parse_intel_hex, ":020000040100F9\n:0100000000FF\n:00000001FF\n",
       "line 2: address past any PROM"},
      {parse_intel_hex, ":020000001122CB\n:02000100334486\n:00000001FF\n",
       "line 2: overlaps an earlier record at 0x1"},
      {parse_s_records, "S208000000FFFF55990C\nS804000000FB\n", "line 1: checksum mismatch"},
      {parse_s_records, "S1040010AA\n", "line 1 is not an S-record"},
      {parse_s_records, "S208000000FFFF55990B\nS5030003F9\nS804000000FB\n",
       "line 2: the count record says 3 data records, not 1"},
      {parse_s_records, "S208000000FFFF55990B\n", "no end record"},
  };
  for (const auto& c : kCases) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(c.parse(c.text, &bytes, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

// The format comes from the contents; only the vendor's record files are
// bit-reversed into bitstream order.
TEST(PromFiles, FormatsAreToldByTheirContents) {
  const std::string bit_header(
      "\x00\x09\x0F\xF0\x0F\xF0\x0F\xF0\x0F\xF0\x00\x00\x01"
      "a\x00\x02x\x00"
      "b\x00\x03p1\x00"
      "e\x00\x00\x00\x06",
      29);
  const struct {
    const char* name;
    std::string contents;
    PromFileFormat format;
    std::vector<std::uint8_t> image;  // empty: refused with `error`
    const char* error;
  } kCases[] = {
      {"image.mcs", kHexLinear, PromFileFormat::Detect, {0xFF, 0xFF, 0xAA, 0x99}, ""},
      {"image.exo", kSRecords, PromFileFormat::Detect, {0xFF, 0xFF, 0xAA, 0x99}, ""},
      {"image.bit",
       bit_header + std::string("\xFF\xFF\xAA\x99\x55\x66", 6),
       PromFileFormat::Detect,
       {0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66},
       ""},
      {"trailing.bit",
       bit_header + std::string("\xFF\xFF\xAA\x99\x55\x66\x00", 7),
       PromFileFormat::Detect,
       {},
       "the header gives 6 bytes of data, the file holds 7"},
      {"short.bit",
       bit_header + std::string("\xFF\xFF", 2),
       PromFileFormat::Detect,
       {},
       "the header gives 6 bytes of data, the file holds 2"},
      {"saved.img",
       std::string("\xFF\xAA\x99\x55\x66", 5),
       PromFileFormat::Detect,
       {0xFF, 0xAA, 0x99, 0x55, 0x66},
       ""},
      {"image.bin", "\x12\x34", PromFileFormat::Detect, {0x12, 0x34}, ""},
      {"notes.txt",
       "\x12\x34",
       PromFileFormat::Detect,
       {},
       "not a bitstream, Intel HEX or S-record file (--format raw programs it as it is)"},
      {"notes.txt", "\x12\x34", PromFileFormat::Raw, {0x12, 0x34}, ""},
  };
  for (const auto& c : kCases) {
    const std::string path = temp_file(c.name, c.contents);
    std::vector<std::uint8_t> image;
    std::string error;
    const bool loaded = load_prom_image(path, c.format, &image, &error);
    std::remove(path.c_str());
    EXPECT_EQ(loaded, !c.image.empty()) << c.name << ": " << error;
    if (c.image.empty()) {
      EXPECT_EQ(error, c.error) << c.name;
    } else {
      image.resize(std::min(image.size(), c.image.size()));
      EXPECT_EQ(image, c.image) << c.name;
    }
  }
}

// A device node or a huge file is refused before any of it is read.
TEST(PromFiles, OnlyRegularFilesOfAPlausibleSizeAreRead) {
  std::vector<std::uint8_t> image;
  std::string error;
  EXPECT_FALSE(load_prom_image("/dev/zero", PromFileFormat::Raw, &image, &error));
  EXPECT_EQ(error, "not a regular file");
  const std::string path = temp_file("huge.bin", "");
  ASSERT_EQ(truncate(path.c_str(), 512l << 20), 0);
  EXPECT_FALSE(load_prom_image(path, PromFileFormat::Raw, &image, &error));
  EXPECT_EQ(error, "536870912 bytes, larger than any PROM file");
  std::remove(path.c_str());
  EXPECT_FALSE(load_prom_image("/nonexistent/image.bin", PromFileFormat::Raw, &image, &error));
  EXPECT_EQ(error, "cannot open the file");
}

TEST(PromFiles, PaddingFillsWholeBlocksWithTheErasedValue) {
  std::vector<std::uint8_t> image = {0x12, 0x34, 0x56};
  pad_to_blocks(&image);
  ASSERT_EQ(image.size(), 512u);
  EXPECT_EQ(image[3], 0xFF);
  EXPECT_EQ(image[511], 0xFF);
  pad_to_blocks(&image);
  EXPECT_EQ(image.size(), 512u);
}

}  // namespace
}  // namespace velnor::tools
