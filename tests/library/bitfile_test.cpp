// Reading .bit headers: the fields as stored, and every way a header fails;
// and the no-sharing open that bitstream files get.
#include "base/bitfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/platform.h"
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

// The bytes as a source, and what the header reader left of them.
struct MemorySource {
  std::vector<std::uint8_t> bytes;
  std::size_t position = 0;
  ByteSource source() {
    return {[](void* context, std::uint8_t* buffer, std::size_t count) {
              auto* memory = static_cast<MemorySource*>(context);
              const std::size_t n = std::min(count, memory->bytes.size() - memory->position);
              std::memcpy(buffer, memory->bytes.data() + memory->position, n);
              memory->position += n;
              return n;
            },
            this};
  }
};

bool parse(MemorySource& memory, BitFileHeader* header) {
  return read_bitfile_header(memory.source(), header);
}
bool parses(const std::vector<std::uint8_t>& bytes) {
  MemorySource memory{bytes};
  BitFileHeader header;
  return parse(memory, &header);
}

TEST(BitFile, ReadsTheFieldsThenHandsOutTheData) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', "top.ncd");
  add_text(bytes, 'b', "2s200fg256");
  add_text(bytes, 'c', "2007/06/18");
  add_text(bytes, 'd', "09:52:22");
  add_data(bytes, 0x00028C44, {0xFF, 0xFF, 0xAA});
  MemorySource memory{bytes};
  BitFileHeader header;
  ASSERT_TRUE(parse(memory, &header));
  EXPECT_EQ(header.length, 0x00028C44u);
  EXPECT_STREQ(header.design_name, "top.ncd");
  EXPECT_STREQ(header.part_name, "2s200fg256");
  EXPECT_STREQ(header.date, "2007/06/18");
  EXPECT_STREQ(header.time, "09:52:22");
  EXPECT_EQ(memory.position, bytes.size() - 3) << "left at the first data byte";
}

TEST(BitFile, FieldsMayBeMissingRepeatedOrInAnyOrder) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_data(bytes, 4, {1, 2, 3, 4});
  MemorySource bare{bytes};
  BitFileHeader header;
  ASSERT_TRUE(parse(bare, &header));
  EXPECT_STREQ(header.design_name, "");
  EXPECT_STREQ(header.time, "");

  bytes = kPreamble;
  add_text(bytes, 'd', "first");
  add_text(bytes, 'b', "2s50tq144");
  add_text(bytes, 'd', "second");
  add_data(bytes, 0, {});
  MemorySource repeated{bytes};
  ASSERT_TRUE(parse(repeated, &header));
  EXPECT_STREQ(header.time, "second");
  EXPECT_STREQ(header.part_name, "2s50tq144");
}

TEST(BitFile, LongTextIsCutAndTheRestSkipped) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', std::string(100, 'x') + ";UserID=0xFFFFFFFF");
  add_text(bytes, 'b', "2s100tq144");
  add_data(bytes, 1, {0x5A});
  MemorySource memory{bytes};
  BitFileHeader header;
  ASSERT_TRUE(parse(memory, &header));
  EXPECT_EQ(std::string(header.design_name), std::string(63, 'x'));
  EXPECT_STREQ(header.part_name, "2s100tq144");
  EXPECT_EQ(memory.position, bytes.size() - 1);
}

TEST(BitFile, UnknownKeyIsReported) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', "x.ncd");
  bytes.push_back(0x66);
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(parses(bytes));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unknown header ID 66 found\n");
}

TEST(BitFile, ShortHeadersFail) {
  EXPECT_FALSE(parses(kPreamble));
  EXPECT_FALSE(parses({0x00, 0x09, 0x0F}));
  std::vector<std::uint8_t> bytes = kPreamble;
  add_text(bytes, 'a', "cut");
  bytes.resize(bytes.size() - 2);
  EXPECT_FALSE(parses(bytes));
  bytes = kPreamble;
  bytes.insert(bytes.end(), {'e', 0x00, 0x01});
  EXPECT_FALSE(parses(bytes));
}

TEST(BitFile, AnOpenFileIsNotSharedWithAnotherOpener) {
  std::vector<std::uint8_t> bytes = kPreamble;
  add_data(bytes, 0, {});
  TempFile temp(bytes);
  const platform::Handle first = platform::open_file_for_reading(temp.path());
  ASSERT_NE(first, platform::NO_HANDLE);
  EXPECT_EQ(platform::open_file_for_reading(temp.path()), platform::NO_HANDLE);
  platform::close_file(first);
  const platform::Handle again = platform::open_file_for_reading(temp.path());
  EXPECT_NE(again, platform::NO_HANDLE);
  if (again != platform::NO_HANDLE) platform::close_file(again);
}

}  // namespace
}  // namespace velnor::testing
