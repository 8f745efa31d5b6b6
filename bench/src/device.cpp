#include "bench/device.h"

#include <stdexcept>
#include <utility>

namespace velnor::bench {

namespace {

std::uint64_t low_mask(int length) {
  return length >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
}

}  // namespace

ShiftRegister::ShiftRegister(int length, std::uint64_t capture_value) : length_(length) {
  if (length < 1 || length > 64) {
    throw std::invalid_argument("shift register length must be 1..64");
  }
  set_capture_value(capture_value);
}

void ShiftRegister::set_capture_value(std::uint64_t value) {
  capture_value_ = value & low_mask(length_);
}

void ShiftRegister::capture() { bits_ = capture_value_; }

bool ShiftRegister::output() const { return (bits_ & 1) != 0; }

void ShiftRegister::shift(bool tdi) {
  bits_ = (bits_ >> 1) | (static_cast<std::uint64_t>(tdi) << (length_ - 1));
}

void ShiftRegister::update() { updated_ = bits_; }

std::uint64_t ShiftRegister::value() const { return updated_; }

int ShiftRegister::length() const { return length_; }

Device::Device(std::string name, std::uint32_t idcode, int ir_length, std::uint32_t ir_capture,
               std::uint32_t idcode_instruction)
    : name_(std::move(name)),
      idcode_value_(idcode),
      ir_length_(ir_length),
      ir_capture_(ir_capture),
      idcode_instruction_(idcode_instruction),
      bypass_(1, 0),
      idcode_(32, idcode) {
  // The standard asks for at least two bits; the bench keeps the IR in 32.
  if (ir_length < 2 || ir_length > 32) {
    throw std::invalid_argument("instruction register length must be 2..32");
  }
  // The parts' own decoding joins in at power_on_reset, once they exist.
  instruction_ = idcode_instruction_;
  selected_ = Device::select_register(instruction_);
}

const std::string& Device::name() const { return name_; }
std::uint32_t Device::idcode() const { return idcode_value_; }
int Device::ir_length() const { return ir_length_; }
TapState Device::state() const { return state_; }
std::uint32_t Device::instruction() const { return instruction_; }
bool Device::tdo() const { return tdo_enabled_ && tdo_; }
bool Device::tdo_enabled() const { return tdo_enabled_; }

std::uint32_t Device::bypass_instruction() const {
  return static_cast<std::uint32_t>(low_mask(ir_length_));
}

void Device::rising_edge(bool tms, bool tdi) {
  // Capture and Shift act on the edge that leaves their state.
  const TapState before = state_;
  switch (before) {
    case TapState::CaptureIr:
      ir_shift_ = capture_ir_value() & bypass_instruction();
      break;
    case TapState::ShiftIr:
      ir_shift_ = (ir_shift_ >> 1) | (static_cast<std::uint32_t>(tdi) << (ir_length_ - 1));
      break;
    case TapState::CaptureDr:
      selected_->capture();
      break;
    case TapState::ShiftDr:
      selected_->shift(tdi);
      break;
    default:
      break;
  }
  state_ = next_tap_state(before, tms);
  if (state_ == TapState::TestLogicReset && before != TapState::TestLogicReset) {
    reset_pending_ = true;
  }
  on_clock(before, state_);
}

void Device::falling_edge() {
  // TDO is driven only while shifting; it changes here, half a cycle before
  // the next rising edge, so the neighbour samples a settled level.
  tdo_enabled_ = false;
  switch (state_) {
    case TapState::ShiftIr:
      tdo_ = (ir_shift_ & 1) != 0;
      tdo_enabled_ = true;
      break;
    case TapState::ShiftDr:
      tdo_ = selected_->output();
      tdo_enabled_ = true;
      break;
    case TapState::UpdateIr:
      instruction_ = ir_shift_;
      selected_ = select_register(instruction_);
      break;
    case TapState::UpdateDr:
      selected_->update();
      break;
    case TapState::TestLogicReset:
      if (reset_pending_) {
        reset_pending_ = false;
        reset();
      }
      break;
    default:
      break;
  }
}

void Device::power_off() { on_power_off(); }

void Device::power_on_reset() {
  state_ = TapState::TestLogicReset;
  reset_pending_ = false;
  ir_shift_ = 0;
  tdo_ = true;
  tdo_enabled_ = false;
  on_power_on();
  reset();
}

void Device::reset() {
  instruction_ = idcode_instruction_;
  selected_ = select_register(instruction_);
  on_reset();
}

DataRegister* Device::select_register(std::uint32_t instruction) {
  // All ones is BYPASS on every part; a part without an identification
  // register names it as its reset instruction.
  if (instruction == bypass_instruction()) return &bypass_;
  if (instruction == idcode_instruction_) return &idcode_;
  return &bypass_;
}

std::uint32_t Device::capture_ir_value() const { return ir_capture_; }

void Device::on_clock(TapState, TapState) {}

void Device::on_reset() {}

void Device::on_power_on() {}
void Device::on_power_off() {}

}  // namespace velnor::bench
