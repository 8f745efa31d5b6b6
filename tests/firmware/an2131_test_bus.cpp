#include "an2131_test_bus.h"

#include <stdexcept>

namespace velnor::bench {

namespace {

constexpr std::uint16_t kFirstRegister = 0x7B40;
constexpr std::uint16_t kOuta = 0x7F96;
constexpr std::uint16_t kOutc = 0x7F98;
constexpr std::uint16_t kPinsc = 0x7F9B;
constexpr std::uint16_t kOea = 0x7F9C;
constexpr std::uint16_t kOec = 0x7F9E;
constexpr std::uint16_t kIn0Buf = 0x7F00;
constexpr std::uint16_t kIn2Buf = 0x7E00;
constexpr std::uint16_t kIn0Bc = 0x7FB5;
constexpr std::uint16_t kEp0Cs = 0x7FB4;
constexpr std::uint16_t kIn2Cs = 0x7FB8;
constexpr std::uint16_t kIn2Bc = 0x7FB9;
constexpr std::uint16_t kUsbIrq = 0x7FAB;
constexpr std::uint16_t kSudPtrH = 0x7FD4;
constexpr std::uint16_t kSudPtrL = 0x7FD5;
constexpr std::uint16_t kUsbCs = 0x7FD6;
constexpr std::uint16_t kAutoPtrH = 0x7FE3;
constexpr std::uint16_t kAutoPtrL = 0x7FE4;
constexpr std::uint16_t kAutoData = 0x7FE5;
constexpr std::uint16_t kSetupDat = 0x7FE8;
constexpr std::uint8_t kBusy = 0x02;
constexpr std::uint8_t kSudav = 0x01;

// The control/status register of an OUT endpoint sits just below its count.
std::uint16_t status_of(An2131TestBus::Out endpoint) {
  return static_cast<std::uint16_t>(endpoint) - 1;
}

std::uint16_t buffer_of(An2131TestBus::Out endpoint) {
  switch (endpoint) {
    case An2131TestBus::Out::Ep2:
      return 0x7DC0;
    case An2131TestBus::Out::Ep4:
      return 0x7CC0;
    case An2131TestBus::Out::Ep6:
      return 0x7BC0;
  }
  throw std::logic_error("unknown endpoint");
}

bool is_out_count(std::uint16_t address) {
  return address == static_cast<std::uint16_t>(An2131TestBus::Out::Ep2) ||
         address == static_cast<std::uint16_t>(An2131TestBus::Out::Ep4) ||
         address == static_cast<std::uint16_t>(An2131TestBus::Out::Ep6);
}

}  // namespace

An2131TestBus::An2131TestBus(Chain& chain) : chain_(chain) {}

void An2131TestBus::attach(const Mcs51& cpu) { cpu_ = &cpu; }

std::uint64_t An2131TestBus::now() const { return cpu_ != nullptr ? cpu_->cycles() : 0; }

std::uint16_t An2131TestBus::autopointer() const {
  return static_cast<std::uint16_t>(memory_[kAutoPtrH] << 8 | memory_[kAutoPtrL]);
}

std::uint8_t An2131TestBus::reg(std::uint16_t address) const { return memory_[address]; }
bool An2131TestBus::tck() const { return tck_; }
bool An2131TestBus::tms() const { return tms_; }
bool An2131TestBus::tdi() const { return tdi_; }

std::uint8_t An2131TestBus::read_xdata(std::uint16_t address) {
  if (address < kFirstRegister) ++stray_accesses;
  if (address == kPinsc) {
    if (tck_) ++pinsc_reads_with_tck_high;
    // Unconnected PC4..PC7 float high.
    return static_cast<std::uint8_t>(0xF0 | (chain_.tdo() ? 0x01 : 0) | (tck_ ? 0x02 : 0) |
                                     (tms_ ? 0x04 : 0) | (target_powered ? 0x08 : 0));
  }
  if (address == kAutoData) {
    const std::uint16_t pointer = autopointer();
    const std::uint8_t value = read_xdata(pointer);
    write_xdata(kAutoPtrL, static_cast<std::uint8_t>(pointer + 1));
    write_xdata(kAutoPtrH, static_cast<std::uint8_t>((pointer + 1) >> 8));
    return value;
  }
  return memory_[address];
}

void An2131TestBus::write_xdata(std::uint16_t address, std::uint8_t value) {
  if (address < kFirstRegister) ++stray_accesses;
  if (address == kAutoData) {
    const std::uint16_t pointer = autopointer();
    write_xdata(pointer, value);
    memory_[kAutoPtrL] = static_cast<std::uint8_t>(pointer + 1);
    memory_[kAutoPtrH] = static_cast<std::uint8_t>((pointer + 1) >> 8);
    return;
  }
  if (address == kUsbIrq) {
    memory_[address] = static_cast<std::uint8_t>(memory_[address] & ~value);  // write 1 to clear
    return;
  }
  memory_[address] = value;
  if (address == kOuta || address == kOutc || address == kOea || address == kOec) {
    drive_pins();
  } else if (is_out_count(address)) {
    memory_[address - 1] |= kBusy;  // armed for the host's next packet
    last_out_rearm_cycle = now();
  } else if (address == kIn2Bc) {
    memory_[kIn2Cs] |= kBusy;
    reply_.assign(memory_.begin() + kIn2Buf, memory_.begin() + kIn2Buf + value);
    last_reply_cycle = now();
  } else if (address == kIn0Bc) {
    in0_packet.assign(memory_.begin() + kIn0Buf, memory_.begin() + kIn0Buf + value);
  } else if (address == kEp0Cs) {
    ep0_writes.push_back(value);
  } else if (address == kSudPtrL) {
    descriptor_pointers.push_back(static_cast<std::uint16_t>(memory_[kSudPtrH] << 8 | value));
  } else if (address == kUsbCs) {
    usbcs_writes.push_back(value);
  }
}

// A pin whose output enable is clear is not driven and reads high.
void An2131TestBus::drive_pins() {
  const bool tck = (memory_[kOec] & 0x02) == 0 || (memory_[kOutc] & 0x02) != 0;
  const bool tms = (memory_[kOec] & 0x04) == 0 || (memory_[kOutc] & 0x04) != 0;
  const bool tdi = (memory_[kOea] & 0x20) == 0 || (memory_[kOuta] & 0x20) != 0;
  if (tck && !tck_) rising_edges.push_back({tms, tdi, now()});
  tck_ = tck;
  tms_ = tms;
  tdi_ = tdi;
  chain_.set_pins(tck, tms, tdi);
}

bool An2131TestBus::out_armed(Out endpoint) const {
  return (memory_[status_of(endpoint)] & kBusy) != 0;
}

void An2131TestBus::send(Out endpoint, std::span<const std::uint8_t> packet) {
  if (!out_armed(endpoint) || packet.size() > 64) throw std::logic_error("endpoint not armed");
  std::copy(packet.begin(), packet.end(), memory_.begin() + buffer_of(endpoint));
  memory_[static_cast<std::uint16_t>(endpoint)] = static_cast<std::uint8_t>(packet.size());
  memory_[status_of(endpoint)] &= static_cast<std::uint8_t>(~kBusy);
}

bool An2131TestBus::reply_armed() const { return (memory_[kIn2Cs] & kBusy) != 0; }

std::vector<std::uint8_t> An2131TestBus::take_reply() {
  if (!reply_armed()) throw std::logic_error("no reply armed");
  memory_[kIn2Cs] &= static_cast<std::uint8_t>(~kBusy);
  return reply_;
}

void An2131TestBus::send_setup(const std::array<std::uint8_t, 8>& setup) {
  std::copy(setup.begin(), setup.end(), memory_.begin() + kSetupDat);
  memory_[kUsbIrq] |= kSudav;
}

}  // namespace velnor::bench
