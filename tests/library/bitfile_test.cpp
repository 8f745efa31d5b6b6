// Reading .bit headers: the fields as stored, and every way a header fails.
#include "jtag/bitfile.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_file.h"

namespace velnor::testing {
namespace {

const std::vector<std::uint8_t> kPreamble = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                             0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};

void add_text(std::vector<std::uint8_t>& bytes, char key, const std::string& text) {
  bytes.push_back(static_cast<std::uint8_t>(key));
  const std::size_t length = text.size() + 1;
  bytes.push_back(static_cast<std::uint8_t>(length >> 8));
  bytes.push_back(static_cast<std::uint8_t>(length));
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
}

void add_data(std::vector<std::uint8_t>& bytes, std::uint32_t length,
              const std::vector<std::uint8_t>& data) {
  bytes.push_back('e');
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes.push_back(static_cast<std::uint8_t>(length >> shift));
  bytes.insert(bytes.end(), data.begin(), data.end());
}

TEST(BitFile, ReadsTheFieldsThenHandsOutTheData) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', "top.ncd");
  add_text(bytes, 'b', "2s200fg256");
  add_text(bytes, 'c', "2007/06/18");
  add_text(bytes, 'd', "09:52:22");
  add_data(bytes, 0x00028C44, {0xFF, 0xFF, 0xAA});
  TempFile temp(bytes);
  BitFile* file = bitfile_open(temp.path());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->length, 0x00028C44u);
  EXPECT_STREQ(file->design_name, "top.ncd");
  EXPECT_STREQ(file->part_name, "2s200fg256");
  EXPECT_STREQ(file->date, "2007/06/18");
  EXPECT_STREQ(file->time, "09:52:22");
  EXPECT_EQ(file->preamble[12], 0x01);
  std::uint8_t data[8] = {};
  EXPECT_EQ(bitfile_read(file, data, sizeof data), 3u) << "reads past length are the caller's";
  EXPECT_EQ(data[2], 0xAA);
  EXPECT_EQ(bitfile_read(file, data, sizeof data), 0u);
  bitfile_close(file);
}

TEST(BitFile, FieldsMayBeMissingRepeatedOrInAnyOrder) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_data(bytes, 4, {1, 2, 3, 4});
  TempFile bare(bytes);
  BitFile* file = bitfile_open(bare.path());
  ASSERT_NE(file, nullptr);
  EXPECT_STREQ(file->design_name, "");
  EXPECT_STREQ(file->time, "");
  bitfile_close(file);

  bytes = kPreamble;
  add_text(bytes, 'd', "first");
  add_text(bytes, 'b', "2s50tq144");
  add_text(bytes, 'd', "second");
  add_data(bytes, 0, {});
  TempFile repeated(bytes);
  file = bitfile_open(repeated.path());
  ASSERT_NE(file, nullptr);
  EXPECT_STREQ(file->time, "second");
  EXPECT_STREQ(file->part_name, "2s50tq144");
  bitfile_close(file);
}

TEST(BitFile, LongTextIsCutAndTheRestSkipped) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', std::string(100, 'x') + ";UserID=0xFFFFFFFF");
  add_text(bytes, 'b', "2s100tq144");
  add_data(bytes, 1, {0x5A});
  TempFile temp(bytes);
  BitFile* file = bitfile_open(temp.path());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::string(file->design_name), std::string(63, 'x'));
  EXPECT_STREQ(file->part_name, "2s100tq144");
  std::uint8_t data = 0;
  EXPECT_EQ(bitfile_read(file, &data, 1), 1u);
  EXPECT_EQ(data, 0x5A);
  bitfile_close(file);
}

TEST(BitFile, UnknownKeyIsReported) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', "x.ncd");
  bytes.push_back(0x66);
  TempFile temp(bytes);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(bitfile_open(temp.path()), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unknown header ID 66 found\n");
}

TEST(BitFile, ShortOrMissingFilesFail) {
  TempFile preamble_only(kPreamble);
  EXPECT_EQ(bitfile_open(preamble_only.path()), nullptr);
  TempFile short_preamble({0x00, 0x09, 0x0F});
  EXPECT_EQ(bitfile_open(short_preamble.path()), nullptr);
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', "cut");
  bytes.resize(bytes.size() - 2);
  TempFile cut_text(bytes);
  EXPECT_EQ(bitfile_open(cut_text.path()), nullptr);
  bytes = kPreamble;
  bytes.insert(bytes.end(), {'e', 0x00, 0x01});
  TempFile cut_length(bytes);
  EXPECT_EQ(bitfile_open(cut_length.path()), nullptr);
  EXPECT_EQ(bitfile_open("/nonexistent/velnor.bit"), nullptr);
}

TEST(BitFile, AnOpenFileIsNotSharedWithAnotherOpener) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_data(bytes, 0, {});
  TempFile temp(bytes);
  BitFile* first = bitfile_open(temp.path());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(bitfile_open(temp.path()), nullptr);
  bitfile_close(first);
  BitFile* again = bitfile_open(temp.path());
  EXPECT_NE(again, nullptr);
  if (again != nullptr) bitfile_close(again);
}

}  // namespace
}  // namespace velnor::testing
