// The 8051 core of the EZ-USB AN2131: the MCS-51 instruction set with the
// classic machine-cycle counts or the AN2131's own, 256 bytes of internal
// RAM, the core SFRs (with MPAGE, and the AN2131's second data pointer),
// timers 0 and 1 and the two-level interrupt system with the USB
// interrupt. External data memory is a bus that the chip model implements,
// so that its registers can act when accessed.
#pragma once

#include <bitset>
#include <cstdint>
#include <span>
#include <vector>

namespace velnor::bench {

// External data memory (MOVX). The EZ-USB model maps its endpoint buffers
// and registers (0x7B40..0x7FFF) here.
class XdataBus {
 public:
  virtual ~XdataBus() = default;
  virtual std::uint8_t read_xdata(std::uint16_t address) = 0;
  virtual void write_xdata(std::uint16_t address, std::uint8_t value) = 0;
};

class Mcs51 {
 public:
  // SFR addresses.
  static constexpr std::uint8_t kP0 = 0x80;
  static constexpr std::uint8_t kSp = 0x81;
  static constexpr std::uint8_t kDpl = 0x82;
  static constexpr std::uint8_t kDph = 0x83;
  static constexpr std::uint8_t kDpl1 = 0x84;
  static constexpr std::uint8_t kDph1 = 0x85;
  // AN2131: bit 0 (SEL) selects DPL1/DPH1 for every instruction that names
  // DPTR; bits 7..1 always read 0. MOV DPL/DPH always reach 0x82/0x83.
  static constexpr std::uint8_t kDps = 0x86;
  static constexpr std::uint8_t kPcon = 0x87;
  static constexpr std::uint8_t kCkcon = 0x8E;  // bits 2..0: MOVX stretch (AN2131)
  static constexpr std::uint8_t kTcon = 0x88;
  static constexpr std::uint8_t kTmod = 0x89;
  static constexpr std::uint8_t kTl0 = 0x8A;
  static constexpr std::uint8_t kTl1 = 0x8B;
  static constexpr std::uint8_t kTh0 = 0x8C;
  static constexpr std::uint8_t kTh1 = 0x8D;
  static constexpr std::uint8_t kP1 = 0x90;
  static constexpr std::uint8_t kExif = 0x91;   // bit 4: USB interrupt flag (INT2)
  static constexpr std::uint8_t kMpage = 0x92;  // high address byte of MOVX @Ri
  static constexpr std::uint8_t kScon = 0x98;
  static constexpr std::uint8_t kSbuf = 0x99;
  static constexpr std::uint8_t kP2 = 0xA0;
  static constexpr std::uint8_t kIe = 0xA8;
  static constexpr std::uint8_t kP3 = 0xB0;
  static constexpr std::uint8_t kIp = 0xB8;
  static constexpr std::uint8_t kPsw = 0xD0;
  static constexpr std::uint8_t kAcc = 0xE0;
  static constexpr std::uint8_t kEie = 0xE8;  // bit 0: USB interrupt enable
  static constexpr std::uint8_t kB = 0xF0;
  static constexpr std::uint8_t kEip = 0xF8;  // bit 0: USB interrupt priority

  // Where MOVX @Ri takes the high address byte from: MPAGE on the AN2131,
  // the P2 latch on a classic 8051.
  enum class RiPage : std::uint8_t { Mpage, Port2 };

  // Machine cycles per instruction: a classic 8051's, of 12 clocks, or the
  // AN2131's, of 4 clocks (Dallas DS80C320 timings; MOVX takes 2 cycles
  // plus the stretch CKCON bits 2..0 select, 1 at reset). Timers count every 12 clocks:
  // every machine cycle on a classic 8051, every third on the AN2131. The
  // AN2131's CKCON and second data pointer come with its timing; on the
  // classic core 0x84..0x86 and 0x8E are plain bytes without effect.
  enum class Timing : std::uint8_t { Classic, An2131 };

  struct Options {
    RiPage ri_page = RiPage::Mpage;
    Timing timing = Timing::Classic;
    // External data addresses below this are the code memory itself: the
    // AN2131's 8 KiB RAM holds code and data (0x2000 there). The rest of
    // the space goes to the bus.
    std::uint32_t shared_code_size = 0;
  };

  // Interrupt request lines a peripheral model drives. Int0 and Int1 are
  // the active-low pins (edge or level by IT0/IT1); Usb is the EZ-USB
  // core's request, whose rising edge sets EXIF bit 4.
  enum class Line : std::uint8_t { Int0, Int1, Usb };

  enum class Stop : std::uint8_t {
    Done,           // the instruction or cycle budget is used up
    Breakpoint,     // PC reached a breakpoint (that instruction not executed)
    IllegalOpcode,  // PC is at 0xA5, the one undefined opcode
  };
  struct Result {
    Stop stop;
    std::uint64_t cycles;        // machine cycles spent, interrupt calls included
    std::uint64_t instructions;  // instructions executed
  };

  explicit Mcs51(XdataBus& bus);
  Mcs51(XdataBus& bus, Options options);
  Mcs51(const Mcs51&) = delete;
  Mcs51& operator=(const Mcs51&) = delete;

  // The reset pin: PC 0, SFRs to their reset values, no interrupt in
  // service. Internal RAM and code memory keep their contents.
  void reset();

  // Code memory, 64 KiB, writable by the host model (firmware download).
  std::span<std::uint8_t> code();
  void load(std::uint16_t address, std::span<const std::uint8_t> bytes);

  // Execution. The first instruction of a call runs even at a breakpoint,
  // so that a stopped run can go on.
  Result step(std::uint64_t instructions = 1);
  // Runs until at least max_cycles machine cycles are spent.
  Result run(std::uint64_t max_cycles);
  void add_breakpoint(std::uint16_t address);
  void remove_breakpoint(std::uint16_t address);

  // Machine cycles since construction (12 clocks each with Timing::Classic,
  // 4 with Timing::An2131).
  std::uint64_t cycles() const;
  std::uint16_t pc() const;
  void set_pc(std::uint16_t pc);
  // The active data pointer (selected by DPS).
  std::uint16_t dptr() const;

  // Internal RAM through indirect addressing (0x00..0xFF).
  std::uint8_t iram(std::uint8_t address) const;
  void set_iram(std::uint8_t address, std::uint8_t value);
  // SFRs (0x80..0xFF) as an instruction sees them: PSW's parity bit follows
  // ACC. Writes act as an instruction's write does (timers, interrupts).
  std::uint8_t sfr(std::uint8_t address) const;
  void set_sfr(std::uint8_t address, std::uint8_t value);

  // Requests are taken between instructions, by a hardware call of two
  // cycles; after RETI or a write to IE/IP/EIE/EIP one more instruction
  // runs first. Running timers count the first cycle of an instruction
  // before it reads or writes them, its other cycles after.
  void set_line(Line line, bool asserted);

 private:
  Result execute(std::uint64_t max_instructions, std::uint64_t max_cycles);
  unsigned execute_one();
  unsigned execute_register_form(std::uint8_t opcode, std::uint8_t& operand);
  unsigned take_interrupt();
  void advance_timers(unsigned cycles);
  void update_timer_run_state();
  void sample_level_interrupts();

  std::uint8_t fetch() { return code_[pc_++]; }
  std::uint16_t fetch16();
  void relative_jump(std::uint8_t offset);
  std::uint8_t& reg(unsigned n) { return iram_[(sfr_[kPsw - 0x80] & 0x18u) | n]; }
  std::uint8_t& acc() { return sfr_[kAcc - 0x80]; }
  std::uint8_t& psw() { return sfr_[kPsw - 0x80]; }
  std::uint8_t& sp() { return sfr_[kSp - 0x80]; }
  bool carry() const { return (sfr_[kPsw - 0x80] & 0x80) != 0; }
  void set_carry(bool carry);
  unsigned dptr_index() const {
    return (sfr_[kDps - 0x80] & dps_select_) != 0 ? kDpl1 - 0x80 : kDpl - 0x80;
  }
  void set_dptr(std::uint16_t value);

  std::uint8_t read_direct(std::uint8_t address) const;
  void write_direct(std::uint8_t address, std::uint8_t value);
  bool read_bit(std::uint8_t bit) const;
  void write_bit(std::uint8_t bit, bool value);
  std::uint8_t read_xdata(std::uint16_t address);
  void write_xdata(std::uint16_t address, std::uint8_t value);
  std::uint16_t ri_address(std::uint8_t ri) const;
  unsigned movx_cycles(std::uint8_t opcode) const;
  void push(std::uint8_t value);
  std::uint8_t pop();
  void call(std::uint16_t target);

  void add(std::uint8_t value, bool carry_in);
  void subtract(std::uint8_t value);
  void decimal_adjust();
  void compare_jump(std::uint8_t left, std::uint8_t right);

  XdataBus& bus_;
  Options options_;
  std::vector<std::uint8_t> code_;  // 64 KiB, indexed by a 16-bit PC
  std::uint8_t iram_[256] = {};
  std::uint8_t sfr_[128] = {};
  std::uint16_t pc_ = 0;
  std::uint64_t cycles_ = 0;
  const std::uint8_t* cycle_table_;
  // Machine cycles per timer count, and those counted towards the next
  // (the divider advances only while a timer may run).
  unsigned cycles_per_count_;
  unsigned timer_phase_ = 0;
  // DPS's select bit (SEL) on the AN2131; 0 on the classic core, which has
  // one data pointer.
  std::uint8_t dps_select_;
  std::bitset<0x10000> breakpoints_;
  bool have_breakpoints_ = false;
  // Interrupt levels in service: bit 0 low priority, bit 1 high priority.
  std::uint8_t in_service_ = 0;
  bool check_interrupts_ = false;
  // RETI and writes to IE/IP delay interrupts by one instruction.
  bool interrupt_hold_ = false;
  bool timers_running_ = false;
  bool int0_asserted_ = false;
  bool int1_asserted_ = false;
  bool usb_asserted_ = false;
};

}  // namespace velnor::bench
