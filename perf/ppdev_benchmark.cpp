// The same JTAG jobs by velnor and by the peer tools (urJTAG, OpenOCD,
// xc3sprog), each a process on the Linux backend reaching a virtual board
// through the preload library's /dev/parport0. For each job and tool: the
// time of the job (the median of a few runs of the process, less the median
// of the same tool doing no work, with the runs' range), the TCK cycles, the
// ppdev calls per cycle, and the time relative to velnor's. The bench, not a
// port, sets the time of one access here; on a real port each costs about a
// microsecond, so the calls per cycle are what carries over.
//
// A job counts only when it did its work: the tool exits with 0, clocks the
// chain, and a configuration leaves the FPGA's DONE pin high on the bench
// (the preload reports the pins at exit). A failed job is printed with the
// reason instead of a time.
//
// OpenOCD runs twice: at its parport driver's default speed, which repeats
// every port write as wait states, and with `parport toggling_time 1000` and
// `adapter speed 500`, which leave none (2 writes per TCK cycle, as velnor).
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
//            OpenOCD's virtex2 driver; once with the FPGA alone on the chain,
//            once with the XCF02S beside it. xc3sprog shifts the PROM's
//            bypass bit through the FPGA's CFG_IN in each of its four
//            configuration scans, and the part, in step with 32-bit words
//            since the first sync word, never reaches DONE (see the README).
//
// The benchmark runs its own velnor jobs by starting itself again in the
// preloaded environment: ppdev_benchmark velnor JOB [ARGUMENT].
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "api/session.h"
#include "bench/bitstream.h"
#include "jtag/tap.h"
#include "shift_job.h"
#include "velnor.h"

namespace {

using velnor::perf::write_file;

constexpr int kIdcodeReads = 1000;
constexpr int kRepeats = 7;
// The boards: a PROM and the FPGA (urJTAG cannot take the PROM at
// version 0), and the FPGA alone. The OpenOCD taps below are declared for
// them.
constexpr const char* kBoard = "chain=xcf02s/vd,xc2s200/v0";
constexpr const char* kFpgaBoard = "chain=xc2s200/v0";

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
    result |= velnor::perf::shift_with_velnor(jtag);
  } else if (job == "config") {
    std::int32_t count = 0;  // a file name, configured on this thread
    result = velnor_config(argument.c_str(), &count);
  }
  velnor_free();
  return result == VELNOR_OK ? 0 : 1;
}

// --- Running the tools ---------------------------------------------------------

// A run that failed says why; one that succeeded is timed.
struct Outcome {
  double seconds = 0;
  double cpu_seconds = 0;  // of the processes the command started
  std::uint64_t tck = 0;
  std::uint64_t ioctls = 0;
  std::string failure;
};

std::map<std::string, std::uint64_t> read_values(const std::string& path) {
  std::map<std::string, std::uint64_t> values;
  std::ifstream file(path);
  std::string name;
  std::uint64_t value;
  while (file >> name >> value) values[name] = value;
  return values;
}

std::string last_line(const std::string& path) {
  std::ifstream file(path);
  std::string line, last;
  while (std::getline(file, line)) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  return last;
}

struct Files {
  std::string counts, pins, output;
};

double children_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What a run must show besides its exit status.
enum class Check { Nothing, Cycles, Done };

// One run of a command line through the preload on a board, timed, and
// checked as its user would: the exit status, that the job clocked the
// chain at all, and for a configuration the FPGA's DONE pin on the bench
// afterwards (the tools' own exit status does not tell: xc3sprog exits with
// 0 when DONE stays low).
Outcome run_once(const std::string& command, const char* board, Check check, const Files& files) {
  const std::string line = "env -u VELNOR_BENCH LD_PRELOAD='" VELNOR_PRELOAD
                           "' ASAN_OPTIONS=detect_leaks=0 VELNOR_PARPORT_BENCH='" +
                           std::string(board) + "' VELNOR_PARPORT_COUNTS=" + files.counts +
                           " VELNOR_PARPORT_PINS=" + files.pins + " " + command + " >" +
                           files.output + " 2>&1 </dev/null";
  std::remove(files.counts.c_str());
  std::remove(files.pins.c_str());
  const double cpu = children_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(line.c_str());
  Outcome outcome;
  outcome.cpu_seconds = children_cpu_seconds() - cpu;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::map<std::string, std::uint64_t> counts = read_values(files.counts);
  outcome.tck = counts["tck"];
  outcome.ioctls = counts["ioctls"];
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const std::string last = last_line(files.output);
    outcome.failure = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                        : "ended by signal " + std::to_string(WTERMSIG(status));
    if (!last.empty()) outcome.failure += " (\"" + last + "\")";
  } else if (check != Check::Nothing && outcome.tck == 0) {
    outcome.failure = "no TCK cycle reached the board";
  } else if (check == Check::Done) {
    // The job's FPGA is the one nearest TDI on every board here.
    std::map<std::string, std::uint64_t> pins = read_values(files.pins);
    std::string fpga;
    for (const auto& [name, value] : pins) {
      if (name.ends_with(".done")) fpga = name.substr(0, name.size() - 5);
    }
    if (fpga.empty() || pins[fpga + ".done"] != 1) {
      outcome.failure = "configuration did not reach DONE";
      if (!fpga.empty()) {
        outcome.failure += pins[fpga + ".init"] != 0 ? " (INIT high)" : " (INIT low: CRC error)";
      }
    }
  }
  return outcome;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Measurement {
  double median_seconds = 0, low_seconds = 0, high_seconds = 0, cpu_seconds = 0;
  std::uint64_t tck = 0, ioctls = 0;
  std::string failure;
};

// A few runs of the job and of the same tool doing no work; the job's time
// is its run's less the idle runs' median. The first failure ends it.
Measurement measure(const std::string& command, const std::string& idle, const char* board,
                    bool configures, const Files& files) {
  std::vector<double> runs, idles, cpu_runs, cpu_idles;
  Measurement result;
  for (int i = 0; i < kRepeats; ++i) {
    const Outcome run = run_once(command, board, configures ? Check::Done : Check::Cycles, files);
    if (!run.failure.empty()) return {0, 0, 0, 0, 0, 0, run.failure};
    const Outcome quiet = run_once(idle, board, Check::Nothing, files);
    if (!quiet.failure.empty()) return {0, 0, 0, 0, 0, 0, "doing no work: " + quiet.failure};
    runs.push_back(run.seconds);
    idles.push_back(quiet.seconds);
    cpu_runs.push_back(run.cpu_seconds);
    cpu_idles.push_back(quiet.cpu_seconds);
    result.tck = run.tck - std::min(run.tck, quiet.tck);
    result.ioctls = run.ioctls - std::min(run.ioctls, quiet.ioctls);
  }
  const double idle_seconds = median(idles);
  const auto [low, high] = std::minmax_element(runs.begin(), runs.end());
  result.median_seconds = std::max(0.0, median(runs) - idle_seconds);
  result.low_seconds = std::max(0.0, *low - idle_seconds);
  result.high_seconds = std::max(0.0, *high - idle_seconds);
  result.cpu_seconds = std::max(0.0, median(cpu_runs) - median(cpu_idles));
  return result;
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

void print_job(const char* title, const char* board, bool configures,
               const std::vector<Tool>& tools, const Files& files) {
  std::printf("\n%s (board %s)\n  %-12s %8s %15s %8s %9s %10s %10s %9s\n", title, board, "tool",
              "ms", "(range)", "CPU ms", "TCK", "ioctls", "ioctls/TCK", "x velnor");
  double velnor_seconds = 0;
  for (const Tool& tool : tools) {
    if (tool.program != nullptr && !installed(tool.program)) {
      std::printf("  %-12s not installed\n", tool.name);
      continue;
    }
    const Measurement m = measure(tool.command, tool.idle, board, configures, files);
    if (!m.failure.empty()) {
      std::printf("  %-12s failed: %s: %s\n", tool.name,
                  tool.program != nullptr ? tool.program : "velnor", m.failure.c_str());
      continue;
    }
    if (tool.program == nullptr) velnor_seconds = m.cpu_seconds;
    char range[32];
    std::snprintf(range, sizeof range, "(%.1f-%.1f)", m.low_seconds * 1e3, m.high_seconds * 1e3);
    std::printf("  %-12s %8.1f %15s %8.1f %9llu %10llu %10.2f %9.2f\n", tool.name,
                m.median_seconds * 1e3, range, m.cpu_seconds * 1e3,
                static_cast<unsigned long long>(m.tck), static_cast<unsigned long long>(m.ioctls),
                m.tck != 0 ? static_cast<double>(m.ioctls) / static_cast<double>(m.tck) : 0.0,
                velnor_seconds > 0 ? m.cpu_seconds / velnor_seconds : 0.0);
  }
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// OpenOCD's parport driver with the taps of a board, at its default speed
// or with no wait states.
std::string openocd(const std::string& taps, bool no_wait_states) {
  return "openocd -c 'adapter driver parport' -c 'parport port 0' -c 'parport cable dlc5' " +
         std::string(no_wait_states ? "-c 'parport toggling_time 1000' -c 'adapter speed 500' "
                                    : "") +
         taps + "-c 'pld device virtex2 xc2s.tap' -c init ";
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
  const Files files{dir + "/counts", dir + "/pins", dir + "/output"};

  // Inputs: urJTAG command scripts, an SVF file, a bitstream.
  const std::string cable = "cable DLC5 ppdev /dev/parport0\n";
  write_file(dir + "/urjtag-idle", cable);
  write_file(dir + "/urjtag-idcodes", cable + repeated("idcode\n", kIdcodeReads));
  velnor::perf::write_shift_svf(dir + "/shift.svf");
  velnor::bench::BitstreamOptions options;
  options.part = velnor::bench::Part::Xc2s200;
  const std::vector<std::uint8_t> bitstream =
      velnor::bench::make_bit_file(velnor::bench::make_bitstream(options), {});
  const std::string bit_file = dir + "/xc2s200.bit";
  write_file(bit_file, std::string(bitstream.begin(), bitstream.end()));

  const std::string both_taps =
      "-c 'jtag newtap xcf tap -irlen 8 -expected-id 0xd5045093' "
      "-c 'jtag newtap xc2s tap -irlen 5 -expected-id 0x0061c093' ";
  const std::string fpga_tap = "-c 'jtag newtap xc2s tap -irlen 5 -expected-id 0x0061c093' ";
  // Every tool's job on a board, and the same tool doing no work there.
  const auto velnor_tool = [&](const std::string& job) {
    return Tool{"velnor", nullptr, self + " velnor " + job, self + " velnor open"};
  };
  const auto openocd_tools = [&](const std::string& taps, const std::string& job) {
    std::vector<Tool> tools;
    for (const bool fast : {false, true}) {
      tools.push_back({fast ? "openocd 0ws" : "openocd", "openocd",
                       openocd(taps, fast) + job + " -c shutdown",
                       openocd(taps, fast) + "-c shutdown"});
    }
    return tools;
  };
  const auto join = [](std::vector<Tool> first, const std::vector<Tool>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
  };
  const Tool xc3sprog_config{"xc3sprog", "xc3sprog", "xc3sprog -c dlc5 -p 0 " + bit_file,
                             "xc3sprog -c dlc5"};

  std::printf(
      "ppdev calls and time per job through the preload library: the median wall time of %d\n"
      "runs and their range, and the median CPU time of the processes, each less the median of\n"
      "%d runs of the same tool doing no work. A failed job is not timed: a tool must exit\n"
      "with 0 and clock the chain, and a configuration must leave the FPGA's DONE high.\n"
      "x velnor compares CPU times, which other jobs on the machine disturb less.\n"
      "openocd runs at its default parport speed (every port write repeated: wait states)\n"
      "and, as openocd 0ws, with parport toggling_time 1000 and adapter speed 500 (none).\n",
      kRepeats, kRepeats);
  print_job("read the chain's IDCODEs 1000 times", kBoard, false,
            join({velnor_tool("idcodes"),
                  {"urjtag", "jtag", "jtag -q " + dir + "/urjtag-idcodes",
                   "jtag -q " + dir + "/urjtag-idle"}},
                 join(openocd_tools(both_taps,
                                    "-c 'for {set i 0} {$i < 1000} {incr i} { jtag arp_init }'"),
                      {{"xc3sprog", "xc3sprog", "xc3sprog -c dlc5 -T1000", "xc3sprog -c dlc5"}})),
            files);
  print_job(
      "shift 1 Mbit through the data registers", kBoard, false,
      join({velnor_tool("shift")}, openocd_tools(both_taps, "-c 'svf " + dir + "/shift.svf'")),
      files);
  print_job("configure the XC2S200 (1,335,840 bits), alone on the chain", kFpgaBoard, true,
            join(join({velnor_tool("config " + bit_file)},
                      openocd_tools(fpga_tap, "-c 'pld load 0 " + bit_file + "'")),
                 {xc3sprog_config}),
            files);
  print_job("configure the XC2S200 with the XCF02S beside it", kBoard, true,
            join(join({velnor_tool("config " + bit_file)},
                      openocd_tools(both_taps, "-c 'pld load 0 " + bit_file + "'")),
                 {xc3sprog_config}),
            files);
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
