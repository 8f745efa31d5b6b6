// xc3sprog as the oracle for the PROM: it programs an image into the
// virtual XCF02S and velnor reads the same bytes back, and the other way
// round. The PROM's array goes from one program to the next through the
// board's promsave and promimage files. The XCF02S carries version 0: the
// only one velnor accepts for a PROM (xc3sprog matches any version).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "peers/peer_run.h"

namespace {

using velnor::testing::installed;
using velnor::testing::ProgramRun;
using velnor::testing::read_text;
using velnor::testing::run_peer;
using velnor::testing::TempDir;
using velnor::testing::through_preload;
using velnor::testing::velnorctl;
using velnor::testing::write_text;

const std::string kBoard = "chain=xcf02s,xc2s200";
// xc3sprog counts from the cable's TDO end of the chain: the PROM is 1.
const std::string kXc3sprog = "xc3sprog -c dlc5 -p 1 ";
// 32 pages; BIN files hold the bytes in the order velnor's raw images do.
constexpr std::size_t kImageBytes = 16 * 1024;

std::string random_image(unsigned seed) {
  std::mt19937 generator(seed);
  std::string image(kImageBytes, '\0');
  for (char& byte : image) byte = static_cast<char>(generator() & 0xFF);
  return image;
}

// The preload reports the bench's violations on stderr at exit.
void expect_clean_run(const ProgramRun& run) {
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.find("violation"), std::string::npos) << run.output;
}

// xc3sprog erases (polling the status for the 15 s), programs each page
// polling for it, and verifies; velnor then reads what it left.
TEST(PromRoundTrip, Xc3sprogProgramsVelnorReadsBack) {
  if (!installed("xc3sprog")) GTEST_SKIP() << "xc3sprog is not installed";
  TempDir folder;
  const std::string image = random_image(6);
  write_text(folder.path("image.bin"), image);
  const std::string array = folder.path("array");

  const ProgramRun program = run_peer(kBoard + ";promsave=" + array,
                                      kXc3sprog + "-v " + folder.path("image.bin") + ":w:0:BIN");
  expect_clean_run(program);
  EXPECT_NE(program.output.find("Success! Verify time"), std::string::npos) << program.output;

  const ProgramRun read =
      velnorctl(through_preload(kBoard + ";promimage=" + array),
                "--cable lpt prom read " + folder.path("read.bin") + " --length 16384");
  expect_clean_run(read);
  EXPECT_EQ(read_text(folder.path("read.bin")), image);
}

TEST(PromRoundTrip, VelnorProgramsXc3sprogReadsBack) {
  if (!installed("xc3sprog")) GTEST_SKIP() << "xc3sprog is not installed";
  TempDir folder;
  const std::string image = random_image(7);
  write_text(folder.path("image.bin"), image);
  const std::string array = folder.path("array");

  // A fresh board's PROM is blank: no 15-second erase in real time first.
  const ProgramRun program =
      velnorctl(through_preload(kBoard + ";promsave=" + array),
                "--cable lpt prom program " + folder.path("image.bin") + " --no-erase");
  expect_clean_run(program);

  const ProgramRun read = run_peer(kBoard + ";promimage=" + array,
                                   kXc3sprog + folder.path("read.bin") + ":r:0:BIN:16384");
  expect_clean_run(read);
  EXPECT_EQ(read_text(folder.path("read.bin")), image);
}

}  // namespace
