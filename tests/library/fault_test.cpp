// Faults met through the exports: every operation ends with a result word
// that names the cause, writes nothing past a caller's buffer, and does not
// hang; and the exports from two threads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api/session.h"
#include "bench/bitstream.h"
#include "bench_fixture.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;

// A caller's buffer with guard bytes on both sides.
struct Guarded {
  static constexpr std::size_t GUARD = 16;
  std::vector<std::uint8_t> bytes;
  explicit Guarded(std::size_t size) : bytes(size + 2 * GUARD, 0xC3) {}
  std::uint8_t* data() { return bytes.data() + GUARD; }
  bool guards_intact() const {
    for (std::size_t i = 0; i < GUARD; ++i) {
      if (bytes[i] != 0xC3 || bytes[bytes.size() - 1 - i] != 0xC3) return false;
    }
    return true;
  }
};

struct Operation {
  const char* name;
  std::function<std::uint32_t(Guarded&)> run;
};

const std::vector<std::uint8_t>& xc2s200_bitstream() {
  static const std::vector<std::uint8_t> bitstream = [] {
    bench::BitstreamOptions options;
    options.part = bench::Part::Xc2s200;
    return bench::make_bitstream(options);
  }();
  return bitstream;
}

const Operation OPERATIONS[] = {
    {"status",
     [](Guarded& buffer) {
       auto* words = reinterpret_cast<std::uint32_t*>(buffer.data());
       return velnor_get_status(&words[0], &words[1], &words[2]);
     }},
    {"configuration",
     [](Guarded&) {
       std::int32_t count = static_cast<std::int32_t>(xc2s200_bitstream().size());
       return velnor_config(xc2s200_bitstream().data(), &count);
     }},
    {"shutdown", [](Guarded&) { return velnor_shutdown(); }},
    {"transfer",
     [](Guarded& buffer) {
       const std::uint8_t sent[8] = {1, 2, 3, 4, 5, 6, 7, 8};
       std::int32_t count = 8;
       return velnor_spi_xfer(1, sent, buffer.data(), &count);
     }},
    {"memory write",
     [](Guarded& buffer) { return jmem_access(VELNOR_JMEM_WRITE, 0x100, buffer.data(), 64); }},
    {"memory read",
     [](Guarded& buffer) { return jmem_access(VELNOR_JMEM_READ, 0x100, buffer.data(), 64); }},
    {"prom info",
     [](Guarded& buffer) {
       auto* words = reinterpret_cast<std::uint32_t*>(buffer.data());
       return velnor_cfgrom_info(&words[0], &words[1]);
     }},
    {"prom read", [](Guarded& buffer) { return velnor_cfgrom_read(buffer.data(), 0, 2048); }},
    {"prom erase", [](Guarded&) { return velnor_cfgrom_erase(); }},
    {"prom program", [](Guarded& buffer) { return velnor_cfgrom_program(buffer.data(), 0, 2048); }},
};

class FaultTest : public BenchTest {
 protected:
  // Opens the cable on a fresh board, runs one operation that must work
  // (so the devices are known) unless there is no fault to apply, applies the
  // fault, then runs the operation.
  std::uint32_t run_with_fault(const std::string& board_text, std::uint32_t cable,
                               const std::function<void(Board&)>& fault,
                               const Operation& operation) {
    Board& board = board_for(board_text, false);
    ::testing::internal::CaptureStdout();
    const std::uint32_t opened = velnor_init(cable);
    std::uint32_t found = VELNOR_OK;
    if (fault) {
      found = velnor_get_status(nullptr, nullptr, nullptr);
      fault(board);
    }
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(opened, VELNOR_OK);
    EXPECT_EQ(found, VELNOR_OK);
    ::testing::internal::CaptureStdout();
    Guarded buffer(2048);
    const std::uint32_t result = operation.run(buffer);
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(buffer.guards_intact()) << operation.name;
    velnor_free();
    return result;
  }
};

// Power off, a TDO line stuck or open, a chain that changed after the
// devices were found: each operation names the cause.
TEST_F(FaultTest, EveryOperationNamesTheFault) {
  const struct {
    const char* name;
    std::function<void(Board&)> fault;
    std::uint32_t cause;
  } FAULTS[] = {
      {"power lost", [](Board& board) { board.set_target_powered(false); }, VELNOR_ERR_POWER_DOWN},
      {"TDO open", [](Board& board) { board.chain().set_open_after(0); }, VELNOR_ERR_NO_TARGET},
      {"TDO open behind the PROM", [](Board& board) { board.chain().set_open_after(1); },
       VELNOR_ERR_NO_TARGET},
  };
  for (const auto& fault : FAULTS) {
    for (std::uint32_t cable : {VELNOR_CABLE_PARALLEL, VELNOR_CABLE_USB}) {
      for (const Operation& operation : OPERATIONS) {
        const std::uint32_t result =
            run_with_fault("usb=0:running;design=loopback", cable, fault.fault, operation);
        EXPECT_NE(result & fault.cause, 0u) << fault.name << ", " << operation.name << ", cable "
                                            << (cable >> 16) << ": 0x" << std::hex << result;
      }
    }
  }
}

// Through the USB cable, a reply that fails or a cable pulled out names the
// cable, never the target supply.
TEST_F(FaultTest, AFailingUsbCableIsNamed) {
  for (const char* fault : {"readfail@2", "unplug@6"}) {
    for (const Operation& operation : OPERATIONS) {
      const std::uint32_t result = run_with_fault(std::string("usb=0:running;usbfault=") + fault,
                                                  VELNOR_CABLE_USB, nullptr, operation);
      EXPECT_EQ(result & (VELNOR_ERR_PROBE | VELNOR_ERR_POWER_DOWN), VELNOR_ERR_PROBE)
          << fault << ", " << operation.name << ": 0x" << std::hex << result;
    }
  }
}

// The supply lost half-way through a long operation: it stops and says so.
TEST_F(FaultTest, PowerLostMidwayStopsTheOperation) {
  const struct {
    const char* name;
    std::function<std::uint32_t()> run;
  } LONG_OPERATIONS[] = {
      {"configuration",
       [] {
         std::int32_t count = static_cast<std::int32_t>(xc2s200_bitstream().size());
         return velnor_config(xc2s200_bitstream().data(), &count);
       }},
      {"prom program",
       [] {
         std::vector<std::uint8_t> image(64 * 1024, 0x5A);
         return velnor_cfgrom_program(image.data(), 0, 64 * 1024);
       }},
      {"prom read",
       [] {
         std::vector<std::uint8_t> image(64 * 1024);
         return velnor_cfgrom_read(image.data(), 0, 64 * 1024);
       }},
  };
  for (const auto& operation : LONG_OPERATIONS) {
    Board& board = board_for("default", false);
    open_parallel_cable();
    ASSERT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_OK);
    // After a few thousand cycles of the operation the supply goes.
    static Board* powered_board = nullptr;
    static std::uint64_t cut_at = 0;
    powered_board = &board;
    cut_at = board.chain().cycle_count() + 20000;
    static CableOps original;
    original = jtag().cable.ops;
    jtag().cable.ops.shift = [](void* cable, const std::uint8_t* tdi, std::uint8_t* tdo,
                                std::uint32_t bits, int tms, int tms_last) {
      if (powered_board->chain().cycle_count() >= cut_at) {
        powered_board->set_target_powered(false);
      }
      return original.shift(cable, tdi, tdo, bits, tms, tms_last);
    };
    EXPECT_EQ(operation.run() & VELNOR_ERR_POWER_DOWN, VELNOR_ERR_POWER_DOWN) << operation.name;
    EXPECT_LT(board.chain().cycle_count(), cut_at + 70000) << operation.name << " went on";
    jtag().cable.ops = original;
    velnor_free();
  }
}

// A configuration cut off mid-way leaves the FPGA's configuration logic
// inside a packet: the library says what brings it back.
TEST_F(FaultTest, AnInterruptedConfigurationSaysWhatRecoversTheFpga) {
  board_for("usb=0:running;usbfault=unplug@600", false);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(velnor_init(VELNOR_CABLE_USB), VELNOR_OK);
  std::int32_t count = static_cast<std::int32_t>(xc2s200_bitstream().size());
  const std::uint32_t result = velnor_config(xc2s200_bitstream().data(), &count);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(result & VELNOR_ERR_PROBE, VELNOR_ERR_PROBE);
  EXPECT_NE(printed.find("configuration interrupted: pulse PROGRAM or cycle the power"),
            std::string::npos)
      << printed;
}

TEST_F(FaultTest, ArgumentsTheExportsRefuse) {
  board_for("design=loopback", false);
  open_parallel_cable();
  std::uint8_t byte = 0;
  std::int32_t count = 1;
  for (const std::uint8_t channel :
       {std::uint8_t{3}, std::uint8_t{4}, std::uint8_t{129}, std::uint8_t{255}}) {
    EXPECT_EQ(velnor_spi_xfer(channel, &byte, &byte, &count), VELNOR_ERR_FORMAT) << +channel;
    EXPECT_EQ(velnor_spi_xfer(channel, nullptr, nullptr, nullptr), VELNOR_ERR_FORMAT) << +channel;
  }
  EXPECT_EQ(jmem_access(VELNOR_JMEM_READ, 0, nullptr, 4), VELNOR_ERR_FORMAT);
  // A channel selected alone is open with its start bit: the next transfer
  // is aligned.
  std::int32_t bytes = static_cast<std::int32_t>(xc2s200_bitstream().size());
  ASSERT_EQ(velnor_config(xc2s200_bitstream().data(), &bytes), VELNOR_OK);
  EXPECT_EQ(velnor_spi_xfer(1, nullptr, nullptr, nullptr), VELNOR_OK);
  std::uint8_t received[2] = {};
  const std::uint8_t sent[2] = {0x42, 0x43};
  count = 2;
  EXPECT_EQ(velnor_spi_xfer(1, sent, received, &count), VELNOR_OK);
  EXPECT_EQ(received[0], 0xA5);
  EXPECT_EQ(received[1], 0x42);
  // Only regular files are bitstreams: a FIFO (on Windows a device) does
  // not block the call.
#ifdef _WIN32
  const std::string fifo = "NUL";
#else
  const std::string fifo = ::testing::TempDir() + "velnor_fifo.bit";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
  bytes = 0;
  EXPECT_EQ(velnor_config(fifo.c_str(), &bytes), VELNOR_ERR_FILE);
  VelnorBitFileInfo info;
  EXPECT_EQ(velnor_bitfile_info(fifo.c_str(), &info), VELNOR_ERR_FILE);
#ifndef _WIN32
  std::remove(fifo.c_str());
#endif
}

// The user channel addresses the FPGA whatever the last call selected.
TEST_F(FaultTest, TheChannelAlwaysReachesTheFpga) {
  board_for("design=loopback", false);
  open_parallel_cable();
  std::int32_t bytes = static_cast<std::int32_t>(xc2s200_bitstream().size());
  ASSERT_EQ(velnor_config(xc2s200_bitstream().data(), &bytes), VELNOR_OK);
  std::uint32_t idcode = 0;
  ASSERT_EQ(velnor_cfgrom_info(&idcode, nullptr), VELNOR_OK);
  std::uint8_t received = 0;
  const std::uint8_t sent = 0x5A;
  std::int32_t count = 1;
  EXPECT_EQ(velnor_spi_xfer(1, &sent, &received, &count), VELNOR_OK);
  EXPECT_EQ(received, 0xA5);
}

class WorkerThreadTest : public BenchTest {};

TEST_F(WorkerThreadTest, CallsFromTwoThreadsAreSerialised) {
  board_for("default", false);
  open_parallel_cable();
  std::atomic<int> wrong{0};
  auto reader = [&wrong] {
    for (int i = 0; i < 100; ++i) {
      std::uint32_t idcode = 0, status = 0;
      if (velnor_get_status(&idcode, &status, nullptr) != VELNOR_OK || idcode != 0x0061C093u) {
        ++wrong;
      }
    }
  };
  std::thread first(reader), second(reader);
  first.join();
  second.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Two background starts at once: one claims the slot, the other is refused
// untouched; the result goes to the poll, not to the other thread's calls.
TEST_F(WorkerThreadTest, OneStartClaimsTheSlotAndOnlyItsPollSeesTheResult) {
  board_for("default", false);
  open_parallel_cable();
  const std::vector<std::uint8_t>& bitstream = xc2s200_bitstream();
  const auto background = static_cast<std::int32_t>(VELNOR_COUNT_BACKGROUND | bitstream.size());
  std::array<std::int32_t, 2> counts = {background, background};
  std::array<std::uint32_t, 2> started = {};
  std::thread first([&] { started[0] = velnor_config(bitstream.data(), &counts[0]); });
  std::thread second([&] { started[1] = velnor_config(bitstream.data(), &counts[1]); });
  first.join();
  second.join();
  int claimed = 0;
  for (std::int32_t& count : counts) {
    // The worker lowers the started one's count word meanwhile.
    const std::int32_t seen = std::atomic_ref<std::int32_t>(count).load();
    claimed += (static_cast<std::uint32_t>(seen) & VELNOR_COUNT_BACKGROUND) == 0;
  }
  EXPECT_EQ(claimed, 1) << "exactly one start ran; the other found the slot taken";
  EXPECT_EQ(started[0], VELNOR_BUSY);
  EXPECT_EQ(started[1], VELNOR_BUSY);
  std::atomic<bool> stop{false};
  std::atomic<int> stolen{0};
  std::thread other([&] {
    while (!stop) {
      const std::uint32_t result = velnor_get_status(nullptr, nullptr, nullptr);
      if (result != VELNOR_OK && result != VELNOR_BUSY) ++stolen;
    }
  });
  std::uint32_t polled;
  while ((polled = velnor_config(nullptr, nullptr)) == VELNOR_BUSY) {
  }
  stop = true;
  other.join();
  EXPECT_EQ(polled, VELNOR_OK);
  EXPECT_EQ(stolen.load(), 0);
}

}  // namespace
}  // namespace velnor::testing
