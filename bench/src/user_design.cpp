#include "bench/user_design.h"

namespace velnor::bench {

namespace {

constexpr std::uint32_t kAddressMask = 0x7FFFFFFF;  // the RAM has no address bit 31
constexpr std::uint8_t kFrameStart = 0x80;
constexpr std::uint8_t kEndFrame = 0x00;
constexpr std::uint8_t kReadByte = 0x21;
constexpr std::uint8_t kWriteRecord = 0x40;  // + n, n = 1..63
constexpr std::uint8_t kLoopbackFirst[2] = {0xA5, 0x5A};
// A read command in received byte i answers in output byte i + 2.
constexpr std::uint32_t kReadLatency = 2;

}  // namespace

UserDesign::UserDesign(DesignKind kind) : kind_(kind) {}

DesignKind UserDesign::kind() const { return kind_; }

void UserDesign::set_kind(DesignKind kind) { kind_ = kind; }

void UserDesign::capture(int channel) {
  channels_[channel] = Channel{};
  if (channel == 0) {
    parse_ = Parse::Idle;
    replies_ = {};
  }
}

bool UserDesign::output(int channel) const {
  const Channel& c = channels_[channel];
  return c.started && ((c.out >> (7 - c.bits)) & 1) != 0;
}

void UserDesign::shift(int channel, bool tdi) {
  Channel& c = channels_[channel];
  if (!c.started) {
    if (tdi) {
      c.started = true;
      c.out = output_byte(channel);
    }
    return;
  }
  c.in = static_cast<std::uint8_t>(c.in << 1 | (tdi ? 1 : 0));
  if (++c.bits < 8) return;
  const std::uint8_t byte = c.in;
  c.bits = 0;
  c.in = 0;
  take_byte(channel, byte);
  ++c.index;
  c.out = output_byte(channel);
}

std::uint8_t UserDesign::output_byte(int channel) {
  const Channel& c = channels_[channel];
  switch (kind_) {
    case DesignKind::Loopback:
      return c.index == 0 ? kLoopbackFirst[channel] : c.previous;
    case DesignKind::Memory:
      if (channel == 0) {
        std::uint8_t& reply = replies_[c.index % replies_.size()];
        const std::uint8_t value = reply;
        reply = 0;
        return value;
      }
      return 0;
    case DesignKind::None:
      break;
  }
  return 0;
}

void UserDesign::take_byte(int channel, std::uint8_t byte) {
  if (kind_ == DesignKind::Loopback) {
    channels_[channel].previous = byte;
  } else if (kind_ == DesignKind::Memory && channel == 0) {
    memory_byte(byte, channels_[channel].index);
  }
}

void UserDesign::memory_byte(std::uint8_t byte, std::uint32_t index) {
  switch (parse_) {
    case Parse::Idle:
      if ((byte & kFrameStart) != 0) {
        address_ = static_cast<std::uint32_t>(byte & ~kFrameStart) << 24;
        pending_ = 3;
        parse_ = Parse::Address;
      }
      return;
    case Parse::Address:
      --pending_;
      address_ |= static_cast<std::uint32_t>(byte) << (8 * pending_);
      if (pending_ == 0) parse_ = Parse::Records;
      return;
    case Parse::Data:
      write(address_, byte);
      advance_address();
      if (--pending_ == 0) parse_ = Parse::Records;
      return;
    case Parse::Records:
      if (byte == kEndFrame) {
        parse_ = Parse::Idle;
      } else if (byte == kReadByte) {
        replies_[(index + kReadLatency) % replies_.size()] = read(address_);
        advance_address();
      } else if (byte > kWriteRecord && byte < kFrameStart) {
        pending_ = byte - kWriteRecord;
        parse_ = Parse::Data;
      }
      return;
  }
}

void UserDesign::advance_address() {
  address_ = (address_ & 0xFFFF0000) | ((address_ + 1) & 0xFFFF);
}

std::uint8_t UserDesign::read(std::uint32_t address) const {
  address &= kAddressMask;
  const auto page = pages_.find(address >> 16);
  return page == pages_.end() ? 0 : (*page->second)[address & 0xFFFF];
}

void UserDesign::write(std::uint32_t address, std::uint8_t value) {
  address &= kAddressMask;
  auto& page = pages_[address >> 16];
  if (!page) page = std::make_unique<std::array<std::uint8_t, 0x10000>>();
  (*page)[address & 0xFFFF] = value;
}

void UserDesign::power_on() {
  pages_.clear();
  channels_ = {};
  parse_ = Parse::Idle;
  replies_ = {};
}

}  // namespace velnor::bench
