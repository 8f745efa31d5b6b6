// The Spartan-II configuration logic, as the JTAG port reaches it.
//
// Every bit shifted into CFG_IN goes to the configuration logic, one bit per
// rising TCK edge in Shift-DR, wherever the scan began or paused: the logic
// sees one serial stream. Before synchronisation it watches a 32-bit window
// for the sync word, which also fixes the word boundary; afterwards it takes
// 32-bit words most significant bit first and parses packets. It stays
// synchronised until power is lost or PROGRAM is pulsed (the Virtex family
// has no desync command), and a sync word counts only on the word boundary:
// a bit too many or too few, such as another device's bypass bit shifted
// through CFG_IN, puts every later word off the boundary, and the part never
// reaches DONE while INIT stays high, the failure the vendor describes for
// misaligned configuration data. In master-serial mode a PROM feeds the same
// logic through serial_configuration_bit, one bit per CCLK.
//
// Start-up, as modelled:
//   START   with the frame counts right and no CRC error, arms the
//           sequencer; anything wrong sets the CRC-error bit instead
//   CRC     the closing CRC check that passes after START lets the
//           sequencer run; a failing one aborts it
//   clock   one phase per start-up clock (COR bits 21..20): JTAG clock =
//           each rising TCK edge under JSTART; CCLK = runs by itself in
//           master-serial mode, so the phases pass at once, and stands still
//           in the other modes; the user clock never runs on the bench
//   phases  DONE, GTS, GWE and GSR at their COR phase (field + 1); the
//           sequence ends at phase 7
// Shutdown is START with COR bit 15 on a configured part: the same phases on
// the same clock, each event reversed; at phase 7 the part is unconfigured
// but still synchronised.
#include "bench/spartan2.h"

#include <stdexcept>

#include "bench/bitstream.h"

namespace velnor::bench {

namespace {

constexpr std::uint32_t kSyncWord = 0xAA995566;

// Packet headers: type in bits 31..29, operation in 28..27.
constexpr std::uint32_t kType1 = 1;
constexpr std::uint32_t kType2 = 2;
constexpr std::uint32_t kOpRead = 1;
constexpr std::uint32_t kOpWrite = 2;
constexpr std::uint32_t kNoRegister = 0xFFFFFFFF;  // no type-1 packet yet

// Configuration registers (10 is not there on Spartan-II).
constexpr std::uint32_t kCrc = 0;
constexpr std::uint32_t kFar = 1;
constexpr std::uint32_t kFdri = 2;
constexpr std::uint32_t kFdro = 3;
constexpr std::uint32_t kCmd = 4;
constexpr std::uint32_t kCtl = 5;
constexpr std::uint32_t kMask = 6;
constexpr std::uint32_t kStat = 7;
constexpr std::uint32_t kCor = 9;
constexpr std::uint32_t kFlr = 11;

bool register_exists(std::uint32_t address) { return address <= kFlr && address != 10; }

// Commands. WCFG (1), RCFG (4), RCAP (6) and SWITCH (9) are accepted and
// change nothing the bench shows.
constexpr std::uint32_t kLfrm = 3;
constexpr std::uint32_t kStart = 5;
constexpr std::uint32_t kRcrc = 7;
constexpr std::uint32_t kAghigh = 8;

// COR fields: each phase field holds the phase minus one.
constexpr int kGsrCycle = 0;
constexpr int kGweCycle = 3;
constexpr int kGtsCycle = 6;
constexpr int kDoneCycle = 12;
constexpr std::uint32_t kCorShutdown = 1u << 15;
constexpr int kStartupClock = 20;  // 00 CCLK, 01 user clock, 1x JTAG clock
constexpr int kEndOfSequence = 7;

int cor_phase(std::uint32_t cor, int field) { return static_cast<int>((cor >> field) & 7) + 1; }

std::uint32_t mode_pins(ConfigMode mode) {
  switch (mode) {
    case ConfigMode::MasterSerial:
      return 0b000;
    case ConfigMode::SlaveSerial:
      return 0b111;
    case ConfigMode::BoundaryScan:
      return 0b101;
  }
  return 0;
}

}  // namespace

Spartan2Geometry spartan2_geometry(Part part) {
  switch (part) {
    case Part::Xc2s15:
      return {8, 12};
    case Part::Xc2s30:
      return {12, 18};
    case Part::Xc2s50:
      return {16, 24};
    case Part::Xc2s100:
      return {20, 30};
    case Part::Xc2s150:
      return {24, 36};
    case Part::Xc2s200:
      return {28, 42};
    default:
      throw std::invalid_argument("not a Spartan-II part");
  }
}

class Spartan2::Logic {
 public:
  // CFG_IN: a one-bit stage on the way to TDO; every bit goes to the logic.
  class CfgIn final : public DataRegister {
   public:
    explicit CfgIn(Logic& logic) : logic_(logic) {}
    void capture() override { last_ = false; }
    bool output() const override { return last_; }
    void shift(bool tdi) override {
      last_ = tdi;
      logic_.bit(tdi);
    }

   private:
    Logic& logic_;
    bool last_ = false;
  };

  // CFG_OUT: Capture-DR loads the words a read packet asked for, most
  // significant bit first, behind one pipeline bit (or none, for a board
  // that reproduces a part without it); zeros follow.
  class CfgOut final : public DataRegister {
   public:
    explicit CfgOut(Logic& logic) : logic_(logic) {}
    void capture() override {
      value_ = logic_.state.read_value;
      bits_ = 32 * std::uint64_t{logic_.state.read_words};
      logic_.state.read_words = 0;
      position_ = logic_.cfg_out_pipeline ? 0 : 1;
    }
    bool output() const override {
      if (position_ == 0 || position_ > bits_) return false;
      return ((value_ >> (31 - (position_ - 1) % 32)) & 1) != 0;
    }
    void shift(bool) override {
      if (position_ <= bits_) ++position_;
    }

   private:
    Logic& logic_;
    std::uint32_t value_ = 0;
    std::uint64_t bits_ = 0;
    std::uint64_t position_ = 0;
  };

  // USER1/USER2: the design's channel in user mode, else one bit reading 0.
  class User final : public DataRegister {
   public:
    User(Logic& logic, int channel) : logic_(logic), channel_(channel) {}
    void capture() override {
      connected_ = logic_.state.user_mode && logic_.design.kind() != DesignKind::None;
      if (connected_) logic_.design.capture(channel_);
      bit_ = false;
    }
    bool output() const override { return connected_ ? logic_.design.output(channel_) : bit_; }
    void shift(bool tdi) override {
      if (connected_) {
        logic_.design.shift(channel_, tdi);
      } else {
        bit_ = tdi;
      }
    }

   private:
    Logic& logic_;
    int channel_;
    bool connected_ = false;
    bool bit_ = false;
  };

  enum class Sequence { Idle, Armed, Startup, Shutdown };

  // Everything the supply keeps: power-on starts it afresh.
  struct State {
    // Serial input.
    std::uint32_t window = 0;
    int bit_count = 0;
    bool synced = false;
    // Packets.
    std::uint32_t last_register = kNoRegister;
    std::uint32_t payload_register = 0;
    std::uint32_t payload_left = 0;
    bool payload_skipped = false;  // for a register that is not there
    // Registers.
    std::uint16_t crc = 0;
    std::uint32_t far = 0, ctl = 0, mask = 0, cor = 0, flr = 0, cmd = 0;
    std::uint64_t fdri_words = 0;
    // Readback asked for by the last read packet.
    std::uint32_t read_value = 0;
    std::uint32_t read_words = 0;
    // Global signals and pins; an unconfigured part holds its I/Os in high
    // impedance, writes disabled, set/reset and GHIGH asserted.
    bool crc_error = false;
    bool ghigh_b = false;
    bool gts_cfg = true;
    bool gwe_b = true;
    bool gsr_b = false;
    bool done = false;
    bool configured = false;  // start-up completed, no shutdown since
    bool user_mode = false;
    Sequence sequence = Sequence::Idle;
    int phase = 0;
  };

  Logic(Part which, Spartan2Geometry frames) : part(which), geometry(frames) {}

  void bit(bool value) {
    state.window = state.window << 1 | (value ? 1u : 0u);
    if (!state.synced) {
      if (state.window == kSyncWord) begin_attempt();
      return;
    }
    if (++state.bit_count == 32) {
      state.bit_count = 0;
      word(state.window);
    }
  }

  void jtag_clock() {
    if ((state.sequence == Sequence::Startup || state.sequence == Sequence::Shutdown) &&
        ((state.cor >> kStartupClock) & 2) != 0) {
      step();
    }
  }

  void power_on() {
    state = State{};
    design.power_on();
    update_user_mode();
  }

  void update_user_mode() {
    state.user_mode =
        state.configured && state.done && state.ghigh_b && state.sequence != Sequence::Shutdown;
    usercode_register.set_capture_value(state.user_mode ? usercode : 0xFFFFFFFF);
  }

  std::uint32_t status_word() const {
    std::uint32_t status = mode_pins(mode) << kStatModeShift;
    if (state.crc_error) status |= kStatCrcError;
    if (state.gts_cfg) status |= kStatGtsCfg;
    if (state.gwe_b) status |= kStatGweB;
    if (state.gsr_b) status |= kStatGsrB;
    if (state.ghigh_b) status |= kStatGhighB;
    if (!state.crc_error) status |= kStatInit;
    if (state.done) status |= kStatDone;
    return status;
  }

  const Part part;
  const Spartan2Geometry geometry;
  ConfigMode mode = ConfigMode::MasterSerial;
  std::uint32_t usercode = 0xFFFFFFFF;
  bool cfg_out_pipeline = true;
  UserDesign design;
  State state;
  CfgIn cfg_in{*this};
  CfgOut cfg_out{*this};
  User user1{*this, 0};
  User user2{*this, 1};
  ShiftRegister usercode_register{32, 0xFFFFFFFF};

 private:
  // A sync word: a new configuration attempt on a fresh word boundary.
  void begin_attempt() {
    state.synced = true;
    state.bit_count = 0;
    state.last_register = kNoRegister;
    state.payload_left = 0;
    state.fdri_words = 0;
    if (state.sequence == Sequence::Armed) state.sequence = Sequence::Idle;
  }

  void word(std::uint32_t value) {
    if (state.payload_left != 0) {
      --state.payload_left;
      if (!state.payload_skipped) write(state.payload_register, value);
      return;
    }
    if (value == kSyncWord) {
      begin_attempt();
      return;
    }
    header(value);
  }

  // Words that are not type-1 or type-2 headers, the fillers 0x00000000 and
  // 0xFFFFFFFF among them, are ignored.
  void header(std::uint32_t value) {
    const std::uint32_t type = value >> 29;
    const std::uint32_t op = (value >> 27) & 3;
    std::uint32_t address;
    std::uint32_t count;
    if (type == kType1) {
      address = (value >> 13) & 0x3FFF;
      count = value & 0x7FF;
      state.last_register = address;
    } else if (type == kType2) {
      address = state.last_register;
      count = value & 0x7FFFFFF;
    } else {
      return;
    }
    if (op != kOpRead && op != kOpWrite) return;
    const bool exists = register_exists(address);
    if (!exists) set_crc_error();
    if (op == kOpRead) {
      if (exists) {
        state.read_value = read(address);
        state.read_words = count;
      }
      return;
    }
    state.payload_register = address;
    state.payload_left = count;
    state.payload_skipped = !exists;
  }

  std::uint32_t read(std::uint32_t address) const {
    switch (address) {
      case kCrc:
        return state.crc;
      case kFar:
        return state.far;
      case kCmd:
        return state.cmd;
      case kCtl:
        return state.ctl;
      case kMask:
        return state.mask;
      case kStat:
        return status_word();
      case kCor:
        return state.cor;
      case kFlr:
        return state.flr;
      default:
        return 0;  // FDRO (frames are not kept), FDRI and LOUT (8)
    }
  }

  void write(std::uint32_t address, std::uint32_t value) {
    if (address == kCrc) {
      // The check: the expected value in the low half; the CRC starts
      // again from 0 either way.
      if ((value & 0xFFFF) != state.crc) set_crc_error();
      state.crc = 0;
      if (state.sequence == Sequence::Armed && !state.crc_error) begin_sequence(Sequence::Startup);
      return;
    }
    state.crc = config_crc_step(state.crc, address, value);
    switch (address) {
      case kFdri:
        ++state.fdri_words;
        break;
      case kCmd:
        state.cmd = value;
        command(value);
        break;
      case kCtl:
        state.ctl = (state.ctl & ~state.mask) | (value & state.mask);
        break;
      case kMask:
        state.mask = value;
        break;
      case kFar:
        state.far = value;
        break;
      case kCor:
        state.cor = value;
        break;
      case kFlr:
        state.flr = value;
        break;
      default:
        // LOUT (the daisy-chain output, with nothing behind this part) and
        // the read-only FDRO and STAT: the word only counts in the CRC.
        break;
    }
  }

  void command(std::uint32_t code) {
    switch (code) {
      case kLfrm:
        state.ghigh_b = true;
        update_user_mode();
        break;
      case kStart:
        start();
        break;
      case kRcrc:
        state.crc = 0;
        state.crc_error = false;
        break;
      case kAghigh:
        state.ghigh_b = false;
        update_user_mode();
        break;
      default:
        break;
    }
  }

  void start() {
    if ((state.cor & kCorShutdown) != 0) {
      if (state.configured && state.sequence == Sequence::Idle) {
        begin_sequence(Sequence::Shutdown);
      }
      return;
    }
    if (state.configured || state.sequence != Sequence::Idle) return;
    const auto frame_words = static_cast<std::uint32_t>(geometry.frame_words());
    const auto expected_words =
        std::uint64_t{frame_words} * static_cast<std::uint64_t>(geometry.bitstream_frames());
    if (state.crc_error || state.flr != frame_words - 1 || state.fdri_words != expected_words) {
      set_crc_error();
      return;
    }
    state.sequence = Sequence::Armed;
  }

  void begin_sequence(Sequence sequence) {
    state.sequence = sequence;
    state.phase = 0;
    update_user_mode();
    // CCLK runs free only when the part is the serial master.
    if (((state.cor >> kStartupClock) & 3) == 0 && mode == ConfigMode::MasterSerial) {
      while (state.sequence == sequence) step();
    }
  }

  // One start-up clock: the next phase and its events.
  void step() {
    const bool up = state.sequence == Sequence::Startup;
    const std::uint32_t cor = state.cor;
    ++state.phase;
    if (state.phase == cor_phase(cor, kDoneCycle)) state.done = up;
    if (state.phase == cor_phase(cor, kGtsCycle)) state.gts_cfg = !up;
    if (state.phase == cor_phase(cor, kGweCycle)) state.gwe_b = !up;
    if (state.phase == cor_phase(cor, kGsrCycle)) state.gsr_b = up;
    if (state.phase == kEndOfSequence) {
      state.sequence = Sequence::Idle;
      state.configured = up;
      if (!up) {
        state.done = false;
        state.gts_cfg = true;
        state.gwe_b = true;
        state.gsr_b = false;
      }
    }
    update_user_mode();
  }

  void set_crc_error() {
    state.crc_error = true;
    if (state.sequence == Sequence::Armed) state.sequence = Sequence::Idle;
  }
};

Spartan2::Spartan2(Part part, const char* name, std::uint32_t idcode)
    : Device(name, idcode, 5, 0x01, kIdcode),
      logic_(std::make_unique<Logic>(part, spartan2_geometry(part))) {}

Spartan2::~Spartan2() = default;

Part Spartan2::part() const { return logic_->part; }
Spartan2Geometry Spartan2::geometry() const { return logic_->geometry; }

void Spartan2::set_mode(ConfigMode mode) { logic_->mode = mode; }
ConfigMode Spartan2::mode() const { return logic_->mode; }

void Spartan2::set_usercode(std::uint32_t usercode) {
  logic_->usercode = usercode;
  logic_->update_user_mode();
}

std::uint32_t Spartan2::usercode() const { return logic_->usercode; }
UserDesign& Spartan2::design() { return logic_->design; }
void Spartan2::set_cfg_out_pipeline(bool pipeline) { logic_->cfg_out_pipeline = pipeline; }

bool Spartan2::done() const { return logic_->state.done; }
bool Spartan2::init() const { return !logic_->state.crc_error; }
bool Spartan2::crc_error() const { return logic_->state.crc_error; }
bool Spartan2::synced() const { return logic_->state.synced; }
bool Spartan2::user_mode() const { return logic_->state.user_mode; }
std::uint32_t Spartan2::status_word() const { return logic_->status_word(); }

void Spartan2::serial_configuration_bit(bool bit) { logic_->bit(bit); }

void Spartan2::pulse_program() { logic_->power_on(); }

DataRegister* Spartan2::select_register(std::uint32_t instruction) {
  switch (instruction) {
    case kUser1:
      return &logic_->user1;
    case kUser2:
      return &logic_->user2;
    case kCfgOut:
      return &logic_->cfg_out;
    case kCfgIn:
      return &logic_->cfg_in;
    case kUsercode:
      return &logic_->usercode_register;
    default:
      return Device::select_register(instruction);
  }
}

// The capture shows the configuration pins in bits 4..2 (PROGRAM, INIT,
// DONE) above the fixed 01; PROGRAM is pulled high on the bench.
std::uint32_t Spartan2::capture_ir_value() const {
  return 0x11u | (done() ? 0x04u : 0u) | (init() ? 0x08u : 0u);
}

// JSTART makes TCK the start-up clock in every TAP state.
void Spartan2::on_clock(TapState, TapState) {
  if (instruction() == kJstart) logic_->jtag_clock();
}

void Spartan2::on_power_on() { logic_->power_on(); }

}  // namespace velnor::bench
