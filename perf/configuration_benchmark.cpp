// Configures the default board's XC2S200 through the parallel cable on the
// bench and prints where the time goes: wall time, TCK cycles, printer-port
// accesses per cycle, and CPU time per cycle split between the library and
// the bench. The bench's share is measured by replaying the recorded port
// traffic into a fresh board with no library in the loop.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bitstream.h"
#include "bench/board.h"
#include "velnor.h"

namespace {

using velnor::bench::Board;
using velnor::bench::TraceEntry;

double thread_cpu_ns() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

Board& fresh_board() {
  velnor_free();
  velnor::bench::install_board(velnor::bench::make_board("default"));
  if (velnor_init(VELNOR_CABLE_PARALLEL) != VELNOR_OK) {
    std::fprintf(stderr, "the parallel cable did not open\n");
    std::exit(1);
  }
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
  Board& board = fresh_board();
  if (velnor_get_status(nullptr, nullptr, nullptr) != VELNOR_OK) std::exit(1);
  board.trace().enable(traced);
  board.trace().clear();
  std::int32_t count = static_cast<std::int32_t>(bitstream.size());
  const std::uint64_t cycles = board.chain().cycle_count();
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = thread_cpu_ns();
  const std::uint32_t result = velnor_config(bitstream.data(), &count);
  const Run run{
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - wall).count(),
      thread_cpu_ns() - cpu, board.chain().cycle_count() - cycles};
  if (result != VELNOR_OK) {
    std::fprintf(stderr, "configuration failed: 0x%08X\n", result);
    std::exit(1);
  }
  return run;
}

}  // namespace

int main() {
  setenv("VELNOR_BENCH", "default", 1);
  velnor::bench::BitstreamOptions options;
  options.part = velnor::bench::Part::Xc2s200;
  const std::vector<std::uint8_t> bitstream = velnor::bench::make_bitstream(options);

  constexpr int kRuns = 5;
  std::vector<Run> runs;
  for (int i = 0; i < kRuns; ++i) runs.push_back(configure_once(bitstream, false));
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
  for (int i = 0; i < kRuns; ++i) {
    Board& board = fresh_board();
    if (velnor_get_status(nullptr, nullptr, nullptr) != VELNOR_OK) return 1;
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
  std::printf("  wall time           %8.1f ms (best of %d)\n", best.wall_ns / 1e6, kRuns);
  std::printf("  TCK cycles          %8llu\n", static_cast<unsigned long long>(best.cycles));
  std::printf("  port accesses       %8.3f per TCK cycle (%.3f writes, %.3f reads)\n",
              static_cast<double>(writes + reads) / cycles, static_cast<double>(writes) / cycles,
              static_cast<double>(reads) / cycles);
  std::printf("  CPU, all            %8.2f ns per TCK cycle\n", best.cpu_ns / cycles);
  std::printf("  CPU, bench alone    %8.2f ns per TCK cycle\n", bench_ns / cycles);
  std::printf("  CPU, library        %8.2f ns per TCK cycle\n", (best.cpu_ns - bench_ns) / cycles);
  return 0;
}
