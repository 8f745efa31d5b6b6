#include "bench/mcs51.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace velnor::bench {

namespace {

// Machine cycles per opcode, as Intel's MCS-51 instruction table gives them:
// one row per high nibble. 0xA5 is undefined and never executed.
constexpr std::uint8_t kClassicCycles[256] = {
    1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x00
    2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x10
    2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x20
    2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x30
    2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x40
    2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x50
    2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x60
    2, 2, 2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x70
    2, 2, 2, 2, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0x80
    2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x90
    2, 2, 1, 2, 4, 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xA0
    2, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xB0
    2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xC0
    2, 2, 1, 1, 1, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xD0
    2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xE0
    2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xF0
};

// The AN2131's machine cycles of 4 clocks, the Dallas DS80C320 timings as
// s51 -t DS320 counts them. Conditional jumps take as long whether or not
// they jump. MOVX is listed with the stretch of 1 CKCON selects at reset;
// movx_cycles() applies the stretch CKCON holds. MUL AB and DIV AB take 7 cycles in s51;
// no public Dallas or Cypress table found here gives another count, so
// they follow s51.
constexpr std::uint8_t kAn2131Cycles[256] = {
    1, 3, 4, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x00
    4, 3, 4, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x10
    4, 3, 4, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x20
    4, 3, 4, 1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x30
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x40
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x50
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x60
    3, 3, 2, 3, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0x70
    3, 3, 2, 3, 7, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0x80
    3, 3, 2, 3, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x90
    2, 3, 2, 3, 7, 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xA0
    2, 3, 2, 1, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,  // 0xB0
    2, 3, 2, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xC0
    2, 3, 2, 1, 1, 4, 1, 1, 3, 3, 3, 3, 3, 3, 3, 3,  // 0xD0
    3, 3, 3, 3, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xE0
    3, 3, 3, 3, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xF0
};

// Timers count every 12 clocks.
constexpr unsigned kAn2131CyclesPerCount = 3;

// Stretch cycles a MOVX gets for CKCON bits 2..0 (the Dallas core's table:
// the upper four settings add a further stretch cycle each beyond 3).
constexpr std::uint8_t kMovxStretch[8] = {0, 1, 2, 3, 7, 8, 9, 10};
constexpr std::uint8_t kCkconReset = 0x01;

// DPS: only SEL (bit 0) exists; the other bits read 0 (EZ-USB Technical
// Reference Manual, SFR table, pp. A-9..A-10; the DS80C320 data sheet says
// the same of its DPS).
constexpr std::uint8_t kDpsSel = 0x01;

// The interrupt's hardware LCALL takes two machine cycles.
constexpr unsigned kInterruptCallCycles = 2;
constexpr std::uint8_t kIllegalOpcode = 0xA5;

// PSW bits.
constexpr std::uint8_t kCy = 0x80;
constexpr std::uint8_t kAc = 0x40;
constexpr std::uint8_t kOv = 0x04;
constexpr std::uint8_t kParity = 0x01;

// TCON bits.
constexpr std::uint8_t kTf1 = 0x80;
constexpr std::uint8_t kTr1 = 0x40;
constexpr std::uint8_t kTf0 = 0x20;
constexpr std::uint8_t kTr0 = 0x10;
constexpr std::uint8_t kIe1 = 0x08;
constexpr std::uint8_t kIt1 = 0x04;
constexpr std::uint8_t kIe0 = 0x02;
constexpr std::uint8_t kIt0 = 0x01;

// IE bits (IP has the same layout, without EA).
constexpr std::uint8_t kEa = 0x80;
constexpr std::uint8_t kEs = 0x10;
constexpr std::uint8_t kEt1 = 0x08;
constexpr std::uint8_t kEx1 = 0x04;
constexpr std::uint8_t kEt0 = 0x02;
constexpr std::uint8_t kEx0 = 0x01;

constexpr std::uint8_t kExifUsb = 0x10;
constexpr std::uint8_t kEieUsb = 0x01;
constexpr std::uint8_t kSconRiTi = 0x03;

// TMOD nibble bits (timer 0 in bits 3..0, timer 1 in bits 7..4).
constexpr unsigned kGate = 0x8;
constexpr unsigned kCounter = 0x4;

constexpr unsigned index(std::uint8_t sfr_address) { return sfr_address - 0x80u; }

}  // namespace

Mcs51::Mcs51(XdataBus& bus) : Mcs51(bus, Options{}) {}

Mcs51::Mcs51(XdataBus& bus, Options options)
    : bus_(bus),
      options_(options),
      code_(0x10000, 0),
      cycle_table_(options.timing == Timing::An2131 ? kAn2131Cycles : kClassicCycles),
      cycles_per_count_(options.timing == Timing::An2131 ? kAn2131CyclesPerCount : 1),
      dps_select_(options.timing == Timing::An2131 ? kDpsSel : 0) {
  reset();
}

void Mcs51::reset() {
  std::fill(std::begin(sfr_), std::end(sfr_), std::uint8_t{0});
  sfr_[index(kP0)] = 0xFF;
  sfr_[index(kP1)] = 0xFF;
  sfr_[index(kP2)] = 0xFF;
  sfr_[index(kP3)] = 0xFF;
  sfr_[index(kSp)] = 0x07;
  if (options_.timing == Timing::An2131) sfr_[index(kCkcon)] = kCkconReset;
  pc_ = 0;
  in_service_ = 0;
  check_interrupts_ = false;
  interrupt_hold_ = false;
  timers_running_ = false;
  timer_phase_ = 0;
  sample_level_interrupts();
}

std::span<std::uint8_t> Mcs51::code() { return code_; }

void Mcs51::load(std::uint16_t address, std::span<const std::uint8_t> bytes) {
  for (const std::uint8_t byte : bytes) code_[address++] = byte;
}

Mcs51::Result Mcs51::step(std::uint64_t instructions) { return execute(instructions, UINT64_MAX); }

Mcs51::Result Mcs51::run(std::uint64_t max_cycles) { return execute(UINT64_MAX, max_cycles); }

void Mcs51::add_breakpoint(std::uint16_t address) {
  breakpoints_.set(address);
  have_breakpoints_ = true;
}

void Mcs51::remove_breakpoint(std::uint16_t address) {
  breakpoints_.reset(address);
  have_breakpoints_ = breakpoints_.any();
}

std::uint64_t Mcs51::cycles() const { return cycles_; }

std::uint16_t Mcs51::pc() const { return pc_; }

void Mcs51::set_pc(std::uint16_t pc) { pc_ = pc; }

std::uint16_t Mcs51::dptr() const {
  const unsigned i = dptr_index();
  return static_cast<std::uint16_t>(sfr_[i] | sfr_[i + 1] << 8);
}

std::uint8_t Mcs51::iram(std::uint8_t address) const { return iram_[address]; }

void Mcs51::set_iram(std::uint8_t address, std::uint8_t value) { iram_[address] = value; }

std::uint8_t Mcs51::sfr(std::uint8_t address) const {
  const std::uint8_t value = sfr_[address & 0x7F];
  if ((address | 0x80) != kPsw) return value;
  return static_cast<std::uint8_t>((value & ~kParity) | (std::popcount(sfr_[index(kAcc)]) & 1));
}

void Mcs51::set_sfr(std::uint8_t address, std::uint8_t value) {
  address |= 0x80;
  sfr_[index(address)] = value;
  switch (address) {
    case kDps:
      if (dps_select_ != 0) sfr_[index(address)] = static_cast<std::uint8_t>(value & kDpsSel);
      break;
    case kIe:
    case kIp:
    case kEie:
    case kEip:
      interrupt_hold_ = true;
      check_interrupts_ = true;
      break;
    case kTcon:
      sample_level_interrupts();
      update_timer_run_state();
      check_interrupts_ = true;
      break;
    case kTmod:
      update_timer_run_state();
      break;
    case kScon:
    case kExif:
      check_interrupts_ = true;
      break;
    default:
      break;
  }
}

void Mcs51::set_line(Line line, bool asserted) {
  switch (line) {
    case Line::Int0:
      if (asserted && !int0_asserted_ && (sfr_[index(kTcon)] & kIt0) != 0) {
        sfr_[index(kTcon)] |= kIe0;
      }
      int0_asserted_ = asserted;
      break;
    case Line::Int1:
      if (asserted && !int1_asserted_ && (sfr_[index(kTcon)] & kIt1) != 0) {
        sfr_[index(kTcon)] |= kIe1;
      }
      int1_asserted_ = asserted;
      break;
    case Line::Usb:
      if (asserted && !usb_asserted_) sfr_[index(kExif)] |= kExifUsb;
      usb_asserted_ = asserted;
      break;
  }
  sample_level_interrupts();
  update_timer_run_state();
  check_interrupts_ = true;
}

// Level-triggered external interrupts: the flag is the pin, sampled every
// cycle, so it follows the line whatever the firmware writes.
void Mcs51::sample_level_interrupts() {
  std::uint8_t& tcon = sfr_[index(kTcon)];
  if ((tcon & kIt0) == 0)
    tcon = static_cast<std::uint8_t>(int0_asserted_ ? tcon | kIe0 : tcon & ~kIe0);
  if ((tcon & kIt1) == 0)
    tcon = static_cast<std::uint8_t>(int1_asserted_ ? tcon | kIe1 : tcon & ~kIe1);
}

Mcs51::Result Mcs51::execute(std::uint64_t max_instructions, std::uint64_t max_cycles) {
  const std::uint64_t start = cycles_;
  std::uint64_t executed = 0;
  while (executed < max_instructions && cycles_ - start < max_cycles) {
    if (have_breakpoints_ && executed > 0 && breakpoints_.test(pc_)) {
      return {Stop::Breakpoint, cycles_ - start, executed};
    }
    if (code_[pc_] == kIllegalOpcode) return {Stop::IllegalOpcode, cycles_ - start, executed};
    // A running timer counts the instruction's first cycle before the
    // instruction reads or writes it, the other cycles after.
    if (timers_running_) advance_timers(1);
    const unsigned spent = execute_one();
    cycles_ += spent;
    ++executed;
    if (timers_running_) advance_timers(spent - 1);
    if (check_interrupts_) {
      const unsigned call = take_interrupt();
      cycles_ += call;
      if (call != 0 && timers_running_) advance_timers(call);
    }
  }
  return {Stop::Done, cycles_ - start, executed};
}

// Vectors an interrupt if one may be taken at this instruction boundary;
// returns the cycles of the hardware call (0 if none).
unsigned Mcs51::take_interrupt() {
  if (interrupt_hold_) {
    interrupt_hold_ = false;
    return 0;
  }
  check_interrupts_ = false;
  const std::uint8_t ie = sfr_[index(kIe)];
  if ((ie & kEa) == 0 || (in_service_ & 2) != 0) return 0;
  std::uint8_t& tcon = sfr_[index(kTcon)];
  struct Source {
    bool requested;
    bool high;
    std::uint16_t vector;
  };
  const std::uint8_t ip = sfr_[index(kIp)];
  // In the order the hardware polls them within one priority level.
  const Source sources[] = {
      {(tcon & kIe0) != 0 && (ie & kEx0) != 0, (ip & kEx0) != 0, 0x03},
      {(tcon & kTf0) != 0 && (ie & kEt0) != 0, (ip & kEt0) != 0, 0x0B},
      {(tcon & kIe1) != 0 && (ie & kEx1) != 0, (ip & kEx1) != 0, 0x13},
      {(tcon & kTf1) != 0 && (ie & kEt1) != 0, (ip & kEt1) != 0, 0x1B},
      {(sfr_[index(kScon)] & kSconRiTi) != 0 && (ie & kEs) != 0, (ip & kEs) != 0, 0x23},
      {(sfr_[index(kExif)] & kExifUsb) != 0 && (sfr_[index(kEie)] & kEieUsb) != 0,
       (sfr_[index(kEip)] & kEieUsb) != 0, 0x43},
  };
  const Source* chosen = nullptr;
  for (const Source& source : sources) {
    if (!source.requested) continue;
    if (source.high) {
      chosen = &source;
      break;
    }
    if (chosen == nullptr) chosen = &source;
  }
  if (chosen == nullptr) return 0;
  // A low-priority request waits while any interrupt is in service; a
  // high-priority one waits only for another high-priority one.
  const std::uint8_t level = chosen->high ? 2 : 1;
  if (in_service_ >= level) return 0;
  in_service_ |= level;
  // The call clears the flags of edge-triggered and timer interrupts; level
  // interrupts, the serial flags and the USB flag stay for the handler.
  switch (chosen->vector) {
    case 0x03:
      if ((tcon & kIt0) != 0) tcon &= static_cast<std::uint8_t>(~kIe0);
      break;
    case 0x0B:
      tcon &= static_cast<std::uint8_t>(~kTf0);
      break;
    case 0x13:
      if ((tcon & kIt1) != 0) tcon &= static_cast<std::uint8_t>(~kIe1);
      break;
    case 0x1B:
      tcon &= static_cast<std::uint8_t>(~kTf1);
      break;
    default:
      break;
  }
  // A pending request of the other level may still be taken later.
  check_interrupts_ = true;
  call(chosen->vector);
  return kInterruptCallCycles;
}

// The precise conditions (gate, counter mode, split timer 0) are checked as
// the timers count; this only spares the count when nothing can run.
void Mcs51::update_timer_run_state() {
  timers_running_ =
      (sfr_[index(kTcon)] & (kTr0 | kTr1)) != 0 || (sfr_[index(kTmod)] & 0x03) == 0x03;
}

// Counts machine cycles towards the running timers, one count per 12
// clocks. An overflow sets the timer's TF flag.
void Mcs51::advance_timers(unsigned cycles) {
  timer_phase_ += cycles;
  const unsigned counts = timer_phase_ / cycles_per_count_;
  timer_phase_ %= cycles_per_count_;
  if (counts == 0) return;
  std::uint8_t& tcon = sfr_[index(kTcon)];
  const unsigned tmod = sfr_[index(kTmod)];
  const bool run0 =
      (tcon & kTr0) != 0 && ((tmod & kGate) == 0 || !int0_asserted_) && (tmod & kCounter) == 0;
  const bool run1 = (tcon & kTr1) != 0 && ((tmod & (kGate << 4)) == 0 || !int1_asserted_) &&
                    (tmod & (kCounter << 4)) == 0;
  const bool split = (tmod & 0x03) == 0x03;
  bool overflow0 = false;
  bool overflow1 = false;

  // One timer in modes 0..2; returns whether it overflowed.
  auto count = [counts](unsigned mode, std::uint8_t& tl, std::uint8_t& th) {
    switch (mode) {
      case 0: {  // 13 bits: TH and the low five bits of TL
        const unsigned value = (th << 5 | (tl & 0x1Fu)) + counts;
        th = static_cast<std::uint8_t>(value >> 5);
        tl = static_cast<std::uint8_t>((tl & 0xE0u) | (value & 0x1Fu));
        return value > 0x1FFF;
      }
      case 1: {  // 16 bits
        const unsigned value = (th << 8 | tl) + counts;
        th = static_cast<std::uint8_t>(value >> 8);
        tl = static_cast<std::uint8_t>(value);
        return value > 0xFFFF;
      }
      default: {  // 8 bits, reloaded from TH
        bool overflow = false;
        for (unsigned i = 0; i < counts; ++i) {
          if (++tl == 0) {
            tl = th;
            overflow = true;
          }
        }
        return overflow;
      }
    }
  };

  std::uint8_t& tl0 = sfr_[index(kTl0)];
  std::uint8_t& th0 = sfr_[index(kTh0)];
  if (split) {
    if (run0) {
      const unsigned value = tl0 + counts;
      tl0 = static_cast<std::uint8_t>(value);
      overflow0 = value > 0xFF;
    }
    if ((tcon & kTr1) != 0) {
      const unsigned value = th0 + counts;
      th0 = static_cast<std::uint8_t>(value);
      overflow1 = value > 0xFF;
    }
  } else if (run0) {
    overflow0 = count(tmod & 0x03, tl0, th0);
  }
  const unsigned mode1 = (tmod >> 4) & 0x03;
  if (mode1 != 3 && (split ? (tmod & (kCounter << 4)) == 0 : run1)) {
    // With timer 0 split, timer 1 has no flag of its own left.
    const bool overflow = count(mode1, sfr_[index(kTl1)], sfr_[index(kTh1)]);
    if (!split) overflow1 = overflow;
  }
  if (overflow0 || overflow1) {
    tcon = static_cast<std::uint8_t>(tcon | (overflow0 ? kTf0 : 0) | (overflow1 ? kTf1 : 0));
    check_interrupts_ = true;
  }
}

std::uint16_t Mcs51::fetch16() {
  const std::uint8_t high = fetch();
  return static_cast<std::uint16_t>(high << 8 | fetch());
}

void Mcs51::relative_jump(std::uint8_t offset) {
  pc_ = static_cast<std::uint16_t>(pc_ + static_cast<std::int8_t>(offset));
}

void Mcs51::set_carry(bool carry) {
  psw() = static_cast<std::uint8_t>(carry ? psw() | kCy : psw() & ~kCy);
}

void Mcs51::set_dptr(std::uint16_t value) {
  const unsigned i = dptr_index();
  sfr_[i] = static_cast<std::uint8_t>(value);
  sfr_[i + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint8_t Mcs51::read_direct(std::uint8_t address) const {
  return address < 0x80 ? iram_[address] : sfr(address);
}

void Mcs51::write_direct(std::uint8_t address, std::uint8_t value) {
  if (address < 0x80) {
    iram_[address] = value;
  } else {
    set_sfr(address, value);
  }
}

// Bit addresses 0x00..0x7F are RAM bytes 0x20..0x2F; 0x80..0xFF are the
// SFRs whose address ends in 0 or 8.
bool Mcs51::read_bit(std::uint8_t bit) const {
  const std::uint8_t byte = bit < 0x80 ? iram_[0x20 + (bit >> 3)] : sfr(bit & 0xF8);
  return ((byte >> (bit & 7)) & 1) != 0;
}

void Mcs51::write_bit(std::uint8_t bit, bool value) {
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit & 7));
  if (bit < 0x80) {
    std::uint8_t& byte = iram_[0x20 + (bit >> 3)];
    byte = static_cast<std::uint8_t>(value ? byte | mask : byte & ~mask);
  } else {
    const std::uint8_t address = bit & 0xF8;
    const std::uint8_t byte = sfr_[index(address)];
    set_sfr(address, static_cast<std::uint8_t>(value ? byte | mask : byte & ~mask));
  }
}

std::uint8_t Mcs51::read_xdata(std::uint16_t address) {
  return address < options_.shared_code_size ? code_[address] : bus_.read_xdata(address);
}

void Mcs51::write_xdata(std::uint16_t address, std::uint8_t value) {
  if (address < options_.shared_code_size) {
    code_[address] = value;
  } else {
    bus_.write_xdata(address, value);
  }
}

std::uint16_t Mcs51::ri_address(std::uint8_t ri) const {
  const std::uint8_t page = sfr_[index(options_.ri_page == RiPage::Mpage ? kMpage : kP2)];
  return static_cast<std::uint16_t>(page << 8 | ri);
}

void Mcs51::push(std::uint8_t value) { iram_[++sp()] = value; }

std::uint8_t Mcs51::pop() { return iram_[sp()--]; }

void Mcs51::call(std::uint16_t target) {
  push(static_cast<std::uint8_t>(pc_));
  push(static_cast<std::uint8_t>(pc_ >> 8));
  pc_ = target;
}

void Mcs51::add(std::uint8_t value, bool carry_in) {
  const unsigned a = acc();
  const unsigned c = carry_in ? 1 : 0;
  const unsigned sum = a + value + c;
  const bool carry7 = sum > 0xFF;
  const bool carry6 = ((a & 0x7F) + (value & 0x7Fu) + c) > 0x7F;
  const bool carry3 = ((a & 0x0F) + (value & 0x0Fu) + c) > 0x0F;
  psw() = static_cast<std::uint8_t>((psw() & ~(kCy | kAc | kOv)) | (carry7 ? kCy : 0) |
                                    (carry3 ? kAc : 0) | (carry6 != carry7 ? kOv : 0));
  acc() = static_cast<std::uint8_t>(sum);
}

void Mcs51::subtract(std::uint8_t value) {
  const unsigned a = acc();
  const unsigned c = carry() ? 1 : 0;
  const unsigned result = (a - value - c) & 0xFF;
  const bool borrow = a < value + c;
  const bool borrow3 = (a & 0x0F) < (value & 0x0Fu) + c;
  const bool overflow = ((a ^ value) & (a ^ result) & 0x80) != 0;
  psw() = static_cast<std::uint8_t>((psw() & ~(kCy | kAc | kOv)) | (borrow ? kCy : 0) |
                                    (borrow3 ? kAc : 0) | (overflow ? kOv : 0));
  acc() = static_cast<std::uint8_t>(result);
}

// DA A: corrects each nibble of a BCD sum; sets CY on a carry out of the
// byte but never clears it.
void Mcs51::decimal_adjust() {
  unsigned a = acc();
  bool cy = carry();
  if ((a & 0x0F) > 9 || (psw() & kAc) != 0) {
    a += 0x06;
    if (a > 0xFF) cy = true;
    a &= 0xFF;
  }
  if ((a & 0xF0) > 0x90 || cy) {
    a += 0x60;
    if (a > 0xFF) cy = true;
  }
  acc() = static_cast<std::uint8_t>(a);
  set_carry(cy);
}

void Mcs51::compare_jump(std::uint8_t left, std::uint8_t right) {
  const std::uint8_t offset = fetch();
  set_carry(left < right);
  if (left != right) relative_jump(offset);
}

// The AN2131 stretches MOVX by the cycles CKCON selects; the classic core
// has no CKCON.
unsigned Mcs51::movx_cycles(std::uint8_t opcode) const {
  if (options_.timing != Timing::An2131) return cycle_table_[opcode];
  return 2u + kMovxStretch[sfr_[index(kCkcon)] & 7u];
}

// Executes the instruction at PC (never the undefined opcode); returns its
// machine cycles.
unsigned Mcs51::execute_one() {
  const std::uint8_t op = fetch();
  const unsigned low = op & 0x0Fu;
  if (low >= 8) return execute_register_form(op, reg(low & 7));
  if (low >= 6) return execute_register_form(op, iram_[reg(low & 1)]);
  if (low == 1) {
    // AJMP/ACALL: 11 address bits within the 2 KiB page of the next
    // instruction.
    const std::uint8_t address_low = fetch();
    const auto target = static_cast<std::uint16_t>((pc_ & 0xF800) | (op & 0xE0) << 3 | address_low);
    if ((op & 0x10) != 0) {
      call(target);
    } else {
      pc_ = target;
    }
    return cycle_table_[op];
  }
  switch (op) {
    case 0x00:  // NOP
      break;
    case 0x02:  // LJMP
      pc_ = fetch16();
      break;
    case 0x03:  // RR A
      acc() = std::rotr(acc(), 1);
      break;
    case 0x04:  // INC A
      ++acc();
      break;
    case 0x05: {  // INC direct
      const std::uint8_t address = fetch();
      write_direct(address, static_cast<std::uint8_t>(read_direct(address) + 1));
      break;
    }
    case 0x10: {  // JBC bit, rel
      const std::uint8_t bit = fetch();
      const std::uint8_t offset = fetch();
      if (read_bit(bit)) {
        write_bit(bit, false);
        relative_jump(offset);
      }
      break;
    }
    case 0x12:  // LCALL
      call(fetch16());
      break;
    case 0x13: {  // RRC A
      const bool out = (acc() & 1) != 0;
      acc() = static_cast<std::uint8_t>(acc() >> 1 | (carry() ? 0x80 : 0));
      set_carry(out);
      break;
    }
    case 0x14:  // DEC A
      --acc();
      break;
    case 0x15: {  // DEC direct
      const std::uint8_t address = fetch();
      write_direct(address, static_cast<std::uint8_t>(read_direct(address) - 1));
      break;
    }
    case 0x20:    // JB bit, rel
    case 0x30: {  // JNB bit, rel
      const bool set = read_bit(fetch());
      const std::uint8_t offset = fetch();
      if (set == (op == 0x20)) relative_jump(offset);
      break;
    }
    case 0x22:  // RET
    case 0x32:  // RETI
    {
      const std::uint8_t high = pop();
      pc_ = static_cast<std::uint16_t>(high << 8 | pop());
      if (op == 0x32) {
        // Ends the highest level in service.
        in_service_ = (in_service_ & 2) != 0 ? in_service_ & 1 : 0;
        interrupt_hold_ = true;
        check_interrupts_ = true;
      }
      break;
    }
    case 0x23:  // RL A
      acc() = std::rotl(acc(), 1);
      break;
    case 0x24:  // ADD A, #data
      add(fetch(), false);
      break;
    case 0x25:  // ADD A, direct
      add(read_direct(fetch()), false);
      break;
    case 0x33: {  // RLC A
      const bool out = (acc() & 0x80) != 0;
      acc() = static_cast<std::uint8_t>(acc() << 1 | (carry() ? 1 : 0));
      set_carry(out);
      break;
    }
    case 0x34:  // ADDC A, #data
      add(fetch(), carry());
      break;
    case 0x35:  // ADDC A, direct
      add(read_direct(fetch()), carry());
      break;
    case 0x40:  // JC rel
    case 0x50:  // JNC rel
    {
      const std::uint8_t offset = fetch();
      if (carry() == (op == 0x40)) relative_jump(offset);
      break;
    }
    case 0x42:  // ORL direct, A
    case 0x52:  // ANL direct, A
    case 0x62:  // XRL direct, A
    case 0x43:  // ORL direct, #data
    case 0x53:  // ANL direct, #data
    case 0x63:  // XRL direct, #data
    {
      const std::uint8_t address = fetch();
      const std::uint8_t value = (op & 1) != 0 ? fetch() : acc();
      const std::uint8_t old = read_direct(address);
      const unsigned kind = op & 0xF0;
      write_direct(address, static_cast<std::uint8_t>(kind == 0x40   ? old | value
                                                      : kind == 0x50 ? old & value
                                                                     : old ^ value));
      break;
    }
    case 0x44:  // ORL A, #data
      acc() |= fetch();
      break;
    case 0x45:  // ORL A, direct
      acc() |= read_direct(fetch());
      break;
    case 0x54:  // ANL A, #data
      acc() &= fetch();
      break;
    case 0x55:  // ANL A, direct
      acc() &= read_direct(fetch());
      break;
    case 0x60:  // JZ rel
    case 0x70:  // JNZ rel
    {
      const std::uint8_t offset = fetch();
      if ((acc() == 0) == (op == 0x60)) relative_jump(offset);
      break;
    }
    case 0x64:  // XRL A, #data
      acc() ^= fetch();
      break;
    case 0x65:  // XRL A, direct
      acc() ^= read_direct(fetch());
      break;
    case 0x72:  // ORL C, bit
      if (read_bit(fetch())) set_carry(true);
      break;
    case 0x73:  // JMP @A+DPTR
      pc_ = static_cast<std::uint16_t>(acc() + dptr());
      break;
    case 0x74:  // MOV A, #data
      acc() = fetch();
      break;
    case 0x75: {  // MOV direct, #data
      const std::uint8_t address = fetch();
      write_direct(address, fetch());
      break;
    }
    case 0x80:  // SJMP rel
      relative_jump(fetch());
      break;
    case 0x82:  // ANL C, bit
      if (!read_bit(fetch())) set_carry(false);
      break;
    case 0x83:  // MOVC A, @A+PC (PC of the next instruction)
      acc() = code_[static_cast<std::uint16_t>(acc() + pc_)];
      break;
    case 0x84: {  // DIV AB
      const std::uint8_t divisor = sfr_[index(kB)];
      psw() &= static_cast<std::uint8_t>(~(kCy | kOv));
      if (divisor == 0) {
        // The result is undefined; OV flags it and A and B are kept.
        psw() |= kOv;
      } else {
        const std::uint8_t dividend = acc();
        acc() = static_cast<std::uint8_t>(dividend / divisor);
        sfr_[index(kB)] = static_cast<std::uint8_t>(dividend % divisor);
      }
      break;
    }
    case 0x85: {  // MOV direct, direct (source first)
      const std::uint8_t source = fetch();
      const std::uint8_t value = read_direct(source);
      write_direct(fetch(), value);
      break;
    }
    case 0x90:  // MOV DPTR, #data16
      set_dptr(fetch16());
      break;
    case 0x92:  // MOV bit, C
      write_bit(fetch(), carry());
      break;
    case 0x93:  // MOVC A, @A+DPTR
      acc() = code_[static_cast<std::uint16_t>(acc() + dptr())];
      break;
    case 0x94:  // SUBB A, #data
      subtract(fetch());
      break;
    case 0x95:  // SUBB A, direct
      subtract(read_direct(fetch()));
      break;
    case 0xA0:  // ORL C, /bit
      if (!read_bit(fetch())) set_carry(true);
      break;
    case 0xA2:  // MOV C, bit
      set_carry(read_bit(fetch()));
      break;
    case 0xA3:  // INC DPTR
      set_dptr(static_cast<std::uint16_t>(dptr() + 1));
      break;
    case 0xA4: {  // MUL AB
      const unsigned product = acc() * unsigned{sfr_[index(kB)]};
      acc() = static_cast<std::uint8_t>(product);
      sfr_[index(kB)] = static_cast<std::uint8_t>(product >> 8);
      psw() = static_cast<std::uint8_t>((psw() & ~(kCy | kOv)) | (product > 0xFF ? kOv : 0));
      break;
    }
    case 0xB0:  // ANL C, /bit
      if (read_bit(fetch())) set_carry(false);
      break;
    case 0xB2: {  // CPL bit
      const std::uint8_t bit = fetch();
      write_bit(bit, !read_bit(bit));
      break;
    }
    case 0xB3:  // CPL C
      set_carry(!carry());
      break;
    case 0xB4:  // CJNE A, #data, rel
      compare_jump(acc(), fetch());
      break;
    case 0xB5:  // CJNE A, direct, rel
      compare_jump(acc(), read_direct(fetch()));
      break;
    case 0xC0: {  // PUSH direct: SP moves first, so PUSH SP stores the new value
      const std::uint8_t address = fetch();
      ++sp();
      iram_[sp()] = read_direct(address);
      break;
    }
    case 0xC2:  // CLR bit
      write_bit(fetch(), false);
      break;
    case 0xC3:  // CLR C
      set_carry(false);
      break;
    case 0xC4:  // SWAP A
      acc() = std::rotl(acc(), 4);
      break;
    case 0xC5: {  // XCH A, direct
      const std::uint8_t address = fetch();
      const std::uint8_t value = read_direct(address);
      write_direct(address, acc());
      acc() = value;
      break;
    }
    case 0xD0: {  // POP direct: SP moves before the write, so POP SP keeps the popped value
      const std::uint8_t address = fetch();
      write_direct(address, pop());
      break;
    }
    case 0xD2:  // SETB bit
      write_bit(fetch(), true);
      break;
    case 0xD3:  // SETB C
      set_carry(true);
      break;
    case 0xD4:  // DA A
      decimal_adjust();
      break;
    case 0xD5: {  // DJNZ direct, rel
      const std::uint8_t address = fetch();
      const std::uint8_t offset = fetch();
      const auto value = static_cast<std::uint8_t>(read_direct(address) - 1);
      write_direct(address, value);
      if (value != 0) relative_jump(offset);
      break;
    }
    case 0xE0:  // MOVX A, @DPTR
      acc() = read_xdata(dptr());
      return movx_cycles(op);
    case 0xE2:  // MOVX A, @R0
    case 0xE3:  // MOVX A, @R1
      acc() = read_xdata(ri_address(reg(op & 1)));
      return movx_cycles(op);
    case 0xE4:  // CLR A
      acc() = 0;
      break;
    case 0xE5:  // MOV A, direct
      acc() = read_direct(fetch());
      break;
    case 0xF0:  // MOVX @DPTR, A
      write_xdata(dptr(), acc());
      return movx_cycles(op);
    case 0xF2:  // MOVX @R0, A
    case 0xF3:  // MOVX @R1, A
      write_xdata(ri_address(reg(op & 1)), acc());
      return movx_cycles(op);
    case 0xF4:  // CPL A
      acc() = static_cast<std::uint8_t>(~acc());
      break;
    case 0xF5:  // MOV direct, A
      write_direct(fetch(), acc());
      break;
    default:
      break;
  }
  return cycle_table_[op];
}

// Opcodes whose low nibble is 6..F act on @R0, @R1 or R0..R7 in the same
// way for each high nibble.
unsigned Mcs51::execute_register_form(std::uint8_t op, std::uint8_t& operand) {
  switch (op >> 4) {
    case 0x0:  // INC
      ++operand;
      break;
    case 0x1:  // DEC
      --operand;
      break;
    case 0x2:  // ADD A, operand
      add(operand, false);
      break;
    case 0x3:  // ADDC A, operand
      add(operand, carry());
      break;
    case 0x4:  // ORL A, operand
      acc() |= operand;
      break;
    case 0x5:  // ANL A, operand
      acc() &= operand;
      break;
    case 0x6:  // XRL A, operand
      acc() ^= operand;
      break;
    case 0x7:  // MOV operand, #data
      operand = fetch();
      break;
    case 0x8:  // MOV direct, operand
      write_direct(fetch(), operand);
      break;
    case 0x9:  // SUBB A, operand
      subtract(operand);
      break;
    case 0xA:  // MOV operand, direct
      operand = read_direct(fetch());
      break;
    case 0xB: {  // CJNE operand, #data, rel
      const std::uint8_t value = fetch();
      compare_jump(operand, value);
      break;
    }
    case 0xC:  // XCH A, operand
      std::swap(acc(), operand);
      break;
    case 0xD:
      if ((op & 0x08) == 0) {  // XCHD A, @Ri
        const std::uint8_t a = acc();
        acc() = static_cast<std::uint8_t>((a & 0xF0) | (operand & 0x0F));
        operand = static_cast<std::uint8_t>((operand & 0xF0) | (a & 0x0F));
      } else {  // DJNZ Rn, rel
        const std::uint8_t offset = fetch();
        if (--operand != 0) relative_jump(offset);
      }
      break;
    case 0xE:  // MOV A, operand
      acc() = operand;
      break;
    default:  // MOV operand, A
      operand = acc();
      break;
  }
  return cycle_table_[op];
}

}  // namespace velnor::bench
