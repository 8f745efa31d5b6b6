#include "bench/bitstream.h"

#include <stdexcept>

#include "bench/spartan2.h"

namespace velnor::bench {

namespace {

// Type-1 headers: write (bits 28..27 = 10) to a register, with a word count.
constexpr std::uint32_t write_header(std::uint32_t address, std::uint32_t count) {
  return 0x30000000u | address << 13 | count;
}
constexpr std::uint32_t kType2Write = 0x50000000;

constexpr std::uint32_t kCrc = 0;
constexpr std::uint32_t kFar = 1;
constexpr std::uint32_t kFdri = 2;
constexpr std::uint32_t kCmd = 4;
constexpr std::uint32_t kCtl = 5;
constexpr std::uint32_t kMask = 6;
constexpr std::uint32_t kCor = 9;
constexpr std::uint32_t kFlr = 11;
constexpr std::uint32_t kMissingRegister = 13;

constexpr std::uint32_t kWcfg = 1;
constexpr std::uint32_t kLfrm = 3;
constexpr std::uint32_t kStart = 5;
constexpr std::uint32_t kRcrc = 7;
constexpr std::uint32_t kSwitch = 9;

// The vendor's default options (DONE phase 4, GTS 5, GWE and GSR 6, no DLL
// wait) with the start-up clock in bits 21..20.
std::uint32_t cor_value(StartupClock clock) {
  switch (clock) {
    case StartupClock::Cclk:
      return 0x00803F2D;
    case StartupClock::User:
      return 0x00903F2D;
    case StartupClock::Jtag:
      return 0x00A03F2D;
  }
  return 0x00A03F2D;
}

// Words with the configuration CRC kept as the part keeps it.
class Writer {
 public:
  void raw(std::uint32_t word) { words_.push_back(word); }
  void write(std::uint32_t address, std::uint32_t value) {
    raw(write_header(address, 1));
    data(address, value);
  }
  void data(std::uint32_t address, std::uint32_t value) {
    raw(value);
    crc_ = config_crc_step(crc_, address, value);
  }
  // The CRC check; the part starts the CRC again from 0 after it.
  void check(std::uint16_t flip) {
    raw(write_header(kCrc, 1));
    raw(std::uint32_t{static_cast<std::uint16_t>(crc_ ^ flip)});
    crc_ = 0;
  }
  void reset_crc() { crc_ = 0; }
  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out;
    out.reserve(4 * words_.size());
    for (std::uint32_t word : words_) {
      for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(word >> shift));
      }
    }
    return out;
  }

 private:
  std::vector<std::uint32_t> words_;
  std::uint16_t crc_ = 0;
};

// Frame contents: xorshift32 from the seed (0 would stay 0).
class FrameData {
 public:
  explicit FrameData(std::uint32_t seed) : state_(seed != 0 ? seed : 0x9E3779B9) {}
  std::uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  std::uint32_t state_;
};

void put_field(std::vector<std::uint8_t>* out, char key, const std::string& text) {
  const std::size_t length = text.size() + 1;
  if (length > 0xFFFF) throw std::invalid_argument("bit file field too long");
  out->push_back(static_cast<std::uint8_t>(key));
  out->push_back(static_cast<std::uint8_t>(length >> 8));
  out->push_back(static_cast<std::uint8_t>(length));
  out->insert(out->end(), text.begin(), text.end());
  out->push_back(0);
}

}  // namespace

std::uint16_t config_crc_step(std::uint16_t crc, std::uint32_t address, std::uint32_t word) {
  // x^16 + x^15 + x^2 + 1 shifted right (0xA001), 32 data bits then 4
  // address bits, each least significant first.
  const std::uint64_t bits = word | std::uint64_t{address & 0xF} << 32;
  unsigned value = crc;
  for (int i = 0; i < 36; ++i) {
    const unsigned feedback = (value ^ static_cast<unsigned>(bits >> i)) & 1;
    value >>= 1;
    if (feedback != 0) value ^= 0xA001;
  }
  return static_cast<std::uint16_t>(value);
}

// The vendor's sequence:
// | step | words                                                     |
// |------|-----------------------------------------------------------|
// | 1    | dummy FFFFFFFF, sync AA995566                             |
// | 2    | CMD RCRC                                                  |
// | 3    | FLR = frame words - 1                                     |
// | 4    | COR                                                       |
// | 5    | MASK = 0                                                  |
// | 6    | CMD SWITCH                                                |
// | 7    | FAR = 0, CMD WCFG                                         |
// | 8    | FDRI type 1 count 0, type 2 with block 0 and its pad frame |
// | 9    | FAR 02000000, FDRI 65 frames (RAM column 0 and a pad)     |
// | 10   | FAR 02020000, FDRI 64 frames (RAM column 1)               |
// | 11   | CRC                                                       |
// | 12   | CMD LFRM, FDRI one zero frame                             |
// | 13   | CMD START, CTL = 0                                        |
// | 14   | CRC, four zero words                                      |
std::vector<std::uint8_t> make_bitstream(const BitstreamOptions& options) {
  const Spartan2Geometry geometry = spartan2_geometry(options.part);
  const auto frame_words = static_cast<std::uint32_t>(geometry.frame_words());
  const int block0_frames = geometry.block0_frames() + 1 + options.extra_frames;
  if (block0_frames < 0) throw std::invalid_argument("fewer frames than none");
  FrameData frames(options.seed);
  Writer w;
  auto frame_block = [&](std::uint32_t words) {
    for (std::uint32_t i = 0; i < words; ++i) w.data(kFdri, frames.next());
  };

  w.raw(0xFFFFFFFF);
  w.raw(0xAA995566);
  w.write(kCmd, kRcrc);
  w.reset_crc();
  w.write(kFlr, frame_words - 1 + (options.wrong_frame_length ? 1 : 0));
  w.write(kCor, cor_value(options.startup_clock));
  w.write(kMask, 0);
  if (options.write_to_missing_register) {
    w.raw(write_header(kMissingRegister, 1));
    w.raw(0);
  }
  w.write(kCmd, kSwitch);
  w.write(kFar, 0);
  w.write(kCmd, kWcfg);
  const std::uint32_t block0_words = frame_words * static_cast<std::uint32_t>(block0_frames);
  w.raw(write_header(kFdri, 0));
  w.raw(kType2Write | block0_words);
  frame_block(block0_words);
  w.write(kFar, 0x02000000);
  w.raw(write_header(kFdri, 65 * frame_words));
  frame_block(65 * frame_words);
  w.write(kFar, 0x02020000);
  w.raw(write_header(kFdri, 64 * frame_words));
  frame_block(64 * frame_words);
  w.check(options.wrong_first_crc ? 1 : 0);
  w.write(kCmd, kLfrm);
  w.raw(write_header(kFdri, frame_words));
  for (std::uint32_t i = 0; i < frame_words; ++i) w.data(kFdri, 0);
  w.write(kCmd, kStart);
  w.write(kCtl, 0);
  w.check(0);
  for (int i = 0; i < 4; ++i) w.raw(0);
  return w.bytes();
}

std::vector<std::uint8_t> make_bit_file(const std::vector<std::uint8_t>& data,
                                        const BitFileFields& fields) {
  std::vector<std::uint8_t> out = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F,
                                   0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01};
  put_field(&out, 'a', fields.design);
  put_field(&out, 'b', fields.part);
  put_field(&out, 'c', fields.date);
  put_field(&out, 'd', fields.time);
  const auto length = static_cast<std::uint32_t>(data.size());
  out.push_back('e');
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(length >> shift));
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::string bit_file_part_name(Part part) {
  switch (part) {
    case Part::Xc2s15:
      return "2s15cs144";
    case Part::Xc2s30:
      return "2s30vq100";
    case Part::Xc2s50:
      return "2s50tq144";
    case Part::Xc2s100:
      return "2s100tq144";
    case Part::Xc2s150:
      return "2s150fg456";
    case Part::Xc2s200:
      return "2s200fg256";
    default:
      throw std::invalid_argument("not a Spartan-II part");
  }
}

}  // namespace velnor::bench
