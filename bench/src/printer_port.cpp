#include "bench/printer_port.h"

namespace velnor::bench {

namespace {

// Data register: the cable's inputs.
constexpr std::uint8_t kTdi = 0x01;
constexpr std::uint8_t kTck = 0x02;
constexpr std::uint8_t kTms = 0x04;
constexpr std::uint8_t kBufferEnable = 0x10;
constexpr std::uint8_t kDetectDrive = 0x40;

// Status register: bits 2..0 are not pins and read 1; bits 6..3 read the
// levels of nACK, PAPER-END, SELECT and nERROR; bit 7 reads BUSY inverted.
constexpr std::uint8_t kUnusedBits = 0x07;
constexpr std::uint8_t kPowerSense = 0x08;  // nERROR pin
constexpr std::uint8_t kTdo = 0x10;         // SELECT pin
constexpr std::uint8_t kPaperEnd = 0x20;    // PAPER-END pin
constexpr std::uint8_t kAck = 0x40;         // nACK pin
constexpr std::uint8_t kBusy = 0x80;        // BUSY pin, inverted by the port

// Status register bits from pin levels.
std::uint8_t status_from_pins(bool error, bool select, bool paper_end, bool ack, bool busy) {
  return static_cast<std::uint8_t>(kUnusedBits | (error ? kPowerSense : 0) | (select ? kTdo : 0) |
                                   (paper_end ? kPaperEnd : 0) | (ack ? kAck : 0) |
                                   (busy ? 0 : kBusy));
}

}  // namespace

PrinterPort::PrinterPort(std::uint16_t base, Attached attached, Chain* chain)
    : base_(base), attached_(attached), chain_(chain) {}

std::uint16_t PrinterPort::base() const { return base_; }

PrinterPort::Attached PrinterPort::attached() const { return attached_; }

std::uint8_t PrinterPort::data() const { return data_; }

std::uint8_t PrinterPort::read(std::uint16_t offset) {
  switch (offset) {
    case 0:
      return data_;
    case 1:
      return status();
    case 2:
      return control_;
    default:
      return 0xFF;
  }
}

void PrinterPort::write(std::uint16_t offset, std::uint8_t value) {
  if (offset == 0) {
    data_ = value;
    if (attached_ == Attached::XilinxCable) drive_chain();
  } else if (offset == 2) {
    control_ = value;
  }
}

void PrinterPort::drive_chain() {
  // With its buffers disabled the cable drives nothing, and the target's
  // pull-ups take TCK, TMS and TDI high.
  if ((data_ & kBufferEnable) == 0) {
    chain_->set_pins(true, true, true);
    return;
  }
  chain_->set_pins((data_ & kTck) != 0, (data_ & kTms) != 0, (data_ & kTdi) != 0);
}

std::uint8_t PrinterPort::status() const {
  const bool detect = (data_ & kDetectDrive) != 0;
  switch (attached_) {
    case Attached::XilinxCable:
      // The detect loop is passive wiring from D6 to PAPER-END and BUSY; the
      // power sense and TDO need the target's supply.
      return status_from_pins(chain_->powered(), chain_->tdo(), detect, true, detect);
    case Attached::OtherDevice:
      // A printer that is ready: no error, selected, paper present, not busy.
      return status_from_pins(true, true, false, true, false);
    case Attached::Nothing:
      break;
  }
  // Open inputs float high.
  return status_from_pins(true, true, true, true, true);
}

}  // namespace velnor::bench
