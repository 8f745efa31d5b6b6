#include "bench/an2131.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace velnor::bench {

namespace {

constexpr std::uint8_t kTckPinC = 0x02;    // PC1
constexpr std::uint8_t kTmsPinC = 0x04;    // PC2
constexpr std::uint8_t kTdoPinC = 0x01;    // PC0
constexpr std::uint8_t kPowerPinC = 0x08;  // PC3
constexpr std::uint8_t kTdiPinA = 0x20;    // PA5
// The ULINK pod.
constexpr std::uint8_t kUlinkTdiPinB = 0x01;  // PB0
constexpr std::uint8_t kUlinkTmsPinB = 0x02;  // PB1
constexpr std::uint8_t kUlinkTckPinB = 0x04;  // PB2
constexpr std::uint8_t kUlinkTdoPinA = 0x20;  // PA5

std::string hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

}  // namespace

An2131::An2131(Chain& chain, ViolationSink violation, Wiring wiring)
    : chain_(chain),
      violation_(std::move(violation)),
      wiring_(wiring),
      cpu_(*this, Mcs51::Options{Mcs51::RiPage::Mpage, Mcs51::Timing::An2131, kRamSize}) {
  reg(kCpucs) = kCpuReset;
  reg(kUsbCs) = kDiscoe;
  std::fill(cpu_.code().begin(), cpu_.code().end(), std::uint8_t{0});
}

Mcs51& An2131::cpu() { return cpu_; }

std::uint64_t An2131::cycles() const { return cpu_.cycles(); }

std::span<std::uint8_t> An2131::ram() { return cpu_.code().subspan(0, kRamSize); }

bool An2131::cpu_held() const { return held_; }

void An2131::set_cpu_held(bool held) {
  if (held) {
    cpu_.reset();
    crashed_ = false;
  }
  held_ = held;
  reg(kCpucs) = static_cast<std::uint8_t>((reg(kCpucs) & ~kCpuReset) | (held ? kCpuReset : 0));
}

std::uint64_t An2131::run(std::uint64_t cycles) {
  if (held_ || crashed_) return 0;
  const Mcs51::Result result = cpu_.run(cycles);
  if (result.stop == Mcs51::Stop::IllegalOpcode) {
    crashed_ = true;
    violation("EZ-USB 8051 ran into the undefined opcode 0xA5 at " + hex4(cpu_.pc()));
  }
  return result.cycles;
}

bool An2131::crashed() const { return crashed_; }

void An2131::set_activity_handler(std::function<void()> handler) {
  on_activity_ = std::move(handler);
}

std::uint64_t An2131::activity_count() const { return activity_count_; }

std::uint64_t An2131::last_port_write() const { return last_port_write_; }

bool An2131::renum() const { return (registers_[kUsbCs - kRegisterBase] & kRenum) != 0; }

bool An2131::off_bus() const {
  const std::uint8_t usbcs = registers_[kUsbCs - kRegisterBase];
  return (usbcs & kDiscoe) == 0 || (usbcs & kDiscon) != 0;
}

std::uint8_t An2131::in_valid() const { return registers_[kIn07Val - kRegisterBase]; }

std::uint8_t An2131::out_valid() const { return registers_[kOut07Val - kRegisterBase]; }

void An2131::start_of_frame(std::uint16_t frame) {
  reg(kUsbFrameL) = static_cast<std::uint8_t>(frame);
  reg(kUsbFrameH) = static_cast<std::uint8_t>((frame >> 8) & 0x07);
  reg(kUsbIrq) |= kSof;
  update_interrupt();
}

void An2131::host_bus_reset() {
  for (int n = 1; n < 8; ++n) {
    out_[n].busy = true;
    out_[n].has_data = false;
    out_[n].reported = false;
  }
  for (Pair& pair : out_pairs_) pair = Pair{pair.on};
  reg(kUsbIrq) |= kUsbReset;
  update_interrupt();
}

An2131::Pair* An2131::out_pair(int endpoint) {
  if (endpoint < 2 || endpoint > 7) return nullptr;
  Pair& pair = out_pairs_[(endpoint - 2) / 2];
  return pair.on ? &pair : nullptr;
}

const An2131::Pair* An2131::out_pair(int endpoint) const {
  return const_cast<An2131*>(this)->out_pair(endpoint);
}

bool An2131::out_armed(int endpoint) const {
  const Pair* pair = out_pair(endpoint);
  if (pair == nullptr) return out_[endpoint].busy;
  return endpoint % 2 == 0 && out_[endpoint + pair->host_side].busy;
}

int An2131::out_held(int endpoint) const {
  if (out_pair(endpoint) == nullptr) return out_[endpoint].has_data ? 1 : 0;
  return (out_[endpoint].has_data ? 1 : 0) + (out_[endpoint + 1].has_data ? 1 : 0);
}

bool An2131::out_stalled(int endpoint) const { return out_[endpoint].stalled; }

void An2131::host_out(int endpoint, std::span<const std::uint8_t> packet) {
  int buffer = endpoint;
  if (Pair* pair = out_pair(endpoint)) {
    buffer = endpoint + pair->host_side;
    pair->host_side ^= 1;
  }
  Endpoint& e = out_[buffer];
  std::copy(packet.begin(), packet.end(), &reg(out_buffer(buffer)));
  e.busy = false;
  e.has_data = true;
  e.reported = false;
  e.count = static_cast<std::uint8_t>(packet.size());
  reg(kOut07Irq) |= static_cast<std::uint8_t>(1u << endpoint);
  update_interrupt();
}

bool An2131::in_armed(int endpoint) const { return in_[endpoint].busy; }

bool An2131::in_stalled(int endpoint) const { return in_[endpoint].stalled; }

std::uint8_t An2131::in_count(int endpoint) const { return in_[endpoint].count; }

std::vector<std::uint8_t> An2131::host_take_in(int endpoint) {
  Endpoint& e = in_[endpoint];
  const std::uint8_t* start = &reg(in_buffer(endpoint));
  std::vector<std::uint8_t> packet(start, start + e.count);
  e.busy = false;
  e.reported = false;
  reg(kIn07Irq) |= static_cast<std::uint8_t>(1u << endpoint);
  update_interrupt();
  return packet;
}

void An2131::host_setup(const UsbSetup& setup) {
  const std::uint8_t bytes[8] = {setup.request_type,
                                 setup.request,
                                 static_cast<std::uint8_t>(setup.value),
                                 static_cast<std::uint8_t>(setup.value >> 8),
                                 static_cast<std::uint8_t>(setup.index),
                                 static_cast<std::uint8_t>(setup.index >> 8),
                                 static_cast<std::uint8_t>(setup.length),
                                 static_cast<std::uint8_t>(setup.length >> 8)};
  std::copy(std::begin(bytes), std::end(bytes), &reg(kSetupDat));
  // A new SETUP cancels whatever endpoint 0 still held.
  in_[0] = Endpoint{};
  ep0_stalled_ = false;
  ep0_descriptor_.clear();
  ep0_descriptor_ready_ = false;
  hsnak_ = true;
  reg(kUsbIrq) |= kSudav | kSutok;
  update_interrupt();
}

bool An2131::ep0_stalled() const { return ep0_stalled_; }

bool An2131::ep0_handshake_done() const { return !hsnak_; }

bool An2131::ep0_take_in(Ep0Data* data) {
  if (ep0_descriptor_ready_) {
    data->bytes = std::move(ep0_descriptor_);
    data->last = true;
    ep0_descriptor_.clear();
    ep0_descriptor_ready_ = false;
    return true;
  }
  if (!in_[0].busy) return false;
  data->bytes = host_take_in(0);
  data->last = data->bytes.size() < kPacketSize;
  return true;
}

std::uint8_t& An2131::reg(std::uint16_t address) { return registers_[address - kRegisterBase]; }

void An2131::activity() {
  ++activity_count_;
  if (on_activity_) on_activity_();
}

void An2131::violation(std::string text) {
  if (violation_) violation_(std::move(text));
}

int An2131::buffer_endpoint(std::uint16_t address, bool* in) {
  if (address < 0x7B40 || address >= 0x7F40) return -1;
  // Buffers alternate in 64-byte steps downwards from IN0BUF at 0x7F00:
  // OUT0 0x7EC0, IN1 0x7E80, OUT1 0x7E40, ...
  const int step = (0x7F3F - address) / 0x40;
  *in = step % 2 == 0;
  return step / 2;
}

void An2131::report_unmapped(std::uint16_t address, const char* verb) {
  report_once(address, std::string("EZ-USB 8051 ") + verb + " external data at " + hex4(address) +
                           ", where nothing is");
}

void An2131::report_once(std::uint16_t address, std::string text) {
  // Once per address: a firmware polling a wrong address would flood the list.
  if (std::find(reported_addresses_.begin(), reported_addresses_.end(), address) !=
      reported_addresses_.end()) {
    return;
  }
  reported_addresses_.push_back(address);
  violation(std::move(text));
}

int An2131::cpu_out_buffer(int endpoint, std::uint16_t address) {
  const Pair* pair = out_pair(endpoint);
  if (pair == nullptr) return endpoint;
  if (endpoint % 2 != 0) {
    report_once(address, "EZ-USB 8051 used OUT" + std::to_string(endpoint) + " at " +
                             hex4(address) + ", the odd half of the pair OUT" +
                             std::to_string(endpoint - 1) + "/OUT" + std::to_string(endpoint) +
                             ", which it reaches through OUT" + std::to_string(endpoint - 1));
    return -1;
  }
  return endpoint + pair->cpu_side;
}

void An2131::write_out_count(int endpoint, std::uint16_t address) {
  const int buffer = cpu_out_buffer(endpoint, address);
  if (buffer < 0) return;
  Endpoint& e = out_[buffer];
  if (Pair* pair = out_pair(endpoint); pair != nullptr && endpoint % 2 == 0) {
    // The buffer goes back to the host and the 8051 turns to the other one;
    // handing back a buffer it does not hold puts the two sides out of step.
    if (e.busy) {
      violation("EZ-USB 8051 wrote OUT" + std::to_string(endpoint) + "BC while OUT" +
                std::to_string(endpoint) + "CS is busy: neither buffer of the pair holds a " +
                "packet for it");
    }
    pair->cpu_side ^= 1;
  }
  // Any write re-arms: the buffer goes back to the host.
  e.busy = true;
  e.has_data = false;
  e.reported = false;
  activity();
}

void An2131::write_pairing(std::uint8_t value) {
  if ((value & kPairIn) != 0) {
    violation("EZ-USB 8051 paired IN endpoints (USBPAIR " + hex4(value) +
              "): not emulated by the bench");
  }
  for (int k = 0; k < 3; ++k) {
    const bool on = (value & (kPair2Out << k)) != 0;
    if (on != out_pairs_[k].on) out_pairs_[k] = Pair{on};
  }
  reg(kUsbPair) = value;
}

std::uint16_t An2131::autopointer_step() { return autopointer_++; }

std::uint8_t An2131::read_external(std::uint16_t address) {
  return address < kRamSize ? ram()[address] : read_xdata(address);
}

void An2131::write_external(std::uint16_t address, std::uint8_t value) {
  if (address < kRamSize) {
    ram()[address] = value;
  } else {
    write_xdata(address, value);
  }
}

std::uint8_t An2131::read_xdata(std::uint16_t address) {
  switch (address) {
    case kAutoPtrH:
      return static_cast<std::uint8_t>(autopointer_ >> 8);
    case kAutoPtrL:
      return static_cast<std::uint8_t>(autopointer_);
    case kAutoData: {
      const std::uint16_t target = autopointer_step();
      // Through itself the autopointer reaches nothing.
      return target == kAutoData ? 0xFF : read_external(target);
    }
    default:
      break;
  }
  if (address < kRegisterBase || address >= 0x8000) {
    report_unmapped(address, "read");
    return 0xFF;
  }
  bool in = false;
  const int endpoint = buffer_endpoint(address, &in);
  if (endpoint >= 0) {
    if (in || endpoint == 0) return reg(address);
    const int buffer = cpu_out_buffer(endpoint, out_buffer(endpoint));
    if (buffer < 0) return reg(address);
    Endpoint& e = out_[buffer];
    if (!e.has_data && !e.reported) {
      e.reported = true;
      violation("EZ-USB 8051 read OUT" + std::to_string(endpoint) +
                "BUF while it holds no packet from the host");
    }
    return reg(static_cast<std::uint16_t>(address - out_buffer(endpoint) + out_buffer(buffer)));
  }
  switch (address) {
    case kPinsA: {
      // Undriven inputs float high; the ULINK's TDO comes in on PA5.
      std::uint8_t inputs = 0xFF;
      if (wiring_ == Wiring::OpenUlink && !chain_.tdo()) {
        inputs = static_cast<std::uint8_t>(inputs & ~kUlinkTdoPinA);
      }
      return static_cast<std::uint8_t>((reg(kOutA) & reg(kOeA)) | (inputs & ~reg(kOeA)));
    }
    case kPinsB:
      return static_cast<std::uint8_t>((reg(kOutB) & reg(kOeB)) | ~reg(kOeB));
    case kPinsC: {
      // Undriven inputs float high; on our cable PC0 and PC3 are its two
      // inputs.
      std::uint8_t inputs = 0xFF;
      if (wiring_ == Wiring::Velnor) {
        inputs = static_cast<std::uint8_t>(inputs & ~(kTdoPinC | kPowerPinC));
        if (chain_.tdo()) inputs |= kTdoPinC;
        if (chain_.powered()) inputs |= kPowerPinC;
      }
      return static_cast<std::uint8_t>((reg(kOutC) & reg(kOeC)) | (inputs & ~reg(kOeC)));
    }
    case kEp0Cs:
      return static_cast<std::uint8_t>((ep0_stalled_ ? kStall : 0) | (hsnak_ ? kHsnak : 0) |
                                       (in_[0].busy ? kIn0Busy : 0));
    default:
      break;
  }
  for (int n = 1; n < 8; ++n) {
    if (address == in_cs(n)) {
      return static_cast<std::uint8_t>((in_[n].busy ? kBusy : 0) | (in_[n].stalled ? kStall : 0));
    }
    if (address == out_cs(n)) {
      const int buffer = cpu_out_buffer(n, address);
      const bool busy = out_[buffer < 0 ? n : buffer].busy;
      return static_cast<std::uint8_t>((busy ? kBusy : 0) | (out_[n].stalled ? kStall : 0));
    }
    if (address == out_cs(n) + 1) {
      const int buffer = cpu_out_buffer(n, address);
      return out_[buffer < 0 ? n : buffer].count;
    }
    if (address == in_cs(n) + 1) return in_[n].count;
  }
  return reg(address);
}

void An2131::write_xdata(std::uint16_t address, std::uint8_t value) {
  switch (address) {
    case kAutoPtrH:
      autopointer_ = static_cast<std::uint16_t>((autopointer_ & 0x00FF) | (value << 8));
      return;
    case kAutoPtrL:
      autopointer_ = static_cast<std::uint16_t>((autopointer_ & 0xFF00) | value);
      return;
    case kAutoData: {
      const std::uint16_t target = autopointer_step();
      if (target != kAutoData) write_external(target, value);
      return;
    }
    default:
      break;
  }
  if (address < kRegisterBase || address >= 0x8000) {
    report_unmapped(address, "wrote");
    return;
  }
  bool in = false;
  const int endpoint = buffer_endpoint(address, &in);
  if (endpoint >= 0) {
    Endpoint& e = in_[endpoint];
    if (in && e.busy && !e.reported) {
      e.reported = true;
      violation("EZ-USB 8051 wrote IN" + std::to_string(endpoint) +
                "BUF while the packet in it waits for the host");
    }
    if (!in && endpoint > 0) {
      const int buffer = cpu_out_buffer(endpoint, out_buffer(endpoint));
      if (buffer >= 0) {
        address = static_cast<std::uint16_t>(address - out_buffer(endpoint) + out_buffer(buffer));
      }
    }
    reg(address) = value;
    return;
  }
  switch (address) {
    case kCpucs:
      // 8051RES belongs to the host; the 8051 cannot reset itself.
      return;
    case kPinsA:
    case kPinsB:
    case kPinsC:
    case kUsbFrameL:
    case kUsbFrameH:
      return;  // read-only
    case kOutA:
    case kOutB:
    case kOutC:
    case kOeA:
    case kOeB:
    case kOeC:
    case kPortAcfg:
    case kPortBcfg:
    case kPortCcfg:
      reg(address) = value;
      last_port_write_ = cpu_.cycles();
      update_pins();
      return;
    case kUsbIrq:
    case kIn07Irq:
    case kOut07Irq:
      reg(address) = static_cast<std::uint8_t>(reg(address) & ~value);  // write 1 to clear
      update_interrupt();
      return;
    case kUsbIen:
    case kIn07Ien:
    case kOut07Ien:
    case kUsbBav:
      reg(address) = value;
      update_interrupt();
      return;
    case kEp0Cs:
      if ((value & kStall) != 0) ep0_stalled_ = true;
      if ((value & kHsnak) != 0) hsnak_ = false;
      activity();
      return;
    case kSudPtrL:
      reg(address) = value;
      start_descriptor(static_cast<std::uint16_t>(reg(kSudPtrH) << 8 | value));
      activity();
      return;
    case kUsbCs:
      reg(address) = value;
      activity();
      return;
    case kUsbPair:
      write_pairing(value);
      return;
    default:
      break;
  }
  for (int n = 0; n < 8; ++n) {
    if (address == in_cs(n) + 1) {
      write_in_count(n, value);
      return;
    }
    if (n > 0 && address == in_cs(n)) {
      in_[n].stalled = (value & kStall) != 0;
      activity();
      return;
    }
    if (n > 0 && address == out_cs(n)) {
      if (cpu_out_buffer(n, address) < 0) return;
      out_[n].stalled = (value & kStall) != 0;
      activity();
      return;
    }
    if (n > 0 && address == out_cs(n) + 1) {
      write_out_count(n, address);
      return;
    }
  }
  reg(address) = value;
}

void An2131::write_in_count(int endpoint, std::uint8_t value) {
  Endpoint& e = in_[endpoint];
  const std::string name = "IN" + std::to_string(endpoint);
  if (e.busy) {
    violation("EZ-USB 8051 armed " + name + " while its last packet still waits for the host");
  }
  if (value > kPacketSize) {
    violation("EZ-USB 8051 armed " + name + " with " + std::to_string(value) +
              " bytes; a packet holds 64");
    value = kPacketSize;
  }
  e.busy = true;
  e.reported = false;
  e.count = value;
  activity();
}

void An2131::start_descriptor(std::uint16_t address) {
  // The core sends a descriptor from RAM: its own length byte, or the total
  // length of a configuration, cut to what the host asked for.
  const auto memory = ram();
  if (address + 4 > kRamSize) {
    violation("EZ-USB SUDPTR " + hex4(address) + " points outside the RAM");
    ep0_stalled_ = true;
    return;
  }
  std::size_t length = memory[address];
  if (memory[address + 1] == 2) length = memory[address + 2] | memory[address + 3] << 8;
  const std::size_t wanted = reg(kSetupDat + 6) | reg(kSetupDat + 7) << 8;
  length = std::min({length, wanted, std::size_t{kRamSize} - address});
  ep0_descriptor_.assign(memory.begin() + address, memory.begin() + address + length);
  ep0_descriptor_ready_ = true;
}

void An2131::update_pins() {
  // A pin set to its alternate function or without its OE bit is not driven
  // by the port, and the target's pull-up holds the line high.
  const auto driven = [&](std::uint16_t out, std::uint16_t oe, std::uint16_t cfg,
                          std::uint8_t bit) {
    if ((reg(oe) & bit) == 0 || (reg(cfg) & bit) != 0) return true;
    return (reg(out) & bit) != 0;
  };
  const bool ulink = wiring_ == Wiring::OpenUlink;
  const bool tck = ulink ? driven(kOutB, kOeB, kPortBcfg, kUlinkTckPinB)
                         : driven(kOutC, kOeC, kPortCcfg, kTckPinC);
  const bool tms = ulink ? driven(kOutB, kOeB, kPortBcfg, kUlinkTmsPinB)
                         : driven(kOutC, kOeC, kPortCcfg, kTmsPinC);
  const bool tdi = ulink ? driven(kOutB, kOeB, kPortBcfg, kUlinkTdiPinB)
                         : driven(kOutA, kOeA, kPortAcfg, kTdiPinA);
  if (tck == tck_ && tms == tms_ && tdi == tdi_) return;
  tck_ = tck;
  tms_ = tms;
  tdi_ = tdi;
  activity();
  chain_.set_pins(tck, tms, tdi);
}

void An2131::update_interrupt() {
  const bool request = (reg(kUsbIrq) & reg(kUsbIen)) != 0 || (reg(kIn07Irq) & reg(kIn07Ien)) != 0 ||
                       (reg(kOut07Irq) & reg(kOut07Ien)) != 0;
  // The core drives the vector onto the code bus when the CPU fetches 0x45;
  // keeping the byte there current has the same effect on the jump.
  if ((reg(kUsbBav) & kAven) != 0) ram()[kAutovectorByte] = autovector();
  cpu_.set_line(Mcs51::Line::Usb, request);
}

std::uint8_t An2131::autovector() {
  // Priority: SUDAV, SOF, SUTOK, SUSPEND, USB reset (4 apart from 0x00),
  // then IN0, OUT0, IN1, OUT1, ... OUT7 (from 0x18, 4 apart).
  const std::uint8_t usb = reg(kUsbIrq) & reg(kUsbIen);
  for (unsigned bit = 0; bit < 5; ++bit) {
    if ((usb >> bit & 1) != 0) return static_cast<std::uint8_t>(4 * bit);
  }
  const std::uint8_t in = reg(kIn07Irq) & reg(kIn07Ien);
  const std::uint8_t out = reg(kOut07Irq) & reg(kOut07Ien);
  for (unsigned n = 0; n < 8; ++n) {
    if ((in >> n & 1) != 0) return static_cast<std::uint8_t>(0x18 + 8 * n);
    if ((out >> n & 1) != 0) return static_cast<std::uint8_t>(0x1C + 8 * n);
  }
  return ram()[kAutovectorByte];
}

}  // namespace velnor::bench
