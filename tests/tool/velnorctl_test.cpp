// The shipped pieces as a user meets them: velnorctl on virtual boards, and
// the shared library loaded by name.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "velnor.h"

namespace {

struct ToolRun {
  std::string output;
  int status;
  bool virtual_board_announced;
};

// Runs velnorctl on the board described, stdout and stderr together, less
// the line on which the virtual board announces itself.
ToolRun velnorctl(const std::string& board, const std::string& arguments) {
  const std::string command =
      "VELNOR_BENCH='" + board + "' " VELNORCTL_PATH " " + arguments + " 2>&1";
  ToolRun run{"", -1, false};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 512> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    run.output.append(chunk.data(), got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::string announced = "virtual board: " + (board.empty() ? "default" : board) + "\n";
  const std::size_t at = run.output.find(announced);
  run.virtual_board_announced = at != std::string::npos;
  if (run.virtual_board_announced) run.output.erase(at, announced.size());
  return run;
}

TEST(Velnorctl, ScansTheDefaultBoardThroughTheParallelCable) {
  const ToolRun run = velnorctl("default", "--cable lpt scan");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.virtual_board_announced);
  EXPECT_EQ(run.output,
            "2 devices on the chain, nearest TDO first\n"
            "  index  name      IDCODE      IR  capture\n"
            "      0  xcf02s    0x05045093   8  0x01\n"
            "      1  v200      0x0061C093   5  0x19\n");
}

TEST(Velnorctl, AutomaticCableTriesUsbFirst) {
  const ToolRun run = velnorctl("chain=xc2s50;usb=", "");
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

  run = velnorctl("chain=xc2s50,other:0x12345093:6,other:0x12347093:7", "--cable lpt");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("      1  ?         0x12345093   ?  ?\n"
                            "      2  ?         0x12347093   ?  ?\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("(VELNOR_ERR_NO_TARGET)"), std::string::npos);
}

TEST(Velnorctl, RejectsBadArguments) {
  for (const char* arguments :
       {"--cable lpt:0x10000", "--cable serial", "frobnicate", "config", "spi 3 00", "spi 1 0",
        "mem erase 0 1", "mem write 0x10 zz", "prom", "prom burn", "prom read",
        "prom read x --length", "prom program x --fast", "prom program x --format hex",
        "config x --fast", "--part cpld", "--part cpld:0x06E5E092:8", "--part :0x06E5E093:8",
        "--part cpld:0x06E5E093:33"}) {
    EXPECT_EQ(velnorctl("default", arguments).status, 2) << arguments;
  }
  const ToolRun run = velnorctl("default", "status mem read 0 0");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.output.rfind("velnorctl: bad length '0'\n", 0), 0u) << "nothing ran";
}

// A bitstream made for the board, in a file of the test's own.
class WithBitstream : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "velnorctl_" + std::to_string(getpid()) + ".bit";
    const std::string command =
        std::string(VELNOR_BITGEN_PATH) + " xc2s200 " + path_ + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

TEST_F(WithBitstream, ConfiguresReadsWritesAndShutsDown) {
  const ToolRun run = velnorctl(
      "default", "--cable lpt config " + path_ +
                     " status mem write 0x12340 0102A5FF mem read 0x12340 4 mem verify 0x12340 "
                     "0102A5FF shutdown status");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output,
            "file " + path_ +
                "\n"
                "  design  " +
                path_.substr(path_.rfind('/') + 1, path_.size() - path_.rfind('/') - 5) +
                ".ncd\n"
                "  part    2s200fg256\n"
                "  date    2026/12/08 00:00:00\n"
                "  length  166980 bytes\n"
                "configured\n"
                "IDCODE    0x0061C093\n"
                "status    0x00006300  DONE=1 INIT=1 CRC_ERROR=0 MODE=000\n"
                "USERCODE  0xFFFFFFFF\n"
                "wrote 4 bytes at 0x00012340\n"
                "0x00012340: 01 02 A5 FF\n"
                "verified 4 bytes at 0x00012340\n"
                "shut down\n"
                "IDCODE    0x0061C093\n"
                "status    0x000020C0  DONE=0 INIT=1 CRC_ERROR=0 MODE=000\n"
                "USERCODE  0xFFFFFFFF\n");
}

TEST_F(WithBitstream, UserChannelAndFailures) {
  ToolRun run = velnorctl("chain=xcf02s,xc2s200;design=loopback",
                          "--cable lpt config " + path_ + " spi 1 0102 spi 2 77");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("sent     01 02\nreceived A5 01\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("sent     77\nreceived 5A\n"), std::string::npos) << run.output;

  run = velnorctl("default", "--cable lpt config /nonexistent.bit status");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "velnorctl: /nonexistent.bit: No such file or directory\n");

  run = velnorctl("default", "--cable lpt config " + path_ + " mem write 0 11 mem verify 0 12");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("Verify error 00000000\nvelnorctl: mem verify failed at 0x00000000\n"),
            std::string::npos)
      << run.output;
}

// The header names the part; the chain's FPGA is compared by IDCODE (the
// device table calls an XC2S200 "v200").
TEST_F(WithBitstream, ConfigRefusesAFileMadeForAnotherPart) {
  const struct {
    const char* chain;
    const char* flag;
    int status;
    const char* output;
  } kCases[] = {
      {"xcf02s,xc2s200", "", 0, "configured\n"},
      {"xc2s50,xc2s200", "", 1,
       "is made for 2s200fg256, but the FPGA on the chain is an XC2S50 (IDCODE 0x00610093); "
       "--force configures it anyway\n"},
      {"xc2s150/v2", "", 1, "but the FPGA on the chain is an XC2S150 (IDCODE 0x20618093)"},
      {"xc2s150", " --force", 1, "velnorctl: config failed: 0x00000001 (VELNOR_ERR_CRC)\n"},
  };
  for (const auto& c : kCases) {
    const ToolRun run =
        velnorctl(std::string("chain=") + c.chain, "--cable lpt config " + path_ + c.flag);
    EXPECT_EQ(run.status, c.status) << c.chain << c.flag << "\n" << run.output;
    EXPECT_NE(run.output.find(c.output), std::string::npos) << c.chain << c.flag << "\n"
                                                            << run.output;
  }
}

// A part the library does not know (a CoolRunner-II XC2C64A) is listed with
// its IDCODE and the IR length the others leave; added with --part, it is
// identified and the FPGA beyond it is configured.
TEST_F(WithBitstream, APartTheLibraryDoesNotKnowIsListedAndCanBeAdded) {
  const std::string board = "chain=xcf02s,other:0xF6E5E093:8,xc2s200";
  ToolRun run = velnorctl(board, "--cable lpt scan");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("      1  ?         0xF6E5E093   8  0x01\n"
                            "      2  v200      0x0061C093   5  0x19\n"),
            std::string::npos)
      << run.output;
  run = velnorctl(board, "--cable lpt --part xc2c64a:0x06E5E093:8 scan config " + path_);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("      1  xc2c64a   0xF6E5E093   8  0x01\n"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("configured\n"), std::string::npos);
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

namespace {

std::string read_all(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  std::string bytes;
  std::array<char, 4096> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0)
    bytes.append(chunk.data(), got);
  std::fclose(file);
  return bytes;
}

void write_all(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// The vendor's PROM file layout: Intel HEX, every byte bit-reversed.
std::string intel_hex_of(const std::string& data) {
  auto record = [](unsigned count, unsigned address, unsigned type, const std::string& bytes) {
    char text[16];
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(text, sizeof text, ":%02X%04X%02X", count, address & 0xFFFF, type);
    std::string line = text;
    for (unsigned char byte : bytes) {
      std::snprintf(text, sizeof text, "%02X", byte);
      line += text;
      sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
  };
  std::string hex;
  for (std::size_t at = 0; at < data.size(); at += 16) {
    if (at % 0x10000 == 0) {
      hex += record(2, 0, 4, std::string{static_cast<char>(at >> 24), static_cast<char>(at >> 16)});
    }
    std::string chunk = data.substr(at, 16);
    for (char& byte : chunk) {
      unsigned char in = static_cast<unsigned char>(byte), out = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (in & (1 << bit)) out = static_cast<unsigned char>(out | (0x80 >> bit));
      }
      byte = static_cast<char>(out);
    }
    hex += record(static_cast<unsigned>(chunk.size()), static_cast<unsigned>(at), 0, chunk);
  }
  return hex + ":00000001FF\n";
}

// The whole workflow of a board kept in service: a real bitstream into the
// PROM, then a power cycle, and the FPGA loads itself from the PROM.
TEST(VelnorctlProm, AProgrammedPromConfiguresTheFpgaAtPowerUp) {
  const std::string real =
      read_all(std::string(VELNOR_REALDATA_DIR) +
               "/HattonLe_XessCorp-Tools-CD/Examples/XSA/200/test_board/test_board.bit");
  if (real.empty()) GTEST_SKIP() << "no real bitstreams beside the repository";
  const std::string stem = ::testing::TempDir() + "velnorctl_prom_" + std::to_string(getpid());
  const std::string bit = stem + ".bit", mcs = stem + ".mcs", image = stem + ".img";
  write_all(bit, real);
  const std::string board = "chain=xcf02s,xc2s200";

  // Programmed through the USB cable, its firmware booted first.
  ToolRun run =
      velnorctl(board + ";promsave=" + image, "--cable usb prom info prom program " + bit);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output,
            "Setup EZ-USB Firmware\n-Boot-Wait.-Reconnect\n"
            "PROM      XCF02S, IDCODE 0x05045093, 262144 bytes\n"
            "PROM erased\n"
            "programmed 167424 bytes from " +
                bit +
                "\n"
                "verified 167424 bytes\n");
  run = velnorctl(board + ";promimage=" + image + ";powerup=prom", "--cable lpt status");
  EXPECT_NE(run.output.find("DONE=1 INIT=1 CRC_ERROR=0"), std::string::npos) << run.output;
  run = velnorctl(board, "--cable lpt status");
  EXPECT_NE(run.output.find("DONE=0"), std::string::npos) << "an erased PROM loads nothing";

  // The same data as the vendor's PROM file, and read back raw.
  write_all(mcs, intel_hex_of(real.substr(real.size() - 166980)));
  run = velnorctl(board + ";promsave=" + image, "--cable lpt prom erase prom program " + mcs +
                                                    " prom read " + stem + ".read --length 16");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(read_all(stem + ".read"), std::string("\xFF\xFF\xFF\xFF\xAA\x99\x55\x66", 8) +
                                          real.substr(real.size() - 166980 + 8, 8));
  run = velnorctl(board + ";promimage=" + image + ";powerup=prom", "--cable lpt status");
  EXPECT_NE(run.output.find("DONE=1"), std::string::npos) << run.output;

  for (const std::string& path : {bit, mcs, image, stem + ".read"}) std::remove(path.c_str());
}

// Erase and read-back are the default. A PROM programmed over old data
// (flash bits only go from 1 to 0) shows where it differs; a bitstream
// that starts up on the JTAG clock draws a warning, as no PROM clocks it.
TEST_F(WithBitstream, PromProgramErasesAndVerifiesUnlessTold) {
  const std::string stem = ::testing::TempDir() + "velnorctl_old_" + std::to_string(getpid());
  write_all(stem + ".old", std::string(512, '\x0F'));
  write_all(stem + ".bin", std::string("\xFF\xAA\x99\x55\x66", 5));
  const std::string board = "chain=xcf02s,xc2s200;promimage=" + stem + ".old";
  const std::string warning = "velnorctl: warning: " + path_ +
                              " starts up on the JTAG clock; an FPGA loading it from the PROM "
                              "will not start (make it with the start-up clock CCLK)\n";
  const struct {
    std::string arguments;
    int status;
    std::string output;
  } kCases[] = {
      {stem + ".bin", 0,
       "PROM erased\nprogrammed 512 bytes from " + stem + ".bin\nverified 512 bytes\n"},
      {stem + ".bin --erase --verify", 0,
       "PROM erased\nprogrammed 512 bytes from " + stem + ".bin\nverified 512 bytes\n"},
      {stem + ".bin --no-erase", 1,
       "programmed 512 bytes from " + stem +
           ".bin\nvelnorctl: prom verify failed at byte 0x000000: expected 0xFF, read 0x0F\n"},
      {stem + ".bin --no-erase --no-verify", 0, "programmed 512 bytes from " + stem + ".bin\n"},
      {path_ + " --no-erase --no-verify", 0,
       warning + "programmed 167424 bytes from " + path_ + "\n"},
  };
  for (const auto& c : kCases) {
    const ToolRun run = velnorctl(board, "--cable lpt prom program " + c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments;
    EXPECT_EQ(run.output, c.output) << c.arguments;
  }
  for (const char* end : {".old", ".bin"}) std::remove((stem + end).c_str());
}

TEST(VelnorctlProm, Refusals) {
  ToolRun run = velnorctl("chain=xc2s200", "--cable lpt prom info");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "velnorctl: prom info failed: 0x00800000 (VELNOR_ERR_NO_TARGET)\n");
  run = velnorctl("chain=xcf01s,xc2s200",
                  "--cable lpt prom program " VELNOR_BITGEN_PATH " --format raw");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("do not fit the PROM's 131072"), std::string::npos) << run.output;
}

}  // namespace
