// Cross-check of the 8051 core against s51, the simulator of SDCC's ucsim
// (Debian package sdcc-ucsim). The programs in mcs51_programs/ are built
// with SDCC's assembler, linker and compiler at build time; each runs to its
// final jump-to-itself here and in s51, and the registers, internal RAM,
// SFRs, external data and the machine cycles must agree exactly.
//
// s51 runs as two CPUs: "C52", the classic 12-clock 8052 with one data
// pointer, against the core's classic timing, and "DS320", the 4-clock
// DS80C320 with the second data pointer (DPS at 0x86), against its AN2131
// timing. s51 pages MOVX @Ri
// with P2 only, so the core runs with RiPage::Port2 against C52 and with
// MPAGE against DS320, and the programs set P2 and MPAGE alike.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bitset>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/mcs51.h"
#include "bench/mcs51_harness.h"

namespace velnor::bench {
namespace {

#ifdef VELNOR_MCS51_PROGRAMS
constexpr const char* kProgramsDir = VELNOR_MCS51_PROGRAMS;
constexpr const char* kS51 = VELNOR_S51;
#else
constexpr const char* kProgramsDir = "";
constexpr const char* kS51 = "";
#endif

constexpr std::uint32_t kXdataWindow = 0x4000;  // compared: 0x0000..0x3FFF

// What both simulators show at the end of a program.
struct Snapshot {
  std::uint16_t pc = 0;
  std::uint64_t cycles = 0;
  std::uint8_t iram[256] = {};
  std::map<std::uint8_t, std::uint8_t> sfrs;
  std::vector<std::uint8_t> xdata;
};

enum class S51Cpu { C52, DS320 };

// The SFRs both simulators implement alike.
std::vector<std::uint8_t> compared_sfrs(S51Cpu cpu) {
  std::vector<std::uint8_t> list = {
      Mcs51::kP0,  Mcs51::kSp,  Mcs51::kDpl, Mcs51::kDph, Mcs51::kTcon,  Mcs51::kTmod, Mcs51::kTl0,
      Mcs51::kTl1, Mcs51::kTh0, Mcs51::kTh1, Mcs51::kP1,  Mcs51::kMpage, Mcs51::kScon, Mcs51::kP2,
      Mcs51::kIe,  Mcs51::kP3,  Mcs51::kIp,  Mcs51::kPsw, Mcs51::kAcc,   Mcs51::kB,
  };
  if (cpu == S51Cpu::DS320) list.insert(list.end(), {Mcs51::kDpl1, Mcs51::kDph1, Mcs51::kDps});
  return list;
}

std::string program_path(const std::string& name) {
  return std::string(kProgramsDir) + "/" + name + ".ihx";
}

// Why the cross-check cannot run here, or empty.
std::string missing_tools() {
  if (std::string(kS51).empty()) {
    return "s51/sdas8051/sdld/sdcc were not found when the build was configured "
           "(Debian packages sdcc and sdcc-ucsim)";
  }
  if (!std::filesystem::exists(kS51)) return std::string(kS51) + " is no longer installed";
  return {};
}

// Runs a program on the core until it jumps to itself, as s51's
// selfjump_stop does (the final jump is executed once).
Snapshot run_core(const std::string& name, Mcs51::Options options,
                  std::bitset<256>* executed = nullptr) {
  RamBus bus;
  Mcs51 cpu(bus, options);
  load_intel_hex(cpu, program_path(name));
  constexpr std::uint64_t kCycleLimit = 50'000'000;
  for (;;) {
    const std::uint16_t pc = cpu.pc();
    if (executed != nullptr) executed->set(cpu.code()[pc]);
    const Mcs51::Result result = cpu.step();
    if (result.stop != Mcs51::Stop::Done) {
      ADD_FAILURE() << name << " stopped at " << pc;
      break;
    }
    if (cpu.pc() == pc) break;
    if (cpu.cycles() > kCycleLimit) {
      ADD_FAILURE() << name << " did not finish";
      break;
    }
  }
  Snapshot snapshot;
  snapshot.pc = cpu.pc();
  snapshot.cycles = cpu.cycles();
  for (unsigned i = 0; i < 256; ++i) snapshot.iram[i] = cpu.iram(static_cast<std::uint8_t>(i));
  for (unsigned i = 0x80; i < 0x100; ++i) {
    snapshot.sfrs[static_cast<std::uint8_t>(i)] = cpu.sfr(static_cast<std::uint8_t>(i));
  }
  snapshot.xdata.assign(bus.memory.begin(), bus.memory.begin() + kXdataWindow);
  return snapshot;
}

// Runs a program in s51 through its command console: clears the memories
// it fills at random, runs to the jump-to-itself and dumps everything.
Snapshot run_s51(const std::string& name, S51Cpu cpu) {
  const std::string script = (std::filesystem::temp_directory_path() /
                              ("velnor-s51-" + std::to_string(getpid()) + "-" + name + "-" +
                               std::to_string(static_cast<int>(cpu)) + ".cmd"))
                                 .string();
  {
    std::ofstream commands(script);
    commands << "set opt selfjump_stop 1\n"
             << "fill iram 0 0xff 0\n"
             << "fill xram 0 0xffff 0\n"
             << "run\n"
             << "state\n"
             << "dump /h iram 0 0xff 16\n"
             << "dump /h sfr 0x80 0xff 16\n"
             << "dump /h xram 0 " << kXdataWindow - 1 << " 16\n"
             << "quit\n";
  }
  const std::string command = "timeout 60 " + std::string(kS51) + " -t " +
                              (cpu == S51Cpu::C52 ? "C52" : "DS320") + " " + program_path(name) +
                              " < " + script + " 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
  }
  std::filesystem::remove(script);

  Snapshot snapshot;
  EXPECT_NE(output.find("Jump to itself"), std::string::npos) << output.substr(0, 2000);
  const std::string pc_label = "CPU state= OK PC= ";
  if (const std::size_t at = output.find(pc_label); at != std::string::npos) {
    snapshot.pc =
        static_cast<std::uint16_t>(std::stoul(output.substr(at + pc_label.size()), nullptr, 16));
  }
  // "Total time since last reset= ... sec (N clks)"
  if (const std::size_t at = output.find("Total time since last reset="); at != std::string::npos) {
    const std::size_t open = output.find('(', at);
    const unsigned clocks_per_cycle = cpu == S51Cpu::C52 ? 12 : 4;
    if (open != std::string::npos) {
      snapshot.cycles = std::stoull(output.substr(open + 1)) / clocks_per_cycle;
    }
  }
  // Dump lines: an address and 16 bytes; iram, then the SFRs, then xram.
  std::istringstream lines(output);
  std::string line;
  std::vector<std::uint8_t> bytes;
  while (std::getline(lines, line)) {
    if (line.rfind("0x", 0) != 0) continue;
    std::istringstream fields(line);
    std::string field;
    fields >> field;  // the address
    std::vector<std::uint8_t> row;
    while (row.size() < 16 && fields >> field && field.size() == 2 &&
           std::isxdigit(static_cast<unsigned char>(field[0])) != 0 &&
           std::isxdigit(static_cast<unsigned char>(field[1])) != 0) {
      row.push_back(static_cast<std::uint8_t>(std::stoul(field, nullptr, 16)));
    }
    if (row.size() == 16) bytes.insert(bytes.end(), row.begin(), row.end());
  }
  EXPECT_EQ(bytes.size(), 256 + 128 + kXdataWindow);
  if (bytes.size() != 256 + 128 + kXdataWindow) return snapshot;
  std::copy(bytes.begin(), bytes.begin() + 256, snapshot.iram);
  for (unsigned i = 0; i < 128; ++i)
    snapshot.sfrs[static_cast<std::uint8_t>(0x80 + i)] = bytes[256 + i];
  snapshot.xdata.assign(bytes.begin() + 256 + 128, bytes.end());
  return snapshot;
}

std::string hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

void expect_same(const Snapshot& core, const Snapshot& s51, S51Cpu cpu,
                 std::uint8_t interrupt_count) {
  EXPECT_EQ(core.pc, s51.pc);
  const unsigned calls = interrupt_count != 0 ? core.iram[interrupt_count] : 0;
  EXPECT_EQ(core.cycles, s51.cycles + calls) << "machine cycles";
  for (unsigned i = 0; i < 256; ++i) {
    EXPECT_EQ(core.iram[i], s51.iram[i]) << "internal RAM " << hex(i);
  }
  for (const std::uint8_t address : compared_sfrs(cpu)) {
    EXPECT_EQ(core.sfrs.at(address), s51.sfrs.at(address)) << "SFR " << hex(address);
  }
  int differences = 0;
  for (std::size_t i = 0; i < core.xdata.size() && i < s51.xdata.size() && differences < 10; ++i) {
    if (core.xdata[i] != s51.xdata[i]) {
      ++differences;
      ADD_FAILURE() << "xdata " << hex(static_cast<unsigned>(i)) << ": core " << hex(core.xdata[i])
                    << ", s51 " << hex(s51.xdata[i]);
    }
  }
}

struct Program {
  const char* name;
  bool c52;    // compared with s51's classic 8052
  bool ds320;  // compared with s51's DS80C320 (second data pointer, 4-clock cycles)
  // Where the program counts the interrupts it took (0: none). s51 charges
  // one machine cycle for an interrupt's hardware call; Intel's manual and
  // the core two.
  std::uint8_t interrupt_count = 0;
};

// s51's DS320 timers count three times per 4-clock machine cycle, where
// the DS80C320 and AN2131 documents have them count once per 12 clocks
// (CKCON's reset value), as the core does; so the timer and interrupt
// programs are checked against C52 only.
const Program kPrograms[] = {
    {"arith", true, true},    {"logic", true, true},   {"bits", true, true},
    {"forms", true, true},    {"jumps", true, true},   {"moves", true, true},
    {"dptr", true, true},     {"timers", true, false}, {"interrupts", true, false, 0x36},
    {"programs", true, true},
};

std::vector<Program> programs_for(bool Program::*cpu) {
  std::vector<Program> list;
  for (const Program& program : kPrograms) {
    if (program.*cpu) list.push_back(program);
  }
  return list;
}

std::string program_name(const testing::TestParamInfo<Program>& param) { return param.param.name; }

class Mcs51VersusS51C52 : public testing::TestWithParam<Program> {};

TEST_P(Mcs51VersusS51C52, AgreesOnRegistersMemoryAndCycles) {
  const Program& program = GetParam();
  if (const std::string missing = missing_tools(); !missing.empty()) GTEST_SKIP() << missing;
  expect_same(run_core(program.name, {.ri_page = Mcs51::RiPage::Port2}),
              run_s51(program.name, S51Cpu::C52), S51Cpu::C52, program.interrupt_count);
}

INSTANTIATE_TEST_SUITE_P(Programs, Mcs51VersusS51C52,
                         testing::ValuesIn(programs_for(&Program::c52)), program_name);

class Mcs51VersusS51Ds320 : public testing::TestWithParam<Program> {};

TEST_P(Mcs51VersusS51Ds320, AgreesOnRegistersMemoryAndCycles) {
  const Program& program = GetParam();
  if (const std::string missing = missing_tools(); !missing.empty()) GTEST_SKIP() << missing;
  expect_same(run_core(program.name, {.timing = Mcs51::Timing::An2131}),
              run_s51(program.name, S51Cpu::DS320), S51Cpu::DS320, program.interrupt_count);
}

INSTANTIATE_TEST_SUITE_P(Programs, Mcs51VersusS51Ds320,
                         testing::ValuesIn(programs_for(&Program::ds320)), program_name);

// Together the programs execute every opcode but the undefined 0xA5, so the
// comparisons above cover the whole instruction set.
TEST(Mcs51Programs, ExecuteEveryOpcode) {
  if (const std::string missing = missing_tools(); !missing.empty()) GTEST_SKIP() << missing;
  std::bitset<256> executed;
  for (const Program& program : kPrograms) {
    run_core(program.name, {}, &executed);
  }
  std::string missed;
  for (unsigned op = 0; op < 256; ++op) {
    if (op != 0xA5 && !executed.test(op)) missed += " " + hex(op);
  }
  EXPECT_EQ(missed, "");
  EXPECT_EQ(executed.count(), 255u);
}

}  // namespace
}  // namespace velnor::bench
