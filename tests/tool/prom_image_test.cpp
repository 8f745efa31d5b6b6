// Reading PROM images from the files the vendor's tools write.
#include "prom_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

namespace velnor::tools {
namespace {

std::string temp_file(const std::string& name, const std::string& contents) {
  const std::string path = ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(contents.data(), 1, contents.size(), file);
  std::fclose(file);
  return path;
}

// Two data records, the second past a 64 KiB extended address.
const char* const kHex =
    ":020000040000FA\n"
    ":04000000FFFF559910\n"
    ":020000040001F9\n"
    ":0200100001806D\n"
    ":00000001FF\n";

TEST(IntelHex, PlacesRecordsAtTheirAddressesAndFillsGaps) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(parse_intel_hex(kHex, &bytes, &error)) << error;
  ASSERT_EQ(bytes.size(), 0x10012u);
  EXPECT_EQ(bytes[2], 0x55);
  EXPECT_EQ(bytes[3], 0x99);
  EXPECT_EQ(bytes[4], 0xFF);
  EXPECT_EQ(bytes[0x10010], 0x01);
  EXPECT_EQ(bytes[0x10011], 0x80);
}

TEST(IntelHex, RefusesBrokenFiles) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(parse_intel_hex(":04000000FFFF559911\n:00000001FF\n", &bytes, &error));
  EXPECT_EQ(error, "line 1: checksum mismatch");
  EXPECT_FALSE(parse_intel_hex(":04000000FFFF55\n", &bytes, &error));
  EXPECT_EQ(error, "line 1 is not an Intel HEX record");
  EXPECT_FALSE(parse_intel_hex(":04000000FFFF559910\n", &bytes, &error));
  EXPECT_EQ(error, "no end record");
  EXPECT_FALSE(parse_intel_hex(":020000040100F9\n:0100000000FF\n:00000001FF\n", &bytes, &error));
  EXPECT_EQ(error, "line 2: address past any PROM");
}

TEST(PromImage, McsBytesAreBitReversedIntoBitstreamOrder) {
  const std::string path = temp_file("image.mcs", kHex);
  std::vector<std::uint8_t> image;
  std::string error;
  ASSERT_TRUE(load_prom_image(path, &image, &error)) << error;
  EXPECT_EQ(image[2], 0xAA);
  EXPECT_EQ(image[3], 0x99);
  EXPECT_EQ(image[0x10010], 0x80);
  std::remove(path.c_str());
}

TEST(PromImage, RawFilesAndPadding) {
  const std::string path = temp_file("image.bin", std::string("\x12\x34\x56", 3));
  std::vector<std::uint8_t> image;
  std::string error;
  ASSERT_TRUE(load_prom_image(path, &image, &error));
  EXPECT_EQ(image, (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
  pad_to_blocks(&image);
  ASSERT_EQ(image.size(), 512u);
  EXPECT_EQ(image[3], 0xFF);
  EXPECT_EQ(image[511], 0xFF);
  pad_to_blocks(&image);
  EXPECT_EQ(image.size(), 512u);
  std::remove(path.c_str());
  EXPECT_FALSE(load_prom_image("/nonexistent/image.bin", &image, &error));
  EXPECT_FALSE(load_prom_image("/nonexistent/image.bit", &image, &error));
}

}  // namespace
}  // namespace velnor::tools
