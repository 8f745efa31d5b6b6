// The XCF01S/02S/04S as its JTAG port and its CF pin show it.
//
// ISC mode: ISC_ENABLE and its six data bits enter it at Update-DR;
// ISC_DISABLE leaves it and Test-Logic-Reset does not. Outside the mode the
// ISC instructions select BYPASS and do nothing.
//
// Erase and program are self-timed. An operation starts at the first falling
// TCK edge in Run-Test/Idle after its instruction (the STMicro programming
// engine of the XC18V00/XCF00S, XAPP058's PROM requirements file) and then
// runs on by itself, whatever the TAP does:
//   ISC_PROGRAM  14 ms   the page holding the address
//   ISC_ERASE    15 s    the whole array, with the address 0x0001 only
// The part's description shows the busy state in two places a flow polls
// from outside Run-Test/Idle: IR capture bit 5 (1 ready, 0 busy) and bit 2
// of the ISCTESTSTATUS register (0xE3), and the vendor's optimised XCF flows
// load ISCTESTSTATUS right after ISC_PROGRAM or ISC_ERASE and poll it. So
// leaving Run-Test/Idle does not end an operation; only power loss does,
// leaving a prefix of the page or array done, in proportion.
// While one runs, the ISC instructions and CONFIG are refused (BYPASS, no
// effect) and reported as violations: nothing documents what they would do
// to the array, and no published flow issues them then. ISCTESTSTATUS,
// IDCODE, USERCODE and BYPASS are always served.
// The bench sees rising edges only, so it starts an operation at the rising
// edge after that falling edge: never earlier than the part would.
//
// ISC_DISABLE acts at the same point and leaves ISC mode at once: xc3sprog
// enables again 1 ms later and programs real parts. CONFIG pulses CF at that
// point too, outside ISC mode and only 110 ms or more after ISC_DISABLE (the
// wait every published flow keeps before CONFIG).
//
// Pages: 2048 bits on the XCF01S, 4096 on the XCF02S/04S (xc3sprog's XCF
// tables); the address register counts 32 units per page on all three.
// ISC_PROGRAM programs the page holding the address (its low five bits are
// not looked at) and moves the address one page on. ISC_READ streams bits
// from the address on, across pages; past the end of the array it reads 1.
//
// IR capture: bits 2..0 = 001, bit 3 = 0 (no read protection), bit 4 = ISC
// mode, bit 5 = ready, bits 7..6 = 10 once an erase or program has finished
// in the ISC session; bits 7..5 read 0 until one has run, so an idle part
// captures 0x01 (what xilprg insists on) and 0x11 right after ISC_ENABLE.
#include "bench/xcf.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace velnor::bench {

namespace {

enum class Operation { None, Program, Erase, Disable, Config };
enum class Outcome { None, Succeeded };

bool stored_bit(const std::vector<std::uint8_t>& bytes, std::uint64_t k) {
  return ((bytes[static_cast<std::size_t>(k / 8)] >> (7 - k % 8)) & 1) != 0;
}

// The first `bits` bits of a byte run, as a mask for the byte holding the
// last of them.
std::uint8_t leading_mask(std::uint64_t bits) {
  return static_cast<std::uint8_t>(0xFF00u >> (bits % 8));
}

}  // namespace

XcfGeometry xcf_geometry(Part part) {
  switch (part) {
    case Part::Xcf01s:
      return {1 << 20, 2048};
    case Part::Xcf02s:
      return {2 << 20, 4096};
    case Part::Xcf04s:
      return {4 << 20, 4096};
    default:
      throw std::invalid_argument("not an XCF part");
  }
}

class Xcf::Logic {
 public:
  // ISC_ENABLE's six bits; their update enters ISC mode.
  class Enable final : public ShiftRegister {
   public:
    explicit Enable(Logic& logic) : ShiftRegister(kEnableBits, 0), logic_(logic) {}
    void update() override {
      ShiftRegister::update();
      logic_.enter_isc();
    }

   private:
    Logic& logic_;
  };

  // The 16-bit address register, least significant bit first; Capture-DR
  // loads the current address.
  class Address final : public ShiftRegister {
   public:
    explicit Address(Logic& logic) : ShiftRegister(kAddressBits, 0), logic_(logic) {}
    void capture() override {
      set_capture_value(logic_.state.address);
      ShiftRegister::capture();
    }
    void update() override {
      ShiftRegister::update();
      logic_.state.address = static_cast<std::uint16_t>(value());
    }

   private:
    Logic& logic_;
  };

  class Status final : public ShiftRegister {
   public:
    explicit Status(Logic& logic) : ShiftRegister(kStatusBits, 0), logic_(logic) {}
    void capture() override {
      set_capture_value(logic_.busy() ? 0 : kStatusReady);
      ShiftRegister::capture();
    }

   private:
    Logic& logic_;
  };

  // The page buffer: a ring, so a shift costs the same on every length. The
  // bit nearest TDO is the oldest; after a whole page, the first shifted.
  // Capture-DR leaves it as it is.
  class PageBuffer final : public DataRegister {
   public:
    explicit PageBuffer(int bits) : cells_(static_cast<std::size_t>(bits)) { clear(); }
    bool output() const override { return cells_[head_] != 0; }
    void shift(bool tdi) override {
      cells_[head_] = tdi ? 1 : 0;
      head_ = (head_ + 1) % cells_.size();
    }
    void update() override {
      std::fill(latched_.begin(), latched_.end(), 0);
      for (std::size_t k = 0; k < cells_.size(); ++k) {
        if (cells_[(head_ + k) % cells_.size()] != 0) {
          latched_[k / 8] |= static_cast<std::uint8_t>(0x80u >> (k % 8));
        }
      }
    }
    void clear() {
      std::fill(cells_.begin(), cells_.end(), 1);
      head_ = 0;
      latched_.assign(cells_.size() / 8, 0xFF);
    }
    const std::vector<std::uint8_t>& latched() const { return latched_; }

   private:
    std::vector<std::uint8_t> cells_;  // one bit each
    std::size_t head_ = 0;
    std::vector<std::uint8_t> latched_;  // at the last Update-DR, .bit order
  };

  // ISC_READ: Capture-DR starts at the address; each shift moves one bit on.
  class ReadPort final : public DataRegister {
   public:
    explicit ReadPort(Logic& logic) : logic_(logic) {}
    void capture() override {
      position_ = std::uint64_t{logic_.state.address} *
                  static_cast<std::uint64_t>(logic_.geometry.unit_bits());
    }
    bool output() const override {
      return position_ >= static_cast<std::uint64_t>(logic_.geometry.size_bits) ||
             stored_bit(logic_.memory, position_);
    }
    void shift(bool) override { ++position_; }

   private:
    Logic& logic_;
    std::uint64_t position_ = 0;
  };

  // Everything but the array; power-on starts it afresh.
  struct State {
    bool isc = false;
    std::uint16_t address = 0;
    std::uint64_t recovery_end_ns = 0;  // CONFIG waits for ISC_DISABLE
    Operation armed = Operation::None;  // instruction updated, not begun
    Operation running = Operation::None;
    std::uint64_t started_ns = 0;
    std::vector<std::uint8_t> program_data;  // the page buffer when it began
    int program_page = 0;
    bool erase_selected = false;
    Outcome outcome = Outcome::None;
  };

  Logic(Part which, std::string part_name, XcfGeometry shape)
      : part(which),
        name(std::move(part_name)),
        geometry(shape),
        memory(static_cast<std::size_t>(shape.size_bytes()), 0xFF),
        page(shape.page_bits) {}

  std::uint64_t now() const { return clock->now_ns(); }

  void enter_isc() {
    if (!state.isc) state.outcome = Outcome::None;
    state.isc = true;
  }

  void begin(Operation operation) {
    switch (operation) {
      case Operation::Disable:
        state.isc = false;
        state.outcome = Outcome::None;
        state.recovery_end_ns = now() + kDisableNs;
        return;
      case Operation::Config:
        // The PROM drives CF only while it serves configuration data.
        if (!state.isc && now() >= state.recovery_end_ns && config_handler) config_handler();
        return;
      case Operation::Program:
        state.program_page = state.address / XcfGeometry::kUnitsPerPage;
        state.program_data = page.latched();
        state.address = static_cast<std::uint16_t>(state.address + XcfGeometry::kUnitsPerPage);
        break;
      case Operation::Erase:
        state.erase_selected = state.address == kEraseAddress;
        break;
      case Operation::None:
        return;
    }
    state.running = operation;
    state.started_ns = now();
  }

  // A running operation ends when its time is up.
  void settle() {
    if (state.running == Operation::None) return;
    const std::uint64_t needed = running_time();
    if (elapsed() >= needed) finish(needed, needed);
  }

  // Power failing: what has been done so far stays done.
  void cut_short() {
    if (state.running != Operation::None) finish(elapsed(), running_time());
  }

  bool busy() {
    settle();
    return state.running != Operation::None;
  }

  // While busy only the status, the identification and BYPASS may be
  // selected; anything else is refused and reported.
  bool refused(std::uint32_t instruction) {
    const char* refused_name = nullptr;
    switch (instruction) {
      case kIscEnable:
        refused_name = "ISC_ENABLE";
        break;
      case kIscDisable:
        refused_name = "ISC_DISABLE";
        break;
      case kConfig:
        refused_name = "CONFIG";
        break;
      case kIscAddressShift:
        refused_name = "ISC_ADDRESS_SHIFT";
        break;
      case kIscDataShift:
        refused_name = "ISC_DATA_SHIFT";
        break;
      case kIscRead:
        refused_name = "ISC_READ";
        break;
      case kIscProgram:
        refused_name = "ISC_PROGRAM";
        break;
      case kIscErase:
        refused_name = "ISC_ERASE";
        break;
      default:
        return false;
    }
    if (!busy()) return false;
    if (violation_handler) {
      violation_handler(name + ": " + refused_name + " refused, " +
                        (state.running == Operation::Program ? "a page is still programming"
                                                             : "the erase is still running"));
    }
    return true;
  }

  const Part part;
  const std::string name;
  const XcfGeometry geometry;
  VirtualClock own_clock;
  VirtualClock* clock = &own_clock;
  std::function<void()> config_handler;
  std::function<void(std::string)> violation_handler;
  std::vector<std::uint8_t> memory;  // flash: kept without power
  State state;
  Enable enable{*this};
  Address address_register{*this};
  Status status{*this};
  PageBuffer page;
  ReadPort read{*this};
  ShiftRegister usercode{32, 0xFFFFFFFF};  // never programmed on the bench

 private:
  std::uint64_t running_time() const {
    return state.running == Operation::Program ? kProgramNs : kEraseNs;
  }
  std::uint64_t elapsed() const {
    const std::uint64_t at = now();
    return at > state.started_ns ? at - state.started_ns : 0;
  }

  // Flash cells: programming only clears bits, erasing only sets them.
  void finish(std::uint64_t done, std::uint64_t needed) {
    if (state.running == Operation::Program && state.program_page < geometry.pages()) {
      const std::uint64_t bits = static_cast<std::uint64_t>(geometry.page_bits) * done / needed;
      std::uint8_t* target = memory.data() + static_cast<std::size_t>(state.program_page) *
                                                 static_cast<std::size_t>(geometry.page_bytes());
      for (std::size_t i = 0; i < bits / 8; ++i) target[i] &= state.program_data[i];
      if (bits % 8 != 0) {
        target[static_cast<std::size_t>(bits / 8)] &= static_cast<std::uint8_t>(
            state.program_data[static_cast<std::size_t>(bits / 8)] | ~leading_mask(bits));
      }
    } else if (state.running == Operation::Erase && state.erase_selected) {
      const std::uint64_t bits = static_cast<std::uint64_t>(geometry.size_bits) * done / needed;
      std::fill_n(memory.begin(), bits / 8, std::uint8_t{0xFF});
      if (bits % 8 != 0) memory[static_cast<std::size_t>(bits / 8)] |= leading_mask(bits);
    }
    state.outcome = Outcome::Succeeded;
    state.running = Operation::None;
  }
};

Xcf::Xcf(Part part, const char* name, std::uint32_t idcode)
    : Device(name, idcode, 8, 0x01, kIdcode),
      logic_(std::make_unique<Logic>(part, name, xcf_geometry(part))) {}

Xcf::~Xcf() = default;

Part Xcf::part() const { return logic_->part; }
XcfGeometry Xcf::geometry() const { return logic_->geometry; }

void Xcf::set_clock(VirtualClock& clock) { logic_->clock = &clock; }

void Xcf::set_config_handler(std::function<void()> handler) {
  logic_->config_handler = std::move(handler);
}

void Xcf::set_violation_handler(std::function<void(std::string)> handler) {
  logic_->violation_handler = std::move(handler);
}

bool Xcf::isc_mode() const { return logic_->state.isc; }
std::uint16_t Xcf::address() const { return logic_->state.address; }
bool Xcf::busy() { return logic_->busy(); }

const std::vector<std::uint8_t>& Xcf::memory() {
  logic_->settle();
  return logic_->memory;
}

void Xcf::load_memory(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() > logic_->memory.size()) {
    throw std::invalid_argument("image larger than the PROM");
  }
  std::copy(bytes.begin(), bytes.end(), logic_->memory.begin());
  std::fill(logic_->memory.begin() + static_cast<std::ptrdiff_t>(bytes.size()),
            logic_->memory.end(), std::uint8_t{0xFF});
}

// ISC_ENABLE, ISC_DISABLE, CONFIG, the status and USERCODE act in any mode;
// the other ISC instructions only in ISC mode, and none of them while busy.
// Program, erase, disable and CONFIG have no data register of their own
// (BYPASS) and wait for Run-Test/Idle.
DataRegister* Xcf::select_register(std::uint32_t instruction) {
  Logic& logic = *logic_;
  logic.state.armed = Operation::None;
  DataRegister* bypass = Device::select_register(bypass_instruction());
  if (logic.refused(instruction)) return bypass;
  switch (instruction) {
    case kIscEnable:
      return &logic.enable;
    case kIscDisable:
      logic.state.armed = Operation::Disable;
      return bypass;
    case kConfig:
      logic.state.armed = Operation::Config;
      return bypass;
    case kStatus:
      return &logic.status;
    case kUsercode:
      return &logic.usercode;
    default:
      break;
  }
  if (logic.state.isc) {
    switch (instruction) {
      case kIscAddressShift:
        return &logic.address_register;
      case kIscDataShift:
        return &logic.page;
      case kIscRead:
        return &logic.read;
      case kIscProgram:
        logic.state.armed = Operation::Program;
        return bypass;
      case kIscErase:
        logic.state.armed = Operation::Erase;
        return bypass;
      default:
        break;
    }
  }
  return Device::select_register(instruction);
}

std::uint32_t Xcf::capture_ir_value() const {
  Logic& logic = *logic_;
  std::uint32_t value = 0x01;
  if (logic.state.isc) value |= kCaptureIscMode;
  if (!logic.busy() && logic.state.outcome == Outcome::Succeeded) {
    value |= kCaptureSucceeded | kCaptureReady;
  }
  return value;
}

// A rising edge that leaves Run-Test/Idle (or stays) follows a falling edge
// in it: an armed operation begins there.
void Xcf::on_clock(TapState before, TapState) {
  Logic& logic = *logic_;
  if (before == TapState::RunTestIdle && logic.state.armed != Operation::None) {
    const Operation operation = logic.state.armed;
    logic.state.armed = Operation::None;
    logic.begin(operation);
  }
  logic.settle();
}

void Xcf::on_power_off() { logic_->cut_short(); }

void Xcf::on_power_on() {
  logic_->state = Logic::State{};
  logic_->page.clear();
}

}  // namespace velnor::bench
