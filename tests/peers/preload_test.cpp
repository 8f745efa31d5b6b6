// velnorctl on the Linux backend, reaching the virtual board through the
// preload library's /dev/parportN, against the same jobs on the bench
// backend; and the Linux backend's failures on real device nodes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "bench/board.h"
#include "peers/peer_run.h"
#include "trace_text.h"
#include "velnor.h"

namespace {

using velnor::testing::on_bench;
using velnor::testing::ProgramRun;
using velnor::testing::read_text;
using velnor::testing::TempDir;
using velnor::testing::through_preload;
using velnor::testing::velnorctl;

// An XCF02S (version D) nearest TDO and an XC2S200, and what velnorctl shows.
constexpr const char* kBoard = "chain=xcf02s/vd,xc2s200/v0";
constexpr const char* kBoardScan =
    "2 devices on the chain, nearest TDO first\n"
    "  index  name      IDCODE      IR  capture\n"
    "      0  xcf02s    0xD5045093   8  0x01\n"
    "      1  v200      0x0061C093   5  0x19\n";

constexpr const char* kNoProbe =
    "No Probe\nvelnorctl: opening the cable failed: 0x40000000 (VELNOR_ERR_PROBE)\n";

// The same output but for the line the virtual board announces itself with.
void expect_same_run(const std::string& board, const std::string& arguments) {
  ProgramRun bench = velnorctl(on_bench(board), arguments);
  const ProgramRun linux_backend = velnorctl(through_preload(board), arguments);
  const std::string announced = "virtual board: " + board + "\n";
  const std::size_t at = bench.output.find(announced);
  ASSERT_NE(at, std::string::npos) << bench.output;
  bench.output.erase(at, announced.size());
  EXPECT_EQ(linux_backend.output, bench.output) << board << ": " << arguments;
  EXPECT_EQ(linux_backend.status, bench.status) << board << ": " << arguments;
}

TEST(Preload, ScansAsTheBenchBackendDoes) {
  const ProgramRun run = velnorctl(through_preload(kBoard), "--cable lpt scan");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, kBoardScan);
  for (const char* board :
       {"default", "chain=xc2s100/v2,xcf04s/v1,xc2s15", "power=off", "lpt=0x378:none",
        "lpt=0x378:other", "fault=open@1", "chain=xc2s50,other:0x12345093:6"}) {
    expect_same_run(board, "--cable lpt scan");
  }
}

TEST(Preload, OtherBasesUseTheirOwnNodes) {
  // 0x278 is /dev/parport1; /dev/parport0 is then missing.
  const std::string board = std::string(kBoard) + ";lpt=0x278";
  const ProgramRun run = velnorctl(through_preload(board), "--cable lpt:0x278 scan");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, kBoardScan);
  EXPECT_EQ(velnorctl(through_preload(board), "--cable lpt scan").output,
            "velnor: cannot open /dev/parport0: No such file or directory (no such node: load the "
            "ppdev module, or name the node in VELNOR_PARPORT_MAP)\n" +
                std::string(kNoProbe));
}

TEST(Preload, ConfiguresAsTheBenchBackendDoes) {
  TempDir folder;
  const std::string bitstream = folder.path("xc2s200.bit");
  ASSERT_EQ(velnor::testing::run_shell(VELNOR_BITGEN_PATH " xc2s200 " + bitstream).status, 0);
  const std::string job = "--cable lpt scan config " + bitstream +
                          " status mem write 0x00012340 48656C6C6F mem read 0x00012340 5 "
                          "spi 1 0102 shutdown status";
  const ProgramRun run = velnorctl(through_preload("default"), job);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("configured\n"), std::string::npos) << run.output;
  expect_same_run("default", job);
}

// The same job in this process on the bench backend, its trace as text.
std::string bench_backend_scan_trace() {
  setenv("VELNOR_BENCH", "default", 0);
  velnor::bench::install_board(velnor::bench::make_board("trace=on"));
  std::int32_t count = 0;
  EXPECT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), static_cast<std::uint32_t>(VELNOR_OK));
  EXPECT_EQ(velnor_scan_chain(&count), static_cast<std::uint32_t>(VELNOR_OK));
  VelnorChainDevice device;
  for (std::int32_t index = 0; velnor_chain_device(index, &device) != 0; ++index) {
  }
  velnor_free();
  return velnor::bench::trace_text(velnor::bench::active_board().trace());
}

TEST(Preload, PortTrafficIsTheBenchBackendsOneIoctlPerAccess) {
  TempDir folder;
  const std::string trace = folder.path("trace"), counts = folder.path("counts");
  const ProgramRun run =
      velnorctl(through_preload("default", "VELNOR_PARPORT_TRACE=" + trace +
                                               " VELNOR_PARPORT_COUNTS=" + counts),
                "--cable lpt scan");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string preloaded = read_text(trace);
  EXPECT_EQ(preloaded, bench_backend_scan_trace());

  std::istringstream lines(preloaded);
  std::string line;
  int writes = 0, reads = 0, clocks = 0;
  while (std::getline(lines, line)) {
    writes += line.rfind("W 0378 ", 0) == 0;
    reads += line.rfind("R 0379 ", 0) == 0;
    clocks += line[0] == 'C';
  }
  EXPECT_GT(clocks, 100);
  // One claim, then one ioctl per register access and nothing else.
  std::ostringstream expected;
  expected << "PPCLAIM 1\nPPEXCL 1\nPPSETMODE 1\nPPNEGOT 1\nPPWDATA " << writes << "\nPPRSTATUS "
           << reads << "\nioctls " << writes + reads + 4 << "\ntck " << clocks << "\n";
  EXPECT_EQ(read_text(counts), expected.str());
}

TEST(Preload, BadDescriptionLeavesNoNodes) {
  const ProgramRun run = velnorctl(through_preload("chain=xc9500"), "--cable lpt scan");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "velnor parport preload: bad board description: unknown device 'xc9500'\n"
            "velnor: cannot open /dev/parport0: No such file or directory (no such "
            "node: load the ppdev module, or name the node in VELNOR_PARPORT_MAP)\n" +
                std::string(kNoProbe));
}

// The PROM's timed operations see the program's real sleeps, and the image
// is saved when the process ends, as on the bench backend.
TEST(Preload, ReadsThePromAndSavesItsImage) {
  TempDir folder;
  std::string image;
  for (int i = 0; i < 4096; ++i) image += static_cast<char>(i * 7 + i / 256);
  velnor::testing::write_text(folder.path("image"), image);
  const auto board = [&](const char* saved) {
    return "promimage=" + folder.path("image") + ";promsave=" + folder.path(saved);
  };
  const std::string read = "--cable lpt prom read " + folder.path("read") + " --length 4096";
  const ProgramRun run = velnorctl(through_preload(board("preloaded")), read);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(read_text(folder.path("read")), image);
  EXPECT_EQ(velnorctl(on_bench(board("bench")), read).status, 0);
  const std::string saved = read_text(folder.path("preloaded"));
  EXPECT_EQ(saved.size(), 256u * 1024);
  EXPECT_EQ(saved.substr(0, image.size()), image);
  EXPECT_EQ(saved, read_text(folder.path("bench")));
}

// --- The Linux backend on real nodes --------------------------------------------

std::string linux_backend(const std::string& map) {
  return "env -u VELNOR_BENCH -u LD_PRELOAD VELNOR_PARPORT_MAP='" + map + "' ";
}

TEST(LinuxBackend, MissingNodeIsReportedOnceAndTheProbeFails) {
  TempDir folder;
  const std::string node = folder.path("parport9");
  const ProgramRun run = velnorctl(linux_backend("0x378=" + node), "--cable lpt scan");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "velnor: cannot open " + node +
                            ": No such file or directory (no such node: load the ppdev module, "
                            "or name the node in VELNOR_PARPORT_MAP)\n" +
                            kNoProbe);
}

TEST(LinuxBackend, NodeThatIsNoPrinterPortCannotBeClaimed) {
  TempDir folder;
  const std::string node = folder.path("plain-file");
  velnor::testing::write_text(node, "not a port\n");
  const ProgramRun run = velnorctl(linux_backend("0x278=" + node), "--cable lpt:0x278 scan");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "velnor: cannot claim " + node +
                            ": Inappropriate ioctl for device (not a printer-port node)\n" +
                            kNoProbe);
}

TEST(LinuxBackend, NodeWithoutPermissionPointsAtTheGroup) {
  TempDir folder;
  const std::string node = folder.path("parport0");
  velnor::testing::write_text(node, "");
  ASSERT_EQ(chmod(node.c_str(), 0600), 0);
  ASSERT_EQ(chmod(folder.path("").c_str(), 0755), 0);
  // Root opens anything: run as nobody then, if nobody may run velnorctl.
  std::string as_user;
  if (geteuid() == 0) {
    as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (velnor::testing::run_shell(as_user + "test -x " VELNORCTL_PATH).status != 0) {
      GTEST_SKIP() << "velnorctl is out of reach of an unprivileged user here";
    }
  } else {
    ASSERT_EQ(chmod(node.c_str(), 0), 0);
  }
  const ProgramRun run = velnorctl(linux_backend("0x378=" + node) + as_user, "--cable lpt scan");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "velnor: cannot open " + node +
                            ": Permission denied (join the 'lp' group)\n" + kNoProbe);
}

TEST(LinuxBackend, BadMapOrUnknownBaseLeavesThePortAbsent) {
  ProgramRun run = velnorctl(linux_backend("0x378:/dev/parport0"), "--cable lpt scan");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "velnor: VELNOR_PARPORT_MAP: bad item '0x378:/dev/parport0' (want BASE=NODE, e.g. "
            "0x378=/dev/parport0)\n" +
                std::string(kNoProbe));
  run = velnorctl(linux_backend(""), "--cable lpt:0x3E8 scan");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "velnor: no device node for the printer port at 0x03E8 (name one in "
            "VELNOR_PARPORT_MAP)\n" +
                std::string(kNoProbe));
}

}  // namespace
