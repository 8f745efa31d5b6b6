// The shipped pieces as a user meets them: velnorctl on virtual boards, and
// the shared library loaded by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "velnor.h"

namespace {

struct ToolRun {
  std::string output;
  int status;
};

// Runs velnorctl on the board described, stdout and stderr together.
ToolRun velnorctl(const std::string& board, const std::string& arguments) {
  const std::string command =
      "VELNOR_BENCH='" + board + "' " VELNORCTL_PATH " " + arguments + " 2>&1";
  ToolRun run{"", -1};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 512> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    run.output.append(chunk.data(), got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Velnorctl, ScansTheDefaultBoardThroughTheParallelCable) {
  const ToolRun run = velnorctl("default", "--cable lpt scan");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "2 devices on the chain, nearest TDO first\n"
            "  index  name      IDCODE      IR  capture\n"
            "      0  xcf02s    0xD5045093   8  0x01\n"
            "      1  v200      0x0061C093   5  0x19\n");
}

TEST(Velnorctl, AutomaticCableTriesUsbFirst) {
  const ToolRun run = velnorctl("chain=xc2s50", "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      run.output.rfind("Setup EZ-USB Firmware\n\nCan't found EZ-USB\n1 device on the chain", 0), 0u)
      << run.output;
}

TEST(Velnorctl, ReportsFailuresWithTheResultWord) {
  ToolRun run = velnorctl("lpt=0x378:none", "--cable lpt");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "No Probe\nvelnorctl: opening the cable failed: 0x40000000 (VELNOR_ERR_PROBE)\n");

  run = velnorctl("power=off", "--cable lpt:0x378");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "velnorctl: scan failed: 0x00400000 (VELNOR_ERR_POWER_DOWN)\n");

  run = velnorctl("chain=xc2s50,other:0x12345093:6", "--cable lpt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("      1  (not identified)\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("(VELNOR_ERR_NO_TARGET)"), std::string::npos);
}

TEST(Velnorctl, RejectsBadArguments) {
  EXPECT_EQ(velnorctl("default", "--cable lpt:0x10000").status, 2);
  EXPECT_EQ(velnorctl("default", "--cable serial").status, 2);
  EXPECT_EQ(velnorctl("default", "frobnicate").status, 2);
}

TEST(Velnorctl, BadBoardDescriptionIsReportedAndNothingIsFound) {
  const ToolRun run = velnorctl("chain=xc9999", "--cable lpt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("velnor bench: bad board description:"), std::string::npos)
      << run.output;
}

TEST(SharedLibrary, ExportsOnlyItsCEntryPoints) {
  std::FILE* pipe = popen("nm -D --defined-only " VELNOR_LIBRARY_PATH, "r");
  ASSERT_NE(pipe, nullptr);
  char line[512];
  int exports = 0;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    const std::string symbol = std::string(line).substr(std::string(line).rfind(' ') + 1);
    if (symbol.rfind("velnor_", 0) == 0 || symbol.rfind("jmem_access", 0) == 0) {
      ++exports;
    } else {
      ADD_FAILURE() << "unexpected export " << symbol;
    }
  }
  pclose(pipe);
  EXPECT_GE(exports, 5);
}

// A fresh load: nothing scanned, nothing open.
TEST(SharedLibrary, LoadedByNameStartsClosedAndUnscanned) {
  setenv("VELNOR_BENCH", "default", 0);
  void* library = dlopen(VELNOR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using NoArguments = uint32_t (*)();
  using Scan = uint32_t (*)(int32_t*);
  auto daisychain = reinterpret_cast<NoArguments>(dlsym(library, "velnor_check_daisychain"));
  auto scan = reinterpret_cast<Scan>(dlsym(library, "velnor_scan_chain"));
  auto init = reinterpret_cast<uint32_t (*)(uint32_t)>(dlsym(library, "velnor_init"));
  auto free_cable = reinterpret_cast<NoArguments>(dlsym(library, "velnor_free"));
  ASSERT_TRUE(daisychain && scan && init && free_cable);
  EXPECT_EQ(daisychain(), 0u);
  EXPECT_EQ(scan(nullptr), VELNOR_ERR_PROBE);
  EXPECT_EQ(init(VELNOR_CABLE_PARALLEL), VELNOR_OK);
  EXPECT_EQ(scan(nullptr), VELNOR_OK);
  EXPECT_EQ(daisychain(), 1u);
  EXPECT_EQ(free_cable(), 0u);
  dlclose(library);
}

}  // namespace
