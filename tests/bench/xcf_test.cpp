#include "bench/xcf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/bitstream.h"
#include "bench/board.h"
#include "bench/jtag_driver.h"
#include "bench/spartan2.h"

namespace velnor::bench {
namespace {

using testing::JtagDriver;
using testing::ones;
using testing::zeros;

using Bytes = std::vector<std::uint8_t>;

// The waits of the library's sequences; tests shorten them.
struct Waits {
  std::uint32_t disable_ms = 110;
  std::uint32_t program_ms = 14;
  std::uint32_t erase_ms = 15000;
};

// Drives one PROM of a board's chain the way the library does: every other
// device in BYPASS, data padded through the devices on the TDI side, each
// TCK cycle 2 µs of virtual time (two printer-port writes). Instruction
// scans end in Update-IR and data scans in Update-DR, as the library's do.
class PromJtag {
 public:
  PromJtag(Board& board, std::size_t index)
      : board_(board),
        chain_(board.chain()),
        index_(index),
        prom_(dynamic_cast<Xcf&>(chain_.device(index))) {}

  Xcf& prom() { return prom_; }

  bool clock(bool tms, bool tdi = false) {
    board_.clock().advance_ns(2000);
    return chain_.clock(tms, tdi);
  }
  // TMS high for all clocks but the last: Test-Logic-Reset, then Idle.
  void reset(int clocks = 6) {
    for (int i = 1; i < clocks; ++i) clock(true);
    clock(false);
  }
  void idle(int clocks) {
    for (int i = 0; i < clocks; ++i) clock(false);
  }
  void sleep_ms(std::uint32_t ms) { board_.clock().sleep_ms(ms); }

  // Returns the PROM's IR capture.
  std::uint32_t instruction(std::uint32_t code) {
    clock(true);
    clock(true);
    clock(false);
    clock(false);
    std::size_t total = 0;
    for (std::size_t i = 0; i < chain_.size(); ++i) total += chain_.device(i).ir_length();
    std::uint32_t capture = 0;
    std::size_t bit = 0;
    for (std::size_t i = 0; i < chain_.size(); ++i) {
      for (int b = 0; b < chain_.device(i).ir_length(); ++b, ++bit) {
        const bool value = i == index_ ? ((code >> b) & 1) != 0 : true;
        if (clock(bit + 1 == total, value) && i == index_) capture |= 1u << b;
      }
    }
    clock(true);  // Update-IR
    return capture;
  }

  // Shift order: the first character goes in first.
  void write(const std::string& bits) {
    enter_dr();
    const std::size_t trail = chain_.size() - 1 - index_;
    const std::size_t total = bits.size() + trail;
    for (std::size_t i = 0; i < total; ++i)
      clock(i + 1 == total, i < bits.size() && bits[i] == '1');
    clock(true);  // Update-DR
  }
  void write_value(std::uint32_t value, int bits) {
    std::string text;
    for (int b = 0; b < bits; ++b) text.push_back(((value >> b) & 1) != 0 ? '1' : '0');
    write(text);
  }
  // Each byte most significant bit first, as the library shifts .bit data.
  void write_bytes(const Bytes& bytes) { write(msb_first(bytes)); }

  std::string read(std::size_t bits) {
    enter_dr();
    const std::size_t total = index_ + bits;
    std::string out;
    for (std::size_t i = 0; i < total; ++i) {
      const bool level = clock(i + 1 == total, false);
      if (i >= index_) out.push_back(level ? '1' : '0');
    }
    clock(true);
    return out;
  }
  Bytes read_bytes(std::size_t count) {
    const std::string bits = read(8 * count);
    Bytes bytes(count, 0);
    for (std::size_t k = 0; k < bits.size(); ++k) {
      if (bits[k] == '1') bytes[k / 8] |= static_cast<std::uint8_t>(0x80u >> (k % 8));
    }
    return bytes;
  }

  // The library's sequences.
  void disable(const Waits& waits = {}) {
    instruction(Xcf::kIscDisable);
    idle(10);
    sleep_ms(waits.disable_ms);
    reset(10);
  }
  void enable(std::uint32_t six_bits) {
    instruction(Xcf::kIscEnable);
    write_value(six_bits, 6);
  }
  // Whole pages from the address; only the first gets an address scan.
  void program(const Bytes& data, std::uint16_t address, const Waits& waits = {}) {
    const auto page = static_cast<std::size_t>(prom_.geometry().page_bytes());
    reset();  // the library's PROM check before it ends in Update-DR
    disable(waits);
    reset(6);
    enable(0x37);
    for (std::size_t at = 0; at < data.size(); at += page) {
      instruction(Xcf::kIscDataShift);
      write_bytes(Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                        data.begin() + static_cast<std::ptrdiff_t>(at + page)));
      idle(2);
      if (at == 0) {
        instruction(Xcf::kIscAddressShift);
        write_value(address, 16);
        idle(2);
      }
      instruction(Xcf::kIscProgram);
      idle(11);
      sleep_ms(waits.program_ms);
      idle(10);
    }
    disable(waits);
  }
  void erase(const Waits& waits = {}, std::uint16_t address = Xcf::kEraseAddress) {
    reset(6);
    enable(0x37);
    instruction(Xcf::kIscAddressShift);
    write_value(address, 16);
    idle(2);
    instruction(Xcf::kIscErase);
    idle(11);
    sleep_ms(waits.erase_ms);
    idle(10);
    disable(waits);
    instruction(0xFF);
    write_value(0, 1);
  }
  Bytes read_memory(std::uint16_t address, std::size_t count) {
    reset(6);
    enable(0x34);
    Bytes out;
    const auto unit_bytes = static_cast<std::size_t>(prom_.geometry().unit_bits() / 8);
    for (std::size_t at = 0; at < count; at += 1024) {
      const std::size_t piece = std::min<std::size_t>(1024, count - at);
      instruction(Xcf::kIscAddressShift);
      write_value(static_cast<std::uint32_t>(address + at / unit_bytes), 16);
      idle(2);
      instruction(Xcf::kIscRead);
      idle(51);
      const Bytes bytes = read_bytes(piece);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
  }

  // ISC mode, one page of data, its address and ISC_PROGRAM loaded: the
  // next clock in Run-Test/Idle starts the program.
  void load_page(const Bytes& data, std::uint16_t address) { load_page(msb_first(data), address); }
  void load_page(const std::string& bits, std::uint16_t address) {
    reset();
    enable(0x37);
    instruction(Xcf::kIscDataShift);
    write(bits);
    instruction(Xcf::kIscAddressShift);
    write_value(address, 16);
    instruction(Xcf::kIscProgram);
  }

  static std::string msb_first(const Bytes& bytes) {
    std::string bits;
    for (std::uint8_t byte : bytes) {
      for (int b = 7; b >= 0; --b) bits.push_back(((byte >> b) & 1) != 0 ? '1' : '0');
    }
    return bits;
  }

 private:
  void enter_dr() {
    clock(true);
    clock(false);
    clock(false);
  }

  Board& board_;
  Chain& chain_;
  std::size_t index_;
  Xcf& prom_;
};

struct OnePromBoard {
  explicit OnePromBoard(const std::string& description, std::size_t index = 0)
      : board(make_board(description)), jtag(*board, index) {}
  Xcf& prom() { return jtag.prom(); }
  std::unique_ptr<Board> board;
  PromJtag jtag;
};

Bytes random_bytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

Bytes slice(const Bytes& bytes, std::size_t at, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + count));
}

bool all_erased(const Bytes& bytes, std::size_t from, std::size_t to) {
  return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                     bytes.begin() + static_cast<std::ptrdiff_t>(to),
                     [](std::uint8_t b) { return b == 0xFF; });
}

std::uint8_t reversed(std::uint8_t byte) {
  std::uint8_t out = 0;
  for (int b = 0; b < 8; ++b) {
    if (((byte >> b) & 1) != 0) out = static_cast<std::uint8_t>(out | 0x80u >> b);
  }
  return out;
}

Bytes cclk_bitstream(Part part, std::uint32_t seed = 1) {
  BitstreamOptions options;
  options.part = part;
  options.startup_clock = StartupClock::Cclk;
  options.seed = seed;
  return make_bitstream(options);
}

// An 8-bit instruction in shift order.
std::string ir_bits(std::uint32_t code) {
  std::string bits;
  for (int b = 0; b < 8; ++b) bits.push_back(((code >> b) & 1) != 0 ? '1' : '0');
  return bits;
}

const Part kParts[] = {Part::Xcf01s, Part::Xcf02s, Part::Xcf04s};
const char* part_key(Part part) {
  return part == Part::Xcf01s ? "xcf01s" : part == Part::Xcf02s ? "xcf02s" : "xcf04s";
}

// ---------------------------------------------------------------------------

TEST(XcfParts, SizesPagesAndAddressUnits) {
  struct Case {
    Part part;
    int size_bytes, page_bits, pages, unit_bits;
  };
  const Case cases[] = {
      {Part::Xcf01s, 128 * 1024, 2048, 512, 64},
      {Part::Xcf02s, 256 * 1024, 4096, 512, 128},
      {Part::Xcf04s, 512 * 1024, 4096, 1024, 128},
  };
  for (const Case& c : cases) {
    const XcfGeometry g = xcf_geometry(c.part);
    EXPECT_EQ(g.size_bytes(), c.size_bytes) << part_key(c.part);
    EXPECT_EQ(g.size_bits, 8 * c.size_bytes);
    EXPECT_EQ(g.page_bits, c.page_bits);
    EXPECT_EQ(g.pages(), c.pages);
    EXPECT_EQ(g.unit_bits(), c.unit_bits);
    EXPECT_EQ(g.page_bits / g.unit_bits(), 32);
  }
  EXPECT_THROW(xcf_geometry(Part::Xc2s15), std::invalid_argument);
}

// IDCODEs and the IR capture of every part are in device_test.
TEST(XcfParts, UsercodeAndStatusRegister) {
  OnePromBoard b("chain=xcf01s");
  b.jtag.reset();
  b.jtag.instruction(Xcf::kUsercode);
  EXPECT_EQ(b.jtag.read(33), ones(32) + "0");  // then the first zero in
  b.jtag.instruction(Xcf::kStatus);
  EXPECT_EQ(b.jtag.read(8), "00100000");  // 0x04: ready
}

// Unknown codes, and the ISC instructions outside ISC mode, select BYPASS;
// the library's page program and erase without ISC_ENABLE change nothing.
TEST(XcfParts, UnknownCodesAndIscCodesOutsideTheModeSelectBypass) {
  OnePromBoard b("chain=xcf02s");
  const Bytes image = random_bytes(4096, 7);
  b.prom().load_memory(image);
  JtagDriver raw(b.board->chain());
  raw.reset();
  for (std::uint32_t code : {0x00u, 0x01u, 0x80u, 0xE0u, 0xF8u, 0xFFu, Xcf::kIscAddressShift,
                             Xcf::kIscDataShift, Xcf::kIscRead, Xcf::kIscProgram, Xcf::kIscErase}) {
    raw.shift_ir(ir_bits(code));
    EXPECT_EQ(raw.shift_dr("1011"), "0101") << code;  // one bit, capturing 0
  }
  PromJtag& jtag = b.jtag;
  jtag.instruction(Xcf::kIscDataShift);
  jtag.write_bytes(Bytes(512, 0x00));
  jtag.instruction(Xcf::kIscProgram);
  jtag.idle(11);
  jtag.sleep_ms(14);
  jtag.idle(10);
  jtag.instruction(Xcf::kIscErase);
  jtag.idle(11);
  jtag.sleep_ms(15000);
  jtag.idle(10);
  jtag.reset();
  EXPECT_FALSE(b.prom().isc_mode());
  EXPECT_EQ(slice(b.prom().memory(), 0, image.size()), image);
  // With ISC mode on, the ISC register instructions have their own lengths.
  raw.shift_ir(ir_bits(Xcf::kIscEnable));
  raw.shift_dr("001011");
  raw.shift_ir(ir_bits(Xcf::kIscAddressShift));
  EXPECT_EQ(raw.shift_dr(ones(16) + "0101"), zeros(16) + "1111");
}

// ---------------------------------------------------------------------------

TEST(XcfIscMode, EnableOnUpdateDrDisableLeavesResetKeeps) {
  OnePromBoard b("chain=xcf04s");
  PromJtag& jtag = b.jtag;
  jtag.reset();
  EXPECT_EQ(jtag.instruction(Xcf::kIscEnable), 0x01u);
  EXPECT_EQ(jtag.instruction(Xcf::kIscEnable), 0x01u);  // no Update-DR yet
  EXPECT_FALSE(b.prom().isc_mode());
  jtag.write_value(0x34, 6);
  EXPECT_FALSE(b.prom().isc_mode());
  jtag.idle(1);  // Update-DR acts on the falling edge
  EXPECT_TRUE(b.prom().isc_mode());
  EXPECT_EQ(jtag.instruction(Xcf::kIscAddressShift), 0x11u);
  jtag.write_value(0xA5C3, 16);
  jtag.idle(1);
  EXPECT_EQ(b.prom().address(), 0xA5C3);
  EXPECT_EQ(jtag.read(16), "1100001110100101");  // captures the address, LSB first
  jtag.reset(10);
  EXPECT_TRUE(b.prom().isc_mode());
  EXPECT_EQ(jtag.instruction(0xFF), 0x11u);
  jtag.disable();
  EXPECT_FALSE(b.prom().isc_mode());
  EXPECT_EQ(jtag.instruction(0xFF), 0x01u);
}

TEST(XcfIscMode, PowerCycleLeavesTheModeAndKeepsTheArray) {
  OnePromBoard b("chain=xcf01s");
  const Bytes page = random_bytes(256, 3);
  b.jtag.program(page, 0);
  b.jtag.reset();
  b.jtag.enable(0x37);
  b.jtag.idle(1);
  ASSERT_TRUE(b.prom().isc_mode());
  b.board->power_cycle();
  EXPECT_FALSE(b.prom().isc_mode());
  EXPECT_EQ(b.prom().address(), 0);
  EXPECT_EQ(slice(b.prom().memory(), 0, 256), page);
}

// ---------------------------------------------------------------------------
// Round trips, programming over data and whole parts are tested through the
// library (tests/library/prom_test.cpp); these are the array's own rules.

// Only the erase address 0001 erases, and it erases every part whole.
TEST(XcfArray, EraseTakesOnlyAddress0001AndSetsEveryBit) {
  OnePromBoard b("chain=xcf02s");
  b.prom().load_memory(Bytes(1024, 0x00));
  b.jtag.erase(Waits{}, 0x0000);
  b.jtag.erase(Waits{}, 0x0003);
  EXPECT_EQ(slice(b.prom().memory(), 0, 1024), Bytes(1024, 0x00));
  for (Part part : kParts) {
    SCOPED_TRACE(part_key(part));
    OnePromBoard p(std::string("chain=") + part_key(part));
    const auto size = static_cast<std::size_t>(p.prom().geometry().size_bytes());
    p.prom().load_memory(Bytes(size, 0x00));
    p.jtag.erase();
    EXPECT_TRUE(all_erased(p.prom().memory(), 0, size));
  }
}

// The buffer keeps the last page_bits shifted; an address of 32 units is one
// page in, 256 bytes on the XCF01S and 512 on the others; the address then
// steps one page on.
TEST(XcfArray, PageSizeOfEveryPart) {
  for (Part part : kParts) {
    SCOPED_TRACE(part_key(part));
    OnePromBoard b(std::string("chain=") + part_key(part));
    const auto page = static_cast<std::size_t>(b.prom().geometry().page_bytes());
    EXPECT_EQ(page, part == Part::Xcf01s ? 256u : 512u);
    const Bytes data = random_bytes(page + 1, 31);
    b.jtag.load_page(data, 32);  // one byte too many: the first falls out
    b.jtag.idle(11);
    b.jtag.sleep_ms(14);
    b.jtag.idle(10);
    EXPECT_EQ(b.prom().address(), 64);
    b.jtag.disable();
    const Bytes& memory = b.prom().memory();
    EXPECT_TRUE(all_erased(memory, 0, page));
    EXPECT_EQ(slice(memory, page, page), slice(data, 1, page));
    EXPECT_TRUE(all_erased(memory, 2 * page, memory.size()));
  }
}

TEST(XcfArray, ReadStreamsFromAnyUnitAcrossPagesAndReadsOnesPastTheEnd) {
  OnePromBoard b("chain=xcf01s");
  const Bytes image = random_bytes(128 * 1024, 41);
  b.prom().load_memory(image);
  // Unit 33 is 8 bytes into the second page; 300 bytes reach the third.
  EXPECT_EQ(b.jtag.read_memory(33, 300), slice(image, 264, 300));
  const Bytes tail = b.jtag.read_memory(0x3FFF, 16);
  EXPECT_EQ(slice(tail, 0, 8), slice(image, image.size() - 8, 8));
  EXPECT_EQ(slice(tail, 8, 8), Bytes(8, 0xFF));
}

// Stored bit k is the k-th bit shifted in: .bit bytes shifted most
// significant bit first and .mcs bytes (each reversed) least significant bit
// first store the same bits.
TEST(XcfArray, BitsAreStoredInShiftOrder) {
  const Bytes bit_bytes = random_bytes(512, 51);
  OnePromBoard msb("chain=xcf02s");
  msb.jtag.program(bit_bytes, 0);
  OnePromBoard lsb("chain=xcf02s");
  std::string bits;
  for (std::uint8_t byte : bit_bytes) {
    for (int b = 0; b < 8; ++b) bits.push_back(((reversed(byte) >> b) & 1) != 0 ? '1' : '0');
  }
  lsb.jtag.load_page(bits, 0);
  lsb.jtag.idle(11);
  lsb.jtag.sleep_ms(14);
  lsb.jtag.idle(1);
  EXPECT_EQ(slice(msb.prom().memory(), 0, 512), bit_bytes);
  EXPECT_EQ(slice(lsb.prom().memory(), 0, 512), bit_bytes);
  // ISC_READ gives the bits back in the order they went in.
  lsb.jtag.instruction(Xcf::kIscAddressShift);
  lsb.jtag.write_value(0, 16);
  lsb.jtag.instruction(Xcf::kIscRead);
  lsb.jtag.idle(51);
  EXPECT_EQ(lsb.jtag.read(bits.size()), bits);
}

// ---------------------------------------------------------------------------

// A program runs on its own once started: leaving Run-Test/Idle, even for
// Test-Logic-Reset, does not stop it; the IR capture and ISCTESTSTATUS show
// it busy until its 14 ms are over.
TEST(XcfTiming, ProgramRunsOnOutsideRunTestIdleAndShowsBusy) {
  OnePromBoard b("chain=xcf02s");
  PromJtag& jtag = b.jtag;
  jtag.load_page(Bytes(512, 0x00), 0);
  jtag.idle(2);
  jtag.reset();
  jtag.sleep_ms(7);
  EXPECT_EQ(jtag.instruction(Xcf::kStatus), 0x11u);  // ISC mode, busy
  EXPECT_EQ(jtag.read(8), "00000000");
  EXPECT_TRUE(all_erased(b.prom().memory(), 0, 512));
  jtag.sleep_ms(7);
  EXPECT_EQ(jtag.instruction(Xcf::kStatus), 0xB1u);  // ready, succeeded
  EXPECT_EQ(jtag.read(8), "00100000");
  EXPECT_EQ(slice(b.prom().memory(), 0, 512), Bytes(512, 0x00));
  EXPECT_TRUE(b.board->violations().empty());
}

// The operation starts at a falling TCK edge in Run-Test/Idle: waiting with
// TCK high right after entering the state starts nothing; the clock that
// leaves the state does.
TEST(XcfTiming, OperationsStartAtTheFirstClockInRunTestIdle) {
  OnePromBoard b("chain=xcf01s");
  PromJtag& jtag = b.jtag;
  jtag.load_page(Bytes(256, 0x00), 0);
  jtag.idle(1);  // Update-IR -> Run-Test/Idle
  jtag.sleep_ms(20);
  EXPECT_FALSE(b.prom().busy());
  EXPECT_EQ(jtag.instruction(Xcf::kStatus), 0x11u);
  EXPECT_TRUE(b.prom().busy());
  jtag.sleep_ms(13);
  EXPECT_TRUE(all_erased(b.prom().memory(), 0, 256));
  jtag.sleep_ms(1);
  EXPECT_FALSE(b.prom().busy());
  EXPECT_EQ(slice(b.prom().memory(), 0, 256), Bytes(256, 0x00));
}

// While busy the PROM refuses every ISC instruction and CONFIG, and the
// board reports each: the library's program flow without its 14 ms wait
// programs the first page and loses the second.
TEST(XcfTiming, InstructionsWhileBusyAreRefusedAndReported) {
  OnePromBoard b("chain=xcf02s");
  b.jtag.program(Bytes(1024, 0x00), 0, Waits{110, 0, 15000});
  const Bytes& memory = b.prom().memory();
  EXPECT_EQ(slice(memory, 0, 512), Bytes(512, 0x00));
  EXPECT_TRUE(all_erased(memory, 512, 1024));
  EXPECT_TRUE(b.prom().isc_mode());  // ISC_DISABLE came too early as well
  EXPECT_EQ(b.board->violations(),
            (std::vector<std::string>{
                "XCF02S: ISC_DATA_SHIFT refused, a page is still programming",
                "XCF02S: ISC_PROGRAM refused, a page is still programming",
                "XCF02S: ISC_DISABLE refused, a page is still programming",
            }));
  // The status, the identification and BYPASS stay available.
  OnePromBoard e("chain=xcf02s");
  e.jtag.erase(Waits{110, 14, 0});
  EXPECT_TRUE(e.prom().busy());
  EXPECT_EQ(e.jtag.instruction(Xcf::kStatus), 0x11u);
  EXPECT_EQ(e.jtag.read(8), "00000000");
  e.jtag.instruction(Xcf::kIdcode);
  EXPECT_EQ(e.jtag.read(32), "11001001000010100010000010100000");  // 0x05045093
  e.jtag.instruction(Xcf::kIscRead);
  e.jtag.instruction(Xcf::kConfig);
  e.jtag.idle(2);
  EXPECT_EQ(e.board->violations(), (std::vector<std::string>{
                                       "XCF02S: ISC_DISABLE refused, the erase is still running",
                                       "XCF02S: ISC_READ refused, the erase is still running",
                                       "XCF02S: CONFIG refused, the erase is still running",
                                   }));
  e.jtag.sleep_ms(15000);
  EXPECT_EQ(e.jtag.instruction(Xcf::kStatus), 0xB1u);
}

// Power loss is the one thing that stops an operation: what it had done
// stays, in proportion to the time it ran.
TEST(XcfTiming, PowerLossLeavesAPrefixDone) {
  OnePromBoard b("chain=xcf02s");
  PromJtag& jtag = b.jtag;
  jtag.load_page(Bytes(512, 0x00), 0);
  jtag.idle(2);
  jtag.sleep_ms(7);
  b.board->power_cycle();
  const Bytes& programmed = b.prom().memory();
  EXPECT_EQ(slice(programmed, 0, 256), Bytes(256, 0x00));
  EXPECT_TRUE(all_erased(programmed, 257, 512));

  const auto size = static_cast<std::size_t>(b.prom().geometry().size_bytes());
  b.prom().load_memory(Bytes(size, 0x00));
  jtag.reset();
  jtag.enable(0x37);
  jtag.instruction(Xcf::kIscAddressShift);
  jtag.write_value(Xcf::kEraseAddress, 16);
  jtag.instruction(Xcf::kIscErase);
  jtag.idle(2);
  jtag.sleep_ms(7500);
  b.board->power_cycle();
  const Bytes& erased = b.prom().memory();
  EXPECT_TRUE(all_erased(erased, 0, size / 2));
  EXPECT_EQ(slice(erased, size / 2 + 64, 64), Bytes(64, 0x00));
  EXPECT_FALSE(b.prom().busy());
}

// ISC_ENABLE works right after ISC_DISABLE (xc3sprog waits 1 ms); CONFIG
// needs the 110 ms every flow keeps before it.
TEST(XcfTiming, EnableRightAfterDisableConfigOnlyAfter110Ms) {
  OnePromBoard b("chain=xcf01s,xc2s15");
  b.jtag.program(Bytes(256, 0x00), 0, Waits{1, 14, 15000});
  EXPECT_EQ(slice(b.prom().memory(), 0, 256), Bytes(256, 0x00));
  EXPECT_TRUE(b.board->violations().empty());

  Spartan2* fpga = b.board->fpga();
  b.prom().load_memory(cclk_bitstream(Part::Xc2s15));
  b.jtag.enable(0x34);
  b.jtag.instruction(Xcf::kIscDisable);
  b.jtag.idle(2);
  b.jtag.sleep_ms(109);
  b.jtag.instruction(Xcf::kConfig);
  b.jtag.idle(2);
  EXPECT_FALSE(fpga->done());
  b.jtag.sleep_ms(1);
  b.jtag.instruction(Xcf::kConfig);
  b.jtag.idle(2);
  EXPECT_TRUE(fpga->done());
}

// ---------------------------------------------------------------------------

// Power-on in master serial mode loads the PROM's contents into the FPGA;
// a wrong image leaves DONE low.
TEST(XcfConfiguration, PowerCycleConfiguresTheFpgaFromAGoodImageOnly) {
  const Bytes good = cclk_bitstream(Part::Xc2s200);
  Bytes mcs_order(good.size());
  std::transform(good.begin(), good.end(), mcs_order.begin(), reversed);
  BitstreamOptions jtag_clock;
  jtag_clock.part = Part::Xc2s200;
  const struct {
    const char* what;
    Bytes image;
    bool done;
  } cases[] = {
      {"the XC2S200's bitstream", good, true},
      {"bit-reversed bytes", mcs_order, false},
      {"another part's bitstream", cclk_bitstream(Part::Xc2s150), false},
      {"truncated", slice(good, 0, good.size() - 64), false},
      {"start-up on the JTAG clock", make_bitstream(jtag_clock), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto board = make_board("default");
    board->prom()->load_memory(c.image);
    EXPECT_FALSE(board->fpga()->done());
    board->power_cycle();
    EXPECT_EQ(board->fpga()->done(), c.done);
    EXPECT_EQ(board->fpga()->user_mode(), c.done);
    EXPECT_TRUE(board->violations().empty());
  }
}

TEST(XcfConfiguration, OnlyMasterSerialModeLoadsFromTheProm) {
  for (const char* mode : {"slave", "jtag"}) {
    auto board = make_board(std::string("mode=") + mode);
    board->prom()->load_memory(cclk_bitstream(Part::Xc2s200));
    board->power_cycle();
    EXPECT_FALSE(board->fpga()->done()) << mode;
  }
  auto board = make_board("chain=xcf01s,xc2s15");
  board->prom()->load_memory(cclk_bitstream(Part::Xc2s15));
  board->set_target_powered(false);
  EXPECT_FALSE(board->fpga()->done());
  board->set_target_powered(true);
  EXPECT_TRUE(board->fpga()->done());
}

// CONFIG pulses CF, which drives the FPGA's PROGRAM: cleared, and reloaded
// from the PROM; not while the PROM is in ISC mode.
TEST(XcfConfiguration, ConfigInstructionReloadsTheFpga) {
  OnePromBoard b("chain=xcf01s,xc2s15");
  Spartan2* fpga = b.board->fpga();
  b.prom().load_memory(cclk_bitstream(Part::Xc2s15));
  b.jtag.reset();
  b.jtag.enable(0x34);
  b.jtag.instruction(Xcf::kConfig);
  b.jtag.idle(2);
  EXPECT_FALSE(fpga->done());
  b.jtag.disable();
  b.jtag.instruction(Xcf::kConfig);
  b.jtag.idle(1);
  EXPECT_FALSE(fpga->done());  // no clock in Run-Test/Idle yet
  b.jtag.idle(1);
  EXPECT_TRUE(fpga->done());
  // Another image: the pulse clears the FPGA first, and the wrong part's
  // bitstream leaves it unconfigured.
  b.prom().load_memory(cclk_bitstream(Part::Xc2s30));
  b.jtag.instruction(Xcf::kConfig);
  b.jtag.idle(2);
  EXPECT_FALSE(fpga->done());
}

// ---------------------------------------------------------------------------

class XcfBoardFiles : public ::testing::Test {
 protected:
  std::string path(const char* name) {
    const std::string full = ::testing::TempDir() + "velnor_xcf_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                             name;
    paths_.push_back(full);
    return full;
  }
  static void write_file(const std::string& file, const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  static Bytes read_file(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void TearDown() override {
    for (const std::string& file : paths_) std::remove(file.c_str());
  }

 private:
  std::vector<std::string> paths_;
};

TEST_F(XcfBoardFiles, PromImagePowerUpAndPromSaveRoundTrip) {
  const std::string image = path("image");
  const std::string saved = path("saved");
  const Bytes stream = cclk_bitstream(Part::Xc2s200);
  write_file(image, stream);
  {
    auto board = make_board("promimage=" + image + ";promsave=" + saved + ";powerup=prom");
    EXPECT_TRUE(board->fpga()->done());
    const Bytes& memory = board->prom()->memory();
    EXPECT_EQ(slice(memory, 0, stream.size()), stream);
    EXPECT_TRUE(all_erased(memory, stream.size(), memory.size()));
    PromJtag jtag(*board, 0);
    jtag.program(Bytes(512, 0x00), static_cast<std::uint16_t>(32 * 511));
  }
  Bytes expected = stream;
  expected.resize(256 * 1024, 0xFF);
  std::fill(expected.end() - 512, expected.end(), std::uint8_t{0x00});
  EXPECT_EQ(read_file(saved), expected);
  // Saved on request too, and loaded back into every PROM on the chain.
  auto board = make_board("chain=xcf02s,xc2s200,xcf04s;promimage=" + saved + ";promsave=" + image);
  EXPECT_FALSE(board->fpga()->done());  // no powerup=prom
  EXPECT_EQ(slice(dynamic_cast<Xcf&>(board->chain().device(2)).memory(), 0, expected.size()),
            expected);
  EXPECT_TRUE(board->save_prom_image());
  EXPECT_EQ(read_file(image), expected);
  EXPECT_FALSE(make_board("chain=xcf01s")->save_prom_image());  // no promsave
}

TEST_F(XcfBoardFiles, PromImageThatCannotBeLoaded) {
  const std::string big = path("big");
  write_file(big, Bytes(128 * 1024 + 1, 0));
  const std::string missing = path("missing");
  const std::pair<std::string, std::string> cases[] = {
      {"promimage=" + missing, "cannot read promimage '" + missing + "'"},
      {"chain=xcf02s,xcf01s;promimage=" + big,
       "promimage '" + big + "' holds 131073 bytes; the XCF01S holds 131072"},
  };
  for (const auto& [description, expected] : cases) {
    std::string error;
    EXPECT_EQ(Board::parse(description, &error), nullptr) << description;
    EXPECT_EQ(error, expected) << description;
  }
  EXPECT_FALSE(make_board("powerup=none")->fpga()->done());
}

}  // namespace
}  // namespace velnor::bench
