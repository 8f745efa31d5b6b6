// Configures the default board's XC2S200 through the parallel cable and
// prints where the time goes.
//
// On the bench: wall time, TCK cycles, printer-port accesses per cycle, CPU
// time per cycle of library and bench together, and of the bench alone (the
// recorded port traffic replayed into a fresh board with no library in the
// loop).
//
// The library alone: the same configuration through the library's real
// Linux path (the ppdev backend, ioctl on /dev/parport0), with the port
// answered by libvelnor_ppdev_stub.so instead of the kernel. The stub
// replays the port reads of a bench run, so the library takes the same
// branches, and otherwise only counts. The benchmark starts itself again
// with the stub preloaded for that: configuration_benchmark stub.
#include <dlfcn.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bitstream.h"
#include "bench/board.h"
#include "cables/parallel/parallel_cable.h"
#include "velnor.h"

namespace {

using velnor::bench::Board;
using velnor::bench::TraceEntry;

constexpr int kBenchRuns = 5;
constexpr int kStubRuns = 11;

double thread_cpu_ns() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

std::vector<std::uint8_t> xc2s200_bitstream() {
  velnor::bench::BitstreamOptions options;
  options.part = velnor::bench::Part::Xc2s200;
  return velnor::bench::make_bitstream(options);
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "configuration_benchmark: %s\n", what);
  std::exit(1);
}

void configure(const std::vector<std::uint8_t>& bitstream) {
  std::int32_t count = static_cast<std::int32_t>(bitstream.size());
  const std::uint32_t result = velnor_config(bitstream.data(), &count);
  if (result != VELNOR_OK) {
    std::fprintf(stderr, "configuration failed: 0x%08X\n", result);
    std::exit(1);
  }
}

// --- On the bench ----------------------------------------------------------------

Board& fresh_board(const char* description) {
  velnor_free();
  velnor::bench::install_board(velnor::bench::make_board(description));
  if (velnor_init(VELNOR_CABLE_PARALLEL) != VELNOR_OK) fail("the parallel cable did not open");
  return velnor::bench::active_board();
}

struct Run {
  double wall_ns;
  double cpu_ns;
  std::uint64_t cycles;
};

// One configuration on a fresh board; the target check (a chain scan) is
// done before timing starts.
Run configure_once(const std::vector<std::uint8_t>& bitstream, bool traced) {
  Board& board = fresh_board("default");
  if (velnor_get_status(nullptr, nullptr, nullptr) != VELNOR_OK) fail("no status");
  board.trace().enable(traced);
  board.trace().clear();
  const std::uint64_t cycles = board.chain().cycle_count();
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = thread_cpu_ns();
  configure(bitstream);
  return {std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - wall).count(),
          thread_cpu_ns() - cpu, board.chain().cycle_count() - cycles};
}

// The port reads of the stub's job (open, configure, close) on the bench,
// as the stub replays them: register offset, value.
std::vector<std::uint8_t> stub_answers(const std::vector<std::uint8_t>& bitstream) {
  Board& board = fresh_board("trace=on");
  configure(bitstream);
  velnor_free();
  std::vector<std::uint8_t> answers;
  for (const TraceEntry& entry : board.trace().entries()) {
    if (entry.kind != TraceEntry::Kind::PortRead) continue;
    answers.push_back(static_cast<std::uint8_t>(entry.port - velnor::DEFAULT_PRINTER_PORT));
    answers.push_back(entry.value);
  }
  return answers;
}

void bench_figures(const std::vector<std::uint8_t>& bitstream) {
  std::vector<Run> runs;
  for (int i = 0; i < kBenchRuns; ++i) runs.push_back(configure_once(bitstream, false));
  std::sort(runs.begin(), runs.end(),
            [](const Run& a, const Run& b) { return a.cpu_ns < b.cpu_ns; });
  const Run& best = runs.front();

  // The port traffic of one configuration, then the bench alone on it.
  configure_once(bitstream, true);
  const std::vector<TraceEntry> traffic = velnor::bench::active_board().trace().entries();
  std::uint64_t writes = 0, reads = 0;
  for (const TraceEntry& entry : traffic) {
    writes += entry.kind == TraceEntry::Kind::PortWrite;
    reads += entry.kind == TraceEntry::Kind::PortRead;
  }
  double bench_ns = 1e300;
  for (int i = 0; i < kBenchRuns; ++i) {
    Board& board = fresh_board("default");
    if (velnor_get_status(nullptr, nullptr, nullptr) != VELNOR_OK) fail("no status");
    const double cpu = thread_cpu_ns();
    for (const TraceEntry& entry : traffic) {
      if (entry.kind == TraceEntry::Kind::PortWrite) board.port_write(entry.port, entry.value);
      if (entry.kind == TraceEntry::Kind::PortRead) board.port_read(entry.port);
    }
    bench_ns = std::min(bench_ns, thread_cpu_ns() - cpu);
  }
  velnor_free();

  const double cycles = static_cast<double>(best.cycles);
  std::printf("configuration of an XC2S200 (%zu bytes) through the parallel cable on the bench\n",
              bitstream.size());
  std::printf("  wall time           %8.1f ms (best of %d)\n", best.wall_ns / 1e6, kBenchRuns);
  std::printf("  TCK cycles          %8llu\n", static_cast<unsigned long long>(best.cycles));
  std::printf("  port accesses       %8.3f per TCK cycle (%.3f writes, %.3f reads)\n",
              static_cast<double>(writes + reads) / cycles, static_cast<double>(writes) / cycles,
              static_cast<double>(reads) / cycles);
  std::printf("  CPU, all            %8.2f ns per TCK cycle\n", best.cpu_ns / cycles);
  std::printf("  CPU, bench alone    %8.2f ns per TCK cycle\n", bench_ns / cycles);
}

// --- The library alone, inside the preloaded child -----------------------------------

struct StubState {
  int fd;
  std::uint64_t calls, tck, faults, unused;
};

using StubRewind = void (*)();
using StubStateFunction = void (*)(int*, std::uint64_t*, std::uint64_t*, std::uint64_t*,
                                   std::uint64_t*);

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int stub_figures() {
  const auto rewind = reinterpret_cast<StubRewind>(dlsym(RTLD_DEFAULT, "velnor_ppdev_stub_rewind"));
  const auto state_function =
      reinterpret_cast<StubStateFunction>(dlsym(RTLD_DEFAULT, "velnor_ppdev_stub_state"));
  if (rewind == nullptr || state_function == nullptr) fail("the ppdev stub is not preloaded");
  const auto state = [&] {
    StubState s{};
    state_function(&s.fd, &s.calls, &s.tck, &s.faults, &s.unused);
    return s;
  };
  const std::vector<std::uint8_t> bitstream = xc2s200_bitstream();

  std::vector<double> ns_per_tck;
  std::uint64_t cycles = 0, calls = 0;
  for (int i = 0; i < kStubRuns; ++i) {
    rewind();
    if (velnor_init(VELNOR_CABLE_PARALLEL) != VELNOR_OK) fail("the cable did not open on the stub");
    const StubState before = state();
    const double cpu = thread_cpu_ns();
    configure(bitstream);
    const double cpu_ns = thread_cpu_ns() - cpu;
    const StubState after = state();
    velnor_free();
    const StubState closed = state();
    if (closed.faults != 0 || closed.unused != 0) {
      fail("the library's port reads left the recorded order: these would not be its figures");
    }
    cycles = after.tck - before.tck;
    calls = after.calls - before.calls;
    ns_per_tck.push_back(cpu_ns / static_cast<double>(cycles));
  }

  // The stub's own cost: the same ioctl, through the same PLT, with nothing
  // of the library around it.
  constexpr int kCalls = 4'000'000;
  const int fd = state().fd;
  std::vector<double> ns_per_call;
  for (int i = 0; i < kStubRuns; ++i) {
    const double cpu = thread_cpu_ns();
    for (int j = 0; j < kCalls; ++j) {
      unsigned char value = (j & 1) != 0 ? 0x12 : 0x10;
      ioctl(fd, PPWDATA, &value);
    }
    ns_per_call.push_back((thread_cpu_ns() - cpu) / kCalls);
  }

  const auto [low, high] = std::minmax_element(ns_per_tck.begin(), ns_per_tck.end());
  const double per_call = median(ns_per_call);
  std::printf(
      "\nthe same configuration by the library alone: its Linux ppdev backend, the port a stub\n"
      "that answers each ioctl from a recording of the bench's reads (%d runs)\n",
      kStubRuns);
  std::printf("  TCK cycles          %8llu\n", static_cast<unsigned long long>(cycles));
  std::printf("  ppdev calls         %8.3f per TCK cycle\n",
              static_cast<double>(calls) / static_cast<double>(cycles));
  std::printf("  CPU, library + stub %8.2f ns per TCK cycle (median; %.2f to %.2f)\n",
              median(ns_per_tck), *low, *high);
  std::printf("  CPU, the stub       %8.2f ns per ppdev call (median of %d runs of %d calls)\n",
              per_call, kStubRuns, kCalls);
  std::printf(
      "  CPU, library        %8.2f ns per TCK cycle (median less the stub's calls)\n",
      median(ns_per_tck) - per_call * static_cast<double>(calls) / static_cast<double>(cycles));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "stub") return stub_figures();

  setenv("VELNOR_BENCH", "default", 1);
  const std::vector<std::uint8_t> bitstream = xc2s200_bitstream();
  bench_figures(bitstream);

  char folder_pattern[] = "/tmp/velnor_configuration_benchmark_XXXXXX";
  const char* folder = mkdtemp(folder_pattern);
  if (folder == nullptr) fail("no temporary folder");
  const std::string answers_path = std::string(folder) + "/answers";
  const std::vector<std::uint8_t> answers = stub_answers(bitstream);
  std::ofstream(answers_path, std::ios::binary)
      .write(reinterpret_cast<const char*>(answers.data()),
             static_cast<std::streamsize>(answers.size()));
  std::fflush(stdout);
  const std::string child = "env -u VELNOR_BENCH LD_PRELOAD='" VELNOR_PPDEV_STUB
                            "' VELNOR_PPDEV_STUB_ANSWERS='" +
                            answers_path + "' '" + argv[0] + "' stub";
  const int status = std::system(child.c_str());
  std::remove(answers_path.c_str());
  rmdir(folder);
  return status == 0 ? 0 : 1;
}
