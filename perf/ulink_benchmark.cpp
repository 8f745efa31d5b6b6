// OpenOCD's ulink driver with its OpenULINK firmware, and velnor with its
// own, on the same emulated EZ-USB (velnor-usb-run, through the real
// libusb), side by side: 8051 machine cycles per TCK cycle, bulk transfers
// and packets for a chain scan, and for a 1 Mbit DR shift (OpenOCD: an SVF
// file with one SDR; velnor: one DR scan). Each job's figures are the difference between a harness
// run with the job and the same run without it; every run first downloads
// the firmware (OpenOCD's first run) and waits for the chip to come back.
// The harness runs on real time, so the firmware's poll loop between the
// host's requests (up to 3000 cycles after each) counts too.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "api/session.h"
#include "jtag/tap.h"
#include "shift_job.h"
#include "velnor.h"

namespace {

using velnor::perf::write_file;

struct Counts {
  std::map<std::string, double> values;
  double seconds = 0;
};

// One harness run of the shell commands on the board; the counters it wrote
// at exit.
Counts run(const std::string& dir, const std::string& commands, const char* board = "usb=0:ulink") {
  const std::string counts = dir + "/counts";
  const std::string command = "env -u VELNOR_BENCH VELNOR_USB_BENCH='" + std::string(board) +
                              "' VELNOR_USB_COUNTS='" + counts + "' " VELNOR_USB_RUN " sh -c '" +
                              commands + "' >" + dir + "/output 2>&1";
  const auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s (see %s/output)\n", commands.c_str(), dir.c_str());
    std::exit(1);
  }
  Counts result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::ifstream file(counts);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    if (name == "unit") {
      std::string unit, key;
      double value = 0;
      words >> unit;
      while (words >> key >> value) result.values[key] = value;
    } else if (name == "tck") {
      words >> result.values["tck"];
    }
  }
  return result;
}

// velnor's side, run by this program under the harness: open USB cable 0
// (the library downloads its firmware), then scan the chain or shift 1 Mbit
// through a DR scan.
int velnor_job(const std::string& job) {
  if (velnor_init(VELNOR_CABLE_USB) != VELNOR_OK) return 1;
  std::uint32_t result = VELNOR_OK;
  if (job == "scan") {
    result = velnor_scan_chain(nullptr);
  } else if (job == "shift") {
    velnor::Jtag& jtag = velnor::session().target.jtag;
    result |= velnor::perf::shift_with_velnor(jtag);
    if (jtag.cable.failed) result |= VELNOR_ERR_PROBE;
  }
  velnor_free();
  return result == VELNOR_OK ? 0 : 1;
}

void report(const char* job, const Counts& with, const Counts& without) {
  const auto delta = [&](const char* key) { return with.values.at(key) - without.values.at(key); };
  const double tck = delta("tck");
  std::printf("%-13s %10.0f %14.0f %9.2f %9.0f %7.0f %9.0f %8.0f %8.0f %8.2f\n", job, tck,
              delta("machine_cycles"), delta("machine_cycles") / tck, delta("bulk_transfers"),
              delta("bulk_reads"), delta("packets_out"), delta("packets_in"), delta("frames_used"),
              with.seconds - without.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "velnor-job") return velnor_job(argv[2]);
  char pattern[] = "/tmp/ulink_benchmark_XXXXXX";
  const char* folder = mkdtemp(pattern);
  if (folder == nullptr) return 1;
  const std::string dir = folder;
  write_file(dir + "/ulink.cfg",
             "adapter driver ulink\ntransport select jtag\nadapter speed 3000\n");
  velnor::perf::write_shift_svf(dir + "/shift.svf");

  const std::string openocd = "openocd -f " + dir + "/ulink.cfg ";
  // OpenOCD 0.12's first run loads the firmware and stops (see the README).
  const std::string loaded = openocd + "-c init -c shutdown; sleep 1; ";
  const Counts download = run(dir, loaded);
  const Counts scan = run(dir, loaded + openocd + "-c init -c shutdown");
  const Counts shift =
      run(dir, loaded + openocd + "-c init -c \"svf " + dir + "/shift.svf\" -c shutdown");

  // velnor with its own firmware on the same emulated chip.
  const std::string self = std::string(argv[0]) + " velnor-job ";
  const Counts opened = run(dir, self + "open", "usb=0");
  const Counts velnor_scan = run(dir, self + "scan", "usb=0");
  const Counts velnor_shift = run(dir, self + "shift", "usb=0");

  std::printf("%-13s %10s %14s %9s %9s %7s %9s %8s %8s %8s\n", "job", "TCK", "8051 cycles",
              "per TCK", "transfers", "reads", "packets", "in", "frames", "s");
  report("OpenULINK scan", scan, download);
  report("velnor scan", velnor_scan, opened);
  report("OpenULINK shift", shift, scan);
  report("velnor shift", velnor_shift, opened);
  return std::system(("rm -rf '" + dir + "'").c_str()) == 0 ? 0 : 1;
}
