// The USB cable through the library: finding and booting the EZ-USB, the
// wire bytes of each kind of shift, failures, and the whole library giving
// the same chain traffic through this cable as through the parallel one.
#include "cables/usb/usb_cable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/session.h"
#include "bench/bitstream.h"
#include "bench_fixture.h"
#include "cables/cable.h"
#include "platform/platform.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::UsbTransfer;

const std::string kSetup = "Setup EZ-USB Firmware\n";
const std::string kNotFound = "\nCan't found EZ-USB\n";

class UsbCableTest : public BenchTest {
 protected:
  // velnor_init with the USB cable at unit; returns its result and keeps
  // what it printed.
  std::uint32_t init_usb(std::uint32_t selector = VELNOR_CABLE_USB) {
    ::testing::internal::CaptureStdout();
    const std::uint32_t result = velnor_init(selector);
    printed_ = ::testing::internal::GetCapturedStdout();
    return result;
  }
  void open_usb(const std::string& description) {
    board_for(description);
    ASSERT_EQ(init_usb(), VELNOR_OK) << printed_;
    device().set_logging(true);
    board().trace().clear();
    mark_transfers();
  }
  // writes() reports only transfers from here on.
  void mark_transfers() { first_transfer_ = device().transfers().size(); }
  bench::Board& board() { return bench::active_board(); }
  bench::EzUsbDevice& device() { return *board().usb_device(0); }

  // The bulk OUT transfers since logging began, as "pipe:bytes".
  std::vector<std::string> writes() {
    std::vector<std::string> out;
    const std::vector<UsbTransfer> transfers = device().transfers();
    for (std::size_t i = first_transfer_; i < transfers.size(); ++i) {
      const UsbTransfer& transfer = transfers[i];
      if (transfer.kind != UsbTransfer::Kind::BulkOut) continue;
      std::string text = std::to_string(transfer.pipe) + ":";
      for (std::uint8_t byte : transfer.data) {
        static const char kHex[] = "0123456789ABCDEF";
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
      }
      out.push_back(text);
    }
    return out;
  }
  std::int32_t shift(const std::uint8_t* tdi, std::uint8_t* tdo, std::uint32_t bits, int tms,
                     int tms_last) {
    Cable& cable = jtag().cable;
    return cable.ops.shift(cable.state, tdi, tdo, bits, tms, tms_last);
  }

  std::string printed_;
  std::size_t first_transfer_ = 0;
};

TEST_F(UsbCableTest, BareDeviceIsBootedOnceRunningDeviceIsUsedAsItIs) {
  // Automatic selection takes USB cable 0 when there is one.
  board_for("usb=0");
  EXPECT_EQ(init_usb(VELNOR_CABLE_AUTO), VELNOR_OK);
  EXPECT_EQ(printed_, kSetup + "-Boot-Wait.-Reconnect\n");
  EXPECT_EQ(jtag().cable.ops.shift, USB_CABLE_OPS.shift);
  // A host that enumerates the renumerated device late: one more "." for
  // each 50 ms retry while it is away (back about 1.58 s after the run
  // request: opens at 1.50 and 1.55 s fail, at 1.60 s it is there).
  board_for("usb=0;usbfault=late@1560");
  EXPECT_EQ(init_usb(), VELNOR_OK);
  EXPECT_EQ(printed_, kSetup + "-Boot-Wait...-Reconnect\n");
  // Open again: the device now runs our firmware.
  EXPECT_EQ(init_usb(), VELNOR_OK);
  EXPECT_EQ(printed_, kSetup + "\n");

  board_for("usb=3:running");
  EXPECT_EQ(init_usb(VELNOR_CABLE_USB | 3), VELNOR_OK);
  EXPECT_EQ(printed_, kSetup + "\n");
  EXPECT_EQ(jtag().cable.target_power(), 1);
}

TEST_F(UsbCableTest, EveryFailedOpenIsReportedAndLeavesNothingOpen) {
  struct Case {
    const char* board;
    std::string printed;
  };
  const Case cases[] = {
      {"usb=", kSetup + kNotFound},
      {"usb=1", kSetup + kNotFound},  // the cable is unit 1, the library asks for 0
      {"usb=0;usbfault=halt", kSetup + "-Boot" + "i8051 halt err.\n" + kNotFound},
      {"usb=0;usbfault=download", kSetup + "-Boot" + "usb dwnload err.\n" + kNotFound},
      {"usb=0;usbfault=run", kSetup + "-Boot" + "i8051 run err.\n" + kNotFound},
      {"usb=0;usbfault=noreturn", kSetup + "-Boot-Wait" + std::string(200, '.') + kNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board);
    board_for(c.board);
    EXPECT_EQ(init_usb(), VELNOR_ERR_PROBE);
    EXPECT_EQ(printed_, c.printed);
    EXPECT_EQ(board().usb().open_handle_count(), 0u);
    EXPECT_EQ(jtag().cable.target_power(), -1) << "offline: no transfer, and no answer";
    EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_ERR_PROBE);
  }
}

TEST_F(UsbCableTest, ShiftsBecomePinBytesAndByteStreamsAsTheyMust) {
  open_usb("usb=0:running");
  std::vector<std::uint8_t> tdi(13, 0x00);
  tdi[0] = 0x01;
  tdi[12] = 0xC0;
  // Short shifts whose TDO nobody reads wait for the next transfer: TAP
  // reset (TMS high five times, then low) and three cycles, TMS on the last.
  shift(nullptr, nullptr, 6, 1, 0);
  shift(tdi.data(), nullptr, 3, 0, 1);
  EXPECT_EQ(writes(), std::vector<std::string>{});
  jtag().cable.flush();
  EXPECT_EQ(writes(), std::vector<std::string>{"3:040404040400000004"});
  // A shift reading TDO goes out with the queue, replies asked for its own
  // bytes only: one packet, one round trip. In Test-Logic-Reset TDO is
  // undriven, pulled high.
  mark_transfers();
  shift(nullptr, nullptr, 5, 1, 1);
  std::uint8_t tdo[2] = {0x00, 0xFF};
  shift(tdi.data(), tdo, 12, 1, 1);
  EXPECT_EQ(writes(), std::vector<std::string>{"3:040404040484848484848484A484848484"});
  EXPECT_EQ(tdo[0], 0xFF);
  EXPECT_EQ(tdo[1], 0xF0);
  // A long shift: TMS preset low with the queue, a stream of whole bytes,
  // rotated right by two (0x01: cycle 7's bit in bit 6), and the last cycles (TMS high on the very
  // last) queued.
  mark_transfers();
  shift(tdi.data(), nullptr, 100, 0, 1);
  EXPECT_EQ(writes(), (std::vector<std::string>{"3:02", "1:40" + std::string(22, '0')}));
  jtag().cable.flush();
  EXPECT_EQ(writes(),
            (std::vector<std::string>{"3:02", "1:40" + std::string(22, '0'), "3:20200004"}));
  // Beyond the cable's announced limit every cycle is still clocked. Those
  // last pin bytes may still wait in the cable behind the stream's packets,
  // which the firmware serves first; the next stream would overtake them,
  // so it starts only once a byte setting the levels again has its reply.
  mark_transfers();
  const std::uint64_t cycles = board().chain().cycle_count();
  shift(nullptr, nullptr, 100000, 1, 1);
  jtag().cable.flush();
  EXPECT_EQ(board().chain().cycle_count() - cycles, 100000u);
  EXPECT_EQ(writes().front().substr(0, 5), "3:86");
}

TEST_F(UsbCableTest, AFailedReadLeavesTheCableUnusableUntilReopenedWithoutHanging) {
  // readstall: the reply never comes and the read is cancelled after 5 s;
  // readfail: only the first bulk read fails. Either way the cable, not the
  // target supply, is named.
  for (const char* fault : {"readstall", "readfail"}) {
    SCOPED_TRACE(fault);
    board_for(std::string("usb=0:running;usbfault=") + fault);
    ASSERT_EQ(init_usb(), VELNOR_OK);
    for (int attempt = 0; attempt < 2; ++attempt) {
      ::testing::internal::CaptureStdout();
      EXPECT_EQ(velnor_get_status(nullptr, nullptr, nullptr), VELNOR_ERR_PROBE);
      EXPECT_EQ(::testing::internal::GetCapturedStdout(), "error ! USB SPI Protcol\n");
    }
    velnor_free();
    EXPECT_EQ(board().usb().open_handle_count(), 0u);
  }
  // Reopened, the cable works again.
  ASSERT_EQ(init_usb(), VELNOR_OK);
  EXPECT_EQ(jtag().cable.target_power(), 1);
}

TEST_F(UsbCableTest, UnpluggedMidTransferFailsEveryExchangeAndClosesCleanly) {
  board_for("usb=0:running;usbfault=unplug@3");
  ASSERT_EQ(init_usb(), VELNOR_OK);
  std::vector<std::uint8_t> data(4096, 0x5A);
  ::testing::internal::CaptureStdout();
  shift(data.data(), nullptr, 8 * 4096, 0, 0);
  shift(data.data(), data.data(), 8 * 64, 0, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "error ! USB SPI TX\nerror ! USB SPI TX-RX\n");
  EXPECT_EQ(jtag().cable.target_power(), -1);
  velnor_free();
  EXPECT_EQ(board().usb().open_handle_count(), 0u);
}

TEST_F(UsbCableTest, UnloadWithTheCableOpenStopsTheReaderThread) {
  open_usb("usb=0:running");
  platform::run_unload_list();
  EXPECT_EQ(board().usb().open_handle_count(), 0u);
}

// What a session of library calls returned and what the chain saw.
struct Session {
  std::vector<std::uint32_t> results;
  std::vector<std::uint8_t> data;
  std::string tms, tdi, tdo;
};

// Scan, status, configuration, user-channel and memory transfers, PROM
// program and read, shutdown: the same calls through the given cable.
Session run_session(BenchTest& test, std::uint32_t cable) {
  Session session;
  auto& board = test.board_for("chain=xcf02s/v0,xc2s15/v0;usb=0:running;design=memory");
  ::testing::internal::CaptureStdout();
  session.results.push_back(velnor_init(cable));
  ::testing::internal::GetCapturedStdout();
  bench::BitstreamOptions options;
  options.part = bench::Part::Xc2s15;
  const std::vector<std::uint8_t> bitstream = bench::make_bitstream(options);
  std::int32_t count = static_cast<std::int32_t>(bitstream.size());
  std::uint32_t idcode = 0, status = 0, usercode = 0;
  std::int32_t devices = 0;
  session.results.push_back(velnor_scan_chain(&devices));
  session.results.push_back(velnor_config(bitstream.data(), &count));
  session.results.push_back(velnor_get_status(&idcode, &status, &usercode));
  session.results.insert(session.results.end(), {idcode, status, usercode});
  std::vector<std::uint8_t> block(700);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 1);
  session.results.push_back(jmem_access(VELNOR_JMEM_WRITE, 0x1FFF0, block.data(), 700));
  std::vector<std::uint8_t> back(700);
  session.results.push_back(jmem_access(VELNOR_JMEM_READ, 0x1FFF0, back.data(), 700));
  session.data.insert(session.data.end(), back.begin(), back.end());
  session.results.push_back(velnor_cfgrom_erase());
  session.results.push_back(velnor_cfgrom_program(block.data(), 512, 512));
  std::vector<std::uint8_t> prom(1024);
  session.results.push_back(velnor_cfgrom_read(prom.data(), 0, 1024));
  session.data.insert(session.data.end(), prom.begin(), prom.end());
  session.results.push_back(velnor_shutdown());
  session.results.push_back(static_cast<std::uint32_t>(devices));
  session.tms = board.trace().tms_bits();
  session.tdi = board.trace().tdi_bits();
  session.tdo = board.trace().tdo_bits();
  velnor_free();
  return session;
}

TEST_F(UsbCableTest, BothCablesGiveTheSameResultsAndChainTraffic) {
  const Session parallel = run_session(*this, VELNOR_CABLE_PARALLEL);
  const Session usb = run_session(*this, VELNOR_CABLE_USB);
  // The session works: every call succeeds and the memory reads back.
  EXPECT_EQ(parallel.results, (std::vector<std::uint32_t>{0, 0, 0, 0, 0x00608093, 0x6300,
                                                          0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 2}));
  EXPECT_EQ(parallel.data[0], 1);
  EXPECT_EQ(usb.results, parallel.results);
  EXPECT_EQ(usb.data, parallel.data);
  // Long strings: compare without printing them.
  EXPECT_EQ(usb.tms.size(), parallel.tms.size());
  EXPECT_TRUE(usb.tms == parallel.tms);
  EXPECT_TRUE(usb.tdi == parallel.tdi);
  EXPECT_TRUE(usb.tdo == parallel.tdo);
}

// Round trips (bulk reads: the host waiting for a reply) and bulk writes of
// each operation, counted on the bus.
TEST_F(UsbCableTest, OperationsWaitForRepliesOnlyWhereTheyReadTdo) {
  open_usb("chain=xcf02s/v0,xc2s15/v0;usb=0:running;design=memory");
  bench::BitstreamOptions options;
  options.part = bench::Part::Xc2s15;
  const std::vector<std::uint8_t> bitstream = bench::make_bitstream(options);
  std::int32_t count = static_cast<std::int32_t>(bitstream.size());
  ASSERT_EQ(velnor_config(bitstream.data(), &count), VELNOR_OK);
  const auto round_trips = [&](auto operation) {
    const bench::UsbCounters before = device().counters();
    EXPECT_EQ(operation(), VELNOR_OK);
    return device().counters().bulk_reads - before.bulk_reads;
  };
  std::uint32_t idcode = 0, status = 0, usercode = 0;
  EXPECT_LE(round_trips([&] { return velnor_get_status(&idcode, &status, &usercode); }), 4u);
  std::uint8_t block[512] = {1, 2, 3};
  EXPECT_LE(round_trips([&] { return jmem_access(VELNOR_JMEM_WRITE, 0x100, block, 16); }), 3u);
  EXPECT_LE(round_trips([&] { return jmem_access(VELNOR_JMEM_READ, 0x100, block, 16); }), 3u);
  EXPECT_EQ(block[1], 2);
  ASSERT_EQ(velnor_cfgrom_erase(), VELNOR_OK);
  // 512 bytes are 16 pages of the XCF02S.
  EXPECT_LE(round_trips([&] { return velnor_cfgrom_program(block, 0, 512); }), 2u * 16);
}

// What one configuration through the USB cable cost on a fresh board; the
// configuration's own TCK cycles, charged machine cycles and round trips.
struct UsbJob {
  std::uint32_t result;
  std::uint64_t machine_cycles, virtual_ns, bulk_transfers, packets_in, frames;
  std::uint64_t tck_cycles, charged_cycles, bulk_reads;
  std::string tms, tdi, tdo;
  std::vector<std::vector<std::uint8_t>> transfers;
};

UsbJob configure_through_usb(BenchTest& test, const std::vector<std::uint8_t>& bitstream) {
  auto& board = test.board_for("chain=xc2s15/v0;usb=0:running");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_init(VELNOR_CABLE_USB), VELNOR_OK);
  ::testing::internal::GetCapturedStdout();
  bench::EzUsbDevice& device = *board.usb_device(0);
  device.set_logging(true);
  std::int32_t count = static_cast<std::int32_t>(bitstream.size());
  UsbJob job{};
  const bench::UsbCounters before = device.counters();
  const std::uint64_t tck_before = board.chain().cycle_count();
  job.result = velnor_config(bitstream.data(), &count);
  const bench::UsbCounters counters = device.counters();
  job.tck_cycles = board.chain().cycle_count() - tck_before;
  job.charged_cycles =
      counters.machine_cycles - counters.idle_cycles - (before.machine_cycles - before.idle_cycles);
  job.bulk_reads = counters.bulk_reads - before.bulk_reads;
  job.machine_cycles = counters.machine_cycles;
  job.bulk_transfers = counters.bulk_transfers;
  job.packets_in = counters.packets_in;
  job.frames = counters.frames_used;
  job.virtual_ns = board.clock().now_ns();
  job.tms = board.trace().tms_bits();
  job.tdi = board.trace().tdi_bits();
  job.tdo = board.trace().tdo_bits();
  for (const UsbTransfer& transfer : device.transfers()) job.transfers.push_back(transfer.data);
  velnor_free();
  return job;
}

// The host's reader thread and the caller's thread reach the model in any
// order; the 8051 must still run the same cycles at the same times.
TEST_F(UsbCableTest, TheSameJobCostsTheSameCyclesAndTimeOnEveryRun) {
  bench::BitstreamOptions options;
  options.part = bench::Part::Xc2s15;
  const std::vector<std::uint8_t> bitstream = bench::make_bitstream(options);
  const UsbJob first = configure_through_usb(*this, bitstream);
  const UsbJob second = configure_through_usb(*this, bitstream);
  EXPECT_EQ(first.result, VELNOR_OK);
  EXPECT_EQ(second.result, VELNOR_OK);
  EXPECT_EQ(first.machine_cycles, second.machine_cycles);
  EXPECT_EQ(first.virtual_ns, second.virtual_ns);
  EXPECT_EQ(first.bulk_transfers, second.bulk_transfers);
  EXPECT_EQ(first.packets_in, second.packets_in);
  EXPECT_EQ(first.frames, second.frames);
  EXPECT_TRUE(first.tms == second.tms && first.tdi == second.tdi && first.tdo == second.tdo);
  EXPECT_TRUE(first.transfers == second.transfers);
  // Double-buffered, the 8051 goes from one stream packet to the next
  // without waiting for the wire (11.26 machine cycles a TCK cycle with
  // single buffers), and keeping the order across the pipes costs no round
  // trip beyond the configuration's own supply checks and status reads.
  EXPECT_LT(double(first.charged_cycles) / double(first.tck_cycles), 10.7);
  EXPECT_EQ(first.bulk_reads, 20u);
}

}  // namespace
}  // namespace velnor::testing
