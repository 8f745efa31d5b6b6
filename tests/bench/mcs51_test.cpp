// The 8051 core on hand-assembled programs: what the cross-check with s51
// (mcs51_s51_test) cannot reach — the AN2131's MOVX stretch and timer
// rate, its DPS bits, the MOVX @Ri page register, breakpoints and cycle budgets, reset,
// the shared code RAM, the interrupt and timer lines driven from outside,
// and the speed figure. Instruction results and cycle counts are checked
// there, exactly, against s51.
#include "bench/mcs51.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "bench/mcs51_harness.h"

namespace velnor::bench {
namespace {

class Machine {
 public:
  explicit Machine(std::initializer_list<std::uint8_t> program, Mcs51::Options options = {})
      : cpu(bus, options) {
    const std::vector<std::uint8_t> bytes(program);
    cpu.load(0, bytes);
  }
  RamBus bus;
  Mcs51 cpu;
};

// The core with the AN2131's timings.
struct An2131Machine : Machine {
  explicit An2131Machine(std::initializer_list<std::uint8_t> program)
      : Machine(program, {.timing = Mcs51::Timing::An2131}) {}
};

TEST(Mcs51Cycles, An2131MovxTakesOneStretchCycleAndTimersCountEveryThirdCycle) {
  An2131Machine m({
      0x75, 0x89, 0x01,  // MOV TMOD, #01h: timer 0, 16 bits
      0xD2, 0x8C,        // SETB TR0
      0xE0,              // MOVX A, @DPTR: 3
      0xF0,              // MOVX @DPTR, A: 3
      0xE2,              // MOVX A, @R0: 3
      0xF2,              // MOVX @R0, A: 3
      0x00, 0x00, 0x00,  // NOP x3
      0xA5,              // stop
  });
  EXPECT_EQ(m.cpu.step(2).cycles, 3 + 2u);
  EXPECT_EQ(m.cpu.step(4).cycles, 4 * 3u);
  EXPECT_EQ(m.cpu.step(3).cycles, 3u);
  // SETB TR0's second cycle and the 15 after it: five counts of 12 clocks.
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTl0), 5);
  EXPECT_EQ(m.bus.reads, 2);
  EXPECT_EQ(m.bus.writes, 2);
}

TEST(Mcs51Cycles, An2131MovxFollowsTheCkconStretch) {
  An2131Machine m({
      0x75, 0x8E, 0x00,  // MOV CKCON, #00h: no stretch
      0xE0,              // MOVX A, @DPTR: 2
      0xF3,              // MOVX @R1, A: 2
      0x75, 0x8E, 0x02,  // MOV CKCON, #02h: two stretch cycles
      0xE2,              // MOVX A, @R0: 4
      0x75, 0x8E, 0x04,  // MOV CKCON, #04h: seven stretch cycles
      0xF0,              // MOVX @DPTR, A: 9
      0xA5,              // stop
  });
  EXPECT_EQ(m.cpu.sfr(Mcs51::kCkcon), 0x01);
  m.cpu.step(1);
  EXPECT_EQ(m.cpu.step(2).cycles, 2 + 2u);
  m.cpu.step(1);
  EXPECT_EQ(m.cpu.step(1).cycles, 4u);
  m.cpu.step(1);
  EXPECT_EQ(m.cpu.step(1).cycles, 9u);
  // The classic core has no CKCON: its MOVX keeps the table's 2 cycles.
  Machine classic({0x75, 0x8E, 0x00, 0xE0, 0xA5});
  EXPECT_EQ(classic.cpu.sfr(Mcs51::kCkcon), 0x00);
  classic.cpu.step(1);
  EXPECT_EQ(classic.cpu.step(1).cycles, 2u);
}

TEST(Mcs51Execution, StopsAtTheUndefinedOpcode) {
  Machine m({0x74, 0x01, 0xA5, 0x04});
  Mcs51::Result result = m.cpu.run(100);
  EXPECT_EQ(result.stop, Mcs51::Stop::IllegalOpcode);
  EXPECT_EQ(result.instructions, 1u);
  EXPECT_EQ(result.cycles, 1u);
  EXPECT_EQ(m.cpu.pc(), 2);
  // It stays stopped there until moved on.
  result = m.cpu.step(5);
  EXPECT_EQ(result.stop, Mcs51::Stop::IllegalOpcode);
  EXPECT_EQ(result.instructions, 0u);
  m.cpu.set_pc(3);
  EXPECT_EQ(m.cpu.step().stop, Mcs51::Stop::Done);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kAcc), 2);
}

TEST(Mcs51Execution, BreakpointsStopBeforeTheInstructionAndLetTheRunGoOn) {
  Machine m({
      0x04,        // 0000h INC A
      0x04,        // 0001h INC A
      0x80, 0xFC,  // 0002h SJMP 0000h
  });
  m.cpu.add_breakpoint(0x0001);
  Mcs51::Result result = m.cpu.run(1000);
  EXPECT_EQ(result.stop, Mcs51::Stop::Breakpoint);
  EXPECT_EQ(m.cpu.pc(), 1);
  EXPECT_EQ(result.instructions, 1u);
  result = m.cpu.run(1000);  // starts at the breakpoint and goes round once
  EXPECT_EQ(result.stop, Mcs51::Stop::Breakpoint);
  EXPECT_EQ(result.instructions, 3u);
  EXPECT_EQ(result.cycles, 4u);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kAcc), 3);
  m.cpu.remove_breakpoint(0x0001);
  result = m.cpu.run(1000);
  EXPECT_EQ(result.stop, Mcs51::Stop::Done);
  EXPECT_EQ(result.cycles, 1000u);
}

TEST(Mcs51Execution, CycleBudgetFinishesTheInstructionInProgress) {
  Machine m({0x80, 0xFE});  // SJMP $
  EXPECT_EQ(m.cpu.run(1001).cycles, 1002u);
  EXPECT_EQ(m.cpu.step(7).cycles, 14u);
  EXPECT_EQ(m.cpu.cycles(), 1016u);
}

TEST(Mcs51Execution, ResetRestoresSfrsAndKeepsRam) {
  Machine m({
      0x75, 0x81, 0x40,  // MOV SP, #40h
      0x75, 0x90, 0x00,  // MOV P1, #00h
      0x75, 0x30, 0x99,  // MOV 30h, #99h
  });
  m.cpu.step(3);
  m.cpu.reset();
  EXPECT_EQ(m.cpu.pc(), 0);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kSp), 0x07);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kP1), 0xFF);
  EXPECT_EQ(m.cpu.iram(0x30), 0x99);
}

TEST(Mcs51Memory, ExternalDataGoesThroughTheBusAboveTheSharedCodeRam) {
  Machine m(
      {
          0x90, 0x7F, 0x96,  // MOV DPTR, #7F96h (OUTA on the AN2131)
          0x74, 0x5A,        // MOV A, #5Ah
          0xF0,              // MOVX @DPTR, A
          0xE0,              // MOVX A, @DPTR
          0x90, 0x00, 0x20,  // MOV DPTR, #0020h: code RAM
          0x74, 0x04,        // MOV A, #04h (INC A)
          0xF0,              // MOVX @DPTR, A
          0x02, 0x00, 0x20,  // LJMP 0020h
      },
      {.shared_code_size = 0x2000});
  m.bus.memory[0x0020] = 0xFF;  // not reached: the core's own RAM is used
  m.cpu.step(8);
  EXPECT_EQ(m.bus.writes, 1);
  EXPECT_EQ(m.bus.reads, 1);
  EXPECT_EQ(m.bus.memory[0x7F96], 0x5A);
  EXPECT_EQ(m.cpu.code()[0x20], 0x04);
  // The byte written as data runs as code.
  m.cpu.step();
  EXPECT_EQ(m.cpu.sfr(Mcs51::kAcc), 0x05);
}

TEST(Mcs51Memory, MovxThroughR0TakesTheHighByteFromMpageOrP2) {
  const std::initializer_list<std::uint8_t> program = {
      0x75, 0x92, 0x7F,  // MOV MPAGE, #7Fh
      0x75, 0xA0, 0x20,  // MOV P2, #20h
      0x78, 0x97,        // MOV R0, #97h
      0x74, 0x33,        // MOV A, #33h
      0xF2,              // MOVX @R0, A
  };
  Machine an2131(program);
  an2131.cpu.step(5);
  EXPECT_EQ(an2131.bus.memory[0x7F97], 0x33);
  Machine classic(program, {.ri_page = Mcs51::RiPage::Port2});
  classic.cpu.step(5);
  EXPECT_EQ(classic.bus.memory[0x2097], 0x33);
}

// DPS on the AN2131 has its select bit only: whatever an instruction writes,
// bits 7..1 read 0, so INC DPS toggles the pointer; MOV DPL/DPH name the
// first pointer whichever is selected. The classic core has one pointer and
// keeps 86h as a plain byte. (s51 keeps DPS whole, so the cross-check
// cannot see this.)
TEST(Mcs51Registers, DpsHoldsOnlyItsSelectBit) {
  struct Step {
    std::vector<std::uint8_t> instruction;
    std::uint8_t dps, classic_dps;
    std::uint16_t dptr, classic_dptr;
  };
  const std::vector<Step> steps = {
      {{0x75, 0x84, 0x00}, 0x00, 0x00, 0x1000, 0x1000},  // MOV DPL1, #00h
      {{0x75, 0x85, 0x20}, 0x00, 0x00, 0x1000, 0x1000},  // MOV DPH1, #20h
      {{0x75, 0x86, 0xFE}, 0x00, 0xFE, 0x1000, 0x1000},  // MOV DPS, #FEh
      {{0x75, 0x86, 0xFF}, 0x01, 0xFF, 0x2000, 0x1000},  // MOV DPS, #FFh
      {{0x05, 0x86}, 0x00, 0x00, 0x1000, 0x1000},        // INC DPS
      {{0x15, 0x86}, 0x01, 0xFF, 0x2000, 0x1000},        // DEC DPS
      {{0x63, 0x86, 0x03}, 0x00, 0xFC, 0x1000, 0x1000},  // XRL DPS, #03h
      {{0x43, 0x86, 0x81}, 0x01, 0xFD, 0x2000, 0x1000},  // ORL DPS, #81h
      {{0xA3}, 0x01, 0xFD, 0x2001, 0x1001},              // INC DPTR
      {{0x75, 0x82, 0x55}, 0x01, 0xFD, 0x2001, 0x1055},  // MOV DPL, #55h
      {{0x85, 0x82, 0x86}, 0x01, 0x55, 0x2001, 0x1055},  // MOV DPS, DPL
      {{0x75, 0x86, 0x00}, 0x00, 0x00, 0x1055, 0x1055},  // MOV DPS, #00h
  };
  std::vector<std::uint8_t> program = {0x90, 0x10, 0x00};  // MOV DPTR, #1000h
  for (const Step& step : steps) {
    program.insert(program.end(), step.instruction.begin(), step.instruction.end());
  }
  for (const bool an2131 : {true, false}) {
    RamBus bus;
    Mcs51 cpu(bus, {.timing = an2131 ? Mcs51::Timing::An2131 : Mcs51::Timing::Classic});
    cpu.load(0, program);
    cpu.step();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE(testing::Message() << (an2131 ? "AN2131" : "classic") << " step " << i);
      cpu.step();
      EXPECT_EQ(cpu.sfr(Mcs51::kDps), an2131 ? steps[i].dps : steps[i].classic_dps);
      EXPECT_EQ(cpu.dptr(), an2131 ? steps[i].dptr : steps[i].classic_dptr);
    }
  }
}

// A program whose handlers at 0003h, 000Bh and 0043h count their calls in
// 40h, 41h and 42h; the main loop at 0050h increments R7.
std::vector<std::uint8_t> interrupt_program(std::initializer_list<std::uint8_t> setup) {
  std::vector<std::uint8_t> code(0x60, 0x00);
  const auto put = [&code](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), code.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(0x00, {0x02, 0x00, 0x48});  // LJMP 0048h
  put(0x03, {0x05, 0x40, 0x32});  // INC 40h; RETI
  put(0x0B, {0x05, 0x41, 0x32});  // INC 41h; RETI
  put(0x43, {0x05, 0x42, 0x32});  // INC 42h; RETI
  put(0x48, {0x02, 0x00, 0x50});  // LJMP 0050h (after the setup bytes)
  std::vector<std::uint8_t> program(code.begin(), code.begin() + 0x50);
  program.insert(program.end(), setup.begin(), setup.end());
  program.insert(program.end(), {0x0F, 0x80, 0xFD});  // INC R7; SJMP back
  return program;
}

TEST(Mcs51Interrupts, UsbInterruptVectorsTo43hAndItsFlagStaysForTheFirmware) {
  RamBus bus;
  Mcs51 cpu(bus);
  cpu.load(0, interrupt_program({
                  0x75, 0xE8, 0x01,  // MOV EIE, #01h
                  0x75, 0xA8, 0x80,  // MOV IE, #80h
              }));
  cpu.step(4);
  cpu.set_line(Mcs51::Line::Usb, true);
  EXPECT_EQ(cpu.sfr(Mcs51::kExif), 0x10);
  const Mcs51::Result result = cpu.step();
  // The instruction in progress, then the hardware call of two cycles.
  EXPECT_EQ(cpu.pc(), 0x43);
  EXPECT_EQ(result.cycles, 1 + 2u);
  EXPECT_EQ(cpu.iram(cpu.sfr(Mcs51::kSp)), 0x00);  // return address high byte
  cpu.step(2);
  EXPECT_EQ(cpu.iram(0x42), 1);
  // Still flagged: after the one instruction RETI lets through, the handler
  // runs again, as it does for firmware that forgets to clear EXIF.
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x43);
  cpu.set_sfr(Mcs51::kExif, 0x00);
  cpu.step(20);
  EXPECT_EQ(cpu.iram(0x42), 2);
  // The line staying high does not set the flag again; a new edge does.
  cpu.set_line(Mcs51::Line::Usb, true);
  cpu.step(20);
  EXPECT_EQ(cpu.iram(0x42), 2);
  cpu.set_line(Mcs51::Line::Usb, false);
  cpu.set_line(Mcs51::Line::Usb, true);
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x43);
  cpu.step();
  EXPECT_EQ(cpu.iram(0x42), 3);
}

TEST(Mcs51Interrupts, HighPriorityPreemptsLowAndNotTheOtherWay) {
  RamBus bus;
  Mcs51 cpu(bus);
  std::vector<std::uint8_t> program = interrupt_program({
      0x75, 0x88, 0x01,  // MOV TCON, #01h: INT0 edge-triggered
      0x75, 0xB8, 0x01,  // MOV IP, #01h: INT0 high
      0x75, 0xE8, 0x01,  // MOV EIE, #01h
      0x75, 0xA8, 0x83,  // MOV IE, #83h: EA, EX0, ET0
  });
  program[0x0B] = 0x80;  // the timer 0 handler waits: SJMP $
  program[0x0C] = 0xFE;
  cpu.load(0, program);
  cpu.step(6);
  cpu.set_sfr(Mcs51::kTcon, 0x21);  // TF0: low priority
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x0B);
  cpu.set_line(Mcs51::Line::Usb, true);  // low too: waits
  cpu.step(5);
  EXPECT_EQ(cpu.pc(), 0x0B);
  cpu.set_line(Mcs51::Line::Int0, true);  // high: preempts
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x03);
  EXPECT_EQ(cpu.sfr(Mcs51::kTcon) & 0x02, 0);  // the call cleared the edge flag
  cpu.step(2);
  EXPECT_EQ(cpu.iram(0x40), 1);
  EXPECT_EQ(cpu.pc(), 0x0B);  // back in the low handler, USB still waiting
  EXPECT_EQ(cpu.iram(0x42), 0);
}

TEST(Mcs51Interrupts, LevelTriggeredInt0FollowsTheLine) {
  RamBus bus;
  Mcs51 cpu(bus);
  cpu.load(0, interrupt_program({0x75, 0xA8, 0x81}));  // MOV IE, #81h
  cpu.step(3);
  cpu.set_line(Mcs51::Line::Int0, true);
  EXPECT_EQ(cpu.sfr(Mcs51::kTcon), 0x02);
  cpu.step(9);  // while the line stays low the handler runs again and again
  EXPECT_EQ(cpu.iram(0x40), 3);
  cpu.set_line(Mcs51::Line::Int0, false);
  EXPECT_EQ(cpu.sfr(Mcs51::kTcon), 0x00);
  cpu.step(20);
  EXPECT_EQ(cpu.iram(0x40), 3);
}

TEST(Mcs51Timers, GateRunsTimer0OnlyWhileInt0IsHigh) {
  Machine m({
      0x75, 0x89, 0x09,  // MOV TMOD, #09h: GATE, 16 bits
      0xD2, 0x8C,        // SETB TR0
      0x80, 0xFE,        // SJMP $
  });
  m.cpu.step(2);
  m.cpu.step(10);  // 20 cycles
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTl0), 20);
  m.cpu.set_line(Mcs51::Line::Int0, true);
  m.cpu.step(10);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTl0), 20);
  m.cpu.set_line(Mcs51::Line::Int0, false);
  m.cpu.step(5);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTl0), 30);
}

TEST(Mcs51Timers, Timer1RunsWithoutTr1WhileTimer0IsSplit) {
  // Intel's manual: with timer 0 in mode 3, TH0 takes TR1 and TF1, and
  // timer 1 runs unless put into mode 3 itself. (s51 also stops timer 1
  // with TR1 here.)
  Machine m({
      0x75, 0x89, 0x13,  // MOV TMOD, #13h
      0x80, 0xFE,        // SJMP $
  });
  m.cpu.step();
  const unsigned start = m.cpu.sfr(Mcs51::kTl1);
  m.cpu.step(5);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTl1), start + 10);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTl0), 0);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTh0), 0);
  m.cpu.set_sfr(Mcs51::kTmod, 0x33);
  m.cpu.step(5);
  EXPECT_EQ(m.cpu.sfr(Mcs51::kTl1), start + 10);
}

// Instructions per second on a JTAG-like byte loop: shift a byte out
// through the carry and write each bit to a port register over the bus.
// A figure for the record, not a timed assertion.
TEST(Mcs51Speed, ReportsInstructionsPerSecond) {
  Machine m({
      0x90, 0x7F, 0x97,  // MOV DPTR, #7F97h (OUTB)
      0x7A, 0xA5,        // MOV R2, #A5h
      0xEA,              // 0005h MOV A, R2
      0x13,              // RRC A
      0xFA,              // MOV R2, A
      0x92, 0xE0,        // MOV ACC.0, C
      0xF0,              // MOVX @DPTR, A
      0xD9, 0xF8,        // DJNZ R1, 0005h
      0x80, 0xF6,        // SJMP 0005h
  });
  constexpr std::uint64_t kCycles = 20'000'000;
  const auto start = std::chrono::steady_clock::now();
  const Mcs51::Result result = m.cpu.run(kCycles);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(result.cycles, kCycles);
  const double rate = static_cast<double>(result.instructions) / elapsed.count();
  std::printf("8051 core: %.1f million instructions/s (%.0f times an AN2131 at 24 MHz)\n",
              rate / 1e6, static_cast<double>(result.cycles) / elapsed.count() / 6e6);
  RecordProperty("instructions_per_second", static_cast<int>(rate));
}

}  // namespace
}  // namespace velnor::bench
