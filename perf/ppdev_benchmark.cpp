// The same JTAG jobs by velnor and by the peer tools (urJTAG, OpenOCD,
// xc3sprog), each a process on the Linux backend reaching a virtual board
// (an XCF02S and an XC2S200) through the preload library's /dev/parport0.
// For each job and tool: the time of the job (the process's wall time less
// that of the same tool doing no work), the TCK cycles, the ppdev calls per
// cycle, and the time relative to velnor's. The bench, not a port, sets the
// time of one access here; on a real port each costs about a microsecond,
// so the calls per cycle are what carries over.
//
// Jobs, as alike as the tools allow:
//   idcodes  the chain's IDCODEs read 1000 times: velnor a TAP reset and a
//            64-bit DR scan each; urJTAG `idcode`; OpenOCD `jtag arp_init`
//            (reset, IDCODE scan and IR capture check); xc3sprog -T1000.
//   shift    1 Mbit shifted through the data registers: velnor one DR scan,
//            OpenOCD an SVF file with one SDR. urJTAG's SVF player needs part
//            descriptions, and loading one crashes this urJTAG; xc3sprog
//            plays no SVF.
//   config   the XC2S200 configured from a .bit file: velnor, xc3sprog and
//            OpenOCD's virtex2 driver.
//
// The benchmark runs its own velnor jobs by starting itself again in the
// preloaded environment: ppdev_benchmark velnor JOB [ARGUMENT].
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "api/session.h"
#include "bench/bitstream.h"
#include "jtag/tap.h"
#include "velnor.h"

namespace {

constexpr int kIdcodeReads = 1000;
constexpr int kShiftBits = 1 << 20;
constexpr int kRepeats = 3;
// The board every job runs on: the OpenOCD taps below are declared for it.
constexpr const char* kBoard = "chain=xcf02s/vd,xc2s200/v0";

// --- velnor's jobs, inside the preloaded child ----------------------------------

int velnor_job(const std::string& job, const std::string& argument) {
  if (velnor_init(VELNOR_CABLE_PARALLEL) != VELNOR_OK) return 1;
  std::uint32_t result = VELNOR_OK;
  velnor::Jtag& jtag = velnor::session().target.jtag;
  if (job == "idcodes") {
    std::uint8_t idcodes[8];
    for (int i = 0; i < kIdcodeReads; ++i) {
      result |= velnor::tap_reset(jtag, 6);
      result |= velnor::shift_dr(jtag, nullptr, idcodes, 64, velnor::DR_ENTER | velnor::DR_EXIT);
    }
  } else if (job == "shift") {
    std::vector<std::uint8_t> data(kShiftBits / 8);
    std::mt19937 random(1);
    for (std::uint8_t& byte : data) byte = static_cast<std::uint8_t>(random());
    result |= velnor::tap_reset(jtag, 6);
    result |= velnor::shift_dr(jtag, data.data(), nullptr, kShiftBits,
                               velnor::DR_ENTER | velnor::DR_EXIT);
  } else if (job == "config") {
    std::int32_t count = 0;  // a file name, configured on this thread
    result = velnor_config(argument.c_str(), &count);
  }
  velnor_free();
  return result == VELNOR_OK ? 0 : 1;
}

// --- Running the tools ---------------------------------------------------------

struct Outcome {
  double seconds;
  std::uint64_t tck;
  std::uint64_t ioctls;
  bool ok;
};

std::map<std::string, std::uint64_t> read_counts(const std::string& path) {
  std::map<std::string, std::uint64_t> counts;
  std::ifstream file(path);
  std::string name;
  std::uint64_t value;
  while (file >> name >> value) counts[name] = value;
  return counts;
}

// One run of a command line through the preload, timed.
Outcome run_once(const std::string& command, const std::string& counts) {
  const std::string line = "env -u VELNOR_BENCH LD_PRELOAD='" VELNOR_PRELOAD
                           "' ASAN_OPTIONS=detect_leaks=0 VELNOR_PARPORT_BENCH='" +
                           std::string(kBoard) + "' VELNOR_PARPORT_COUNTS=" + counts + " " +
                           command + " >/dev/null 2>&1 </dev/null";
  std::remove(counts.c_str());
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(line.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::map<std::string, std::uint64_t> values = read_counts(counts);
  return {seconds, values["tck"], values["ioctls"],
          WIFEXITED(status) && WEXITSTATUS(status) == 0 && values["tck"] > 0};
}

// The fastest of a few runs, less the fastest of the same tool doing no work.
Outcome measure(const std::string& command, const std::string& idle, const std::string& counts) {
  Outcome best{1e9, 0, 0, true};
  Outcome idle_best{1e9, 0, 0, true};
  bool ok = true;
  for (int i = 0; i < kRepeats; ++i) {
    const Outcome run = run_once(command, counts);
    ok = ok && run.ok;
    if (run.seconds < best.seconds) best = run;
    const Outcome quiet = run_once(idle, counts);
    if (quiet.seconds < idle_best.seconds) idle_best = quiet;
  }
  return {std::max(0.0, best.seconds - idle_best.seconds),
          best.tck - std::min(best.tck, idle_best.tck),
          best.ioctls - std::min(best.ioctls, idle_best.ioctls), ok};
}

bool installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

struct Tool {
  const char* name;
  const char* program;  // on PATH; null for velnor
  std::string command;
  std::string idle;
};

void print_job(const char* title, const std::vector<Tool>& tools, const std::string& counts) {
  std::printf("\n%s\n  %-9s %10s %10s %12s %11s %9s\n", title, "tool", "ms", "TCK", "ioctls",
              "ioctls/TCK", "x velnor");
  double velnor_seconds = 0;
  for (const Tool& tool : tools) {
    if (tool.program != nullptr && !installed(tool.program)) {
      std::printf("  %-9s not installed\n", tool.name);
      continue;
    }
    const Outcome outcome = measure(tool.command, tool.idle, counts);
    if (!outcome.ok) {
      std::printf("  %-9s failed: %s\n", tool.name, tool.command.c_str());
      continue;
    }
    if (tool.program == nullptr) velnor_seconds = outcome.seconds;
    std::printf("  %-9s %10.1f %10llu %12llu %11.2f %9.2f\n", tool.name, outcome.seconds * 1e3,
                static_cast<unsigned long long>(outcome.tck),
                static_cast<unsigned long long>(outcome.ioctls),
                outcome.tck != 0
                    ? static_cast<double>(outcome.ioctls) / static_cast<double>(outcome.tck)
                    : 0.0,
                velnor_seconds > 0 ? outcome.seconds / velnor_seconds : 0.0);
  }
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "velnor") {
    return velnor_job(argv[2], argc > 3 ? argv[3] : "");
  }
  char folder_pattern[] = "/tmp/velnor_ppdev_benchmark_XXXXXX";
  const char* folder = mkdtemp(folder_pattern);
  if (folder == nullptr) return 1;
  const std::string dir = folder;
  const std::string self = "'" + std::string(argv[0]) + "'";
  const std::string counts = dir + "/counts";

  // Inputs: urJTAG command scripts, an SVF file, a bitstream.
  const std::string cable = "cable DLC5 ppdev /dev/parport0\n";
  write_file(dir + "/urjtag-idle", cable);
  write_file(dir + "/urjtag-idcodes", cable + repeated("idcode\n", kIdcodeReads));
  {
    std::ostringstream svf;
    svf << "ENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\nSTATE IDLE;\nSDR " << kShiftBits << " TDI (";
    std::mt19937 random(1);
    for (int i = 0; i < kShiftBits / 4; ++i) svf << "0123456789ABCDEF"[random() % 16];
    svf << ");\nSTATE RESET;\n";
    write_file(dir + "/shift.svf", svf.str());
  }
  velnor::bench::BitstreamOptions options;
  options.part = velnor::bench::Part::Xc2s200;
  const std::vector<std::uint8_t> bitstream =
      velnor::bench::make_bit_file(velnor::bench::make_bitstream(options), {});
  write_file(dir + "/xc2s200.bit", std::string(bitstream.begin(), bitstream.end()));

  const std::string openocd =
      "openocd -c 'adapter driver parport' -c 'parport port 0' -c 'parport cable dlc5' "
      "-c 'jtag newtap xcf tap -irlen 8 -expected-id 0xd5045093' "
      "-c 'jtag newtap xc2s tap -irlen 5 -expected-id 0x0061c093' "
      "-c 'pld device virtex2 xc2s.tap' -c init ";
  const std::string openocd_idle = openocd + "-c shutdown";

  std::printf(
      "ppdev calls and time per job through the preload library, board %s\n"
      "(times exclude each tool's start-up: the same tool doing no work)\n",
      kBoard);
  print_job(
      "read the chain's IDCODEs 1000 times",
      {{"velnor", nullptr, self + " velnor idcodes", self + " velnor open"},
       {"urjtag", "jtag", "jtag -q " + dir + "/urjtag-idcodes", "jtag -q " + dir + "/urjtag-idle"},
       {"openocd", "openocd",
        openocd + "-c 'for {set i 0} {$i < 1000} {incr i} { jtag arp_init }' -c shutdown",
        openocd_idle},
       {"xc3sprog", "xc3sprog", "xc3sprog -c dlc5 -T1000", "xc3sprog -c dlc5"}},
      counts);
  print_job("shift 1 Mbit through the data registers",
            {{"velnor", nullptr, self + " velnor shift", self + " velnor open"},
             {"openocd", "openocd", openocd + "-c 'svf " + dir + "/shift.svf' -c shutdown",
              openocd_idle}},
            counts);
  print_job(
      "configure the XC2S200 (1,335,840 bits)",
      {{"velnor", nullptr, self + " velnor config " + dir + "/xc2s200.bit", self + " velnor open"},
       {"openocd", "openocd", openocd + "-c 'pld load 0 " + dir + "/xc2s200.bit' -c shutdown",
        openocd_idle},
       {"xc3sprog", "xc3sprog", "xc3sprog -c dlc5 -p 0 " + dir + "/xc2s200.bit",
        "xc3sprog -c dlc5"}},
      counts);
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
