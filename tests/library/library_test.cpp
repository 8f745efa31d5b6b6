// Opening and closing cables, the gate, and the worker slot.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "api/session.h"
#include "api/worker_slot.h"
#include "base/messages.h"
#include "bench_fixture.h"
#include "cables/parallel/parallel_cable.h"
#include "cables/usb/usb_cable.h"
#include "velnor.h"

namespace velnor::testing {
namespace {

using bench::Board;

class LibraryTest : public BenchTest {};

TEST_F(LibraryTest, GatedCallsNeedAnOpenCable) {
  board_for("default");
  velnor_free();
  EXPECT_EQ(velnor_free(), 0u) << "nothing open: nothing to do";
  EXPECT_EQ(velnor_scan_chain(nullptr), VELNOR_ERR_PROBE);
  open_parallel_cable();
  EXPECT_EQ(velnor_scan_chain(nullptr), VELNOR_OK);
  velnor_free();
  EXPECT_EQ(session().cable_open, 0);
  EXPECT_EQ(velnor_scan_chain(nullptr), VELNOR_ERR_PROBE);
}

TEST_F(LibraryTest, AutomaticSelectionFallsBackToThePrinterPort) {
  Board& board = board_for("usb=");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_init(VELNOR_CABLE_AUTO), VELNOR_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Setup EZ-USB Firmware\n\nCan't found EZ-USB\n");
  EXPECT_EQ(session().cable_open, 1);
  EXPECT_EQ(board.trace().port_writes(0x378).size(), 2u);

  board_for("lpt=;usb=");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_init(VELNOR_CABLE_AUTO), VELNOR_ERR_PROBE);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Setup EZ-USB Firmware\n\nCan't found EZ-USB\nNo Probe\n");
  EXPECT_EQ(session().cable_open, 0);
}

std::atomic<int> wrong_contexts{0};
void expects_one(const char*, void* context) { wrong_contexts += *static_cast<int*>(context) != 1; }
void expects_two(const char*, void* context) { wrong_contexts += *static_cast<int*>(context) != 2; }

// A program may take the library's messages; a null callback gives them back
// to stdout. Each message reaches a callback with the context set with it,
// while another thread switches them.
TEST_F(LibraryTest, MessagesGoToTheCallbackWhileOneIsSet) {
  board_for("lpt=;usb=");
  std::string taken;
  velnor_set_message_callback(
      [](const char* text, void* context) { *static_cast<std::string*>(context) += text; }, &taken);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_init(VELNOR_CABLE_AUTO), VELNOR_ERR_PROBE);
  velnor_set_message_callback(nullptr, nullptr);
  EXPECT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), VELNOR_ERR_PROBE);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "No Probe\n");
  EXPECT_EQ(taken, "Setup EZ-USB Firmware\n\nCan't found EZ-USB\nNo Probe\n");

  int one = 1, two = 2;
  velnor_set_message_callback(expects_one, &one);
  std::thread switcher([&] {
    for (int i = 0; i < 20000; ++i) {
      velnor_set_message_callback(i % 2 ? expects_one : expects_two, i % 2 ? &one : &two);
    }
  });
  for (int i = 0; i < 20000; ++i) message("%d\n", i);
  switcher.join();
  velnor_set_message_callback(nullptr, nullptr);
  EXPECT_EQ(wrong_contexts.load(), 0);
}

TEST_F(LibraryTest, FailedUsbOpenKeepsTheUsbSetInstalled) {
  board_for("usb=");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(velnor_init(VELNOR_CABLE_USB), VELNOR_ERR_PROBE);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(jtag().cable.ops.open, USB_CABLE_OPS.open) << "the USB set stays installed";
  EXPECT_EQ(velnor_scan_chain(nullptr), VELNOR_ERR_PROBE);
}

TEST_F(LibraryTest, UnknownCableKindClosesTheOpenCableAndKeepsItsOperations) {
  board_for("default");
  open_parallel_cable();
  EXPECT_EQ(velnor_init(0x00030000), VELNOR_ERR_DRIVER);
  EXPECT_EQ(session().cable_open, 0);
  EXPECT_EQ(jtag().cable.ops.open, PARALLEL_CABLE_OPS.open);
  EXPECT_EQ(velnor_init(0xFFFF0000), VELNOR_ERR_DRIVER);
}

TEST_F(LibraryTest, KindTwoWithUnitZeroOpensTheDefaultPort) {
  board_for("lpt=0x278,0x378");
  EXPECT_EQ(velnor_init(VELNOR_CABLE_PARALLEL | 0x278), VELNOR_OK);
  EXPECT_EQ(velnor_init(VELNOR_CABLE_PARALLEL), VELNOR_OK);
  EXPECT_EQ(static_cast<ParallelCable*>(jtag().cable.state)->io_base, 0x378);
}

// An operation that runs until the test lets it finish.
std::atomic<bool> release_operation{false};
std::atomic<std::uint32_t> operation_result{0};
std::uint32_t held_operation(Session& it) {
  running_progress(it).mark_running();
  while (!release_operation.load()) {
  }
  return operation_result.load();
}
std::uint32_t immediate_operation(Session&) { return operation_result.load(); }

class WorkerSlotTest : public BenchTest {
 protected:
  void SetUp() override {
    board_for("default");
    open_parallel_cable();
    release_operation = false;
  }
  std::uint32_t start(std::int32_t state, std::int32_t* count,
                      std::uint32_t (*operation)(Session&)) {
    return start_operation(session(), WORKER_CONFIGURATION, state, count, operation);
  }
};

TEST_F(WorkerSlotTest, InlineOperationReturnsItsResultAtOnce) {
  operation_result = VELNOR_ERR_CRC;
  std::int32_t count = 10;
  EXPECT_EQ(start(WORKER_STARTING, &count, immediate_operation), VELNOR_ERR_CRC);
  EXPECT_EQ(session().worker.state.load(), WORKER_IDLE);
  EXPECT_EQ(count, 10);
  EXPECT_EQ(velnor_config(nullptr, nullptr), VELNOR_ERR_FORMAT) << "nothing left to poll";
}

// A background result goes to its own poll, once, and to no other call:
// another call works normally once the worker is done, and a new start waits
// until the result is collected.
TEST_F(WorkerSlotTest, BackgroundResultGoesOnlyToItsPoll) {
  operation_result = VELNOR_ERR_FILE | VELNOR_ERR_CRC;
  std::int32_t count = static_cast<std::int32_t>(VELNOR_COUNT_BACKGROUND | 100);
  EXPECT_EQ(start(WORKER_REQUESTED, &count, held_operation), VELNOR_BUSY);
  EXPECT_EQ(count, 100) << "the background bit is cleared";
  EXPECT_EQ(velnor_scan_chain(nullptr), VELNOR_BUSY);
  EXPECT_EQ(velnor_config(nullptr, nullptr), VELNOR_BUSY);
  release_operation = true;
  while (session().worker.state.load() != WORKER_DONE) {
  }
  bench::active_board().trace().clear();
  EXPECT_EQ(velnor_scan_chain(nullptr), VELNOR_OK);
  EXPECT_GT(bench::active_board().trace().clock_count(), 0u);
  EXPECT_EQ(velnor_spi_xfer(1, nullptr, nullptr, nullptr), VELNOR_OK)
      << "a transfer's poll does not take a configuration's result";
  std::int32_t again = 0;
  EXPECT_EQ(start(WORKER_REQUESTED, &again, immediate_operation), VELNOR_BUSY);
  EXPECT_EQ(velnor_config(nullptr, nullptr), VELNOR_ERR_FILE | VELNOR_ERR_CRC);
  EXPECT_EQ(velnor_config(nullptr, nullptr), VELNOR_ERR_FORMAT);
}

TEST_F(WorkerSlotTest, FailureBeforeRunningStillEndsTheStartersWait) {
  operation_result = VELNOR_ERR_NO_TARGET;
  std::int32_t count = static_cast<std::int32_t>(VELNOR_COUNT_BACKGROUND);
  const std::uint32_t started = start(WORKER_REQUESTED, &count, immediate_operation);
  EXPECT_EQ(started, VELNOR_ERR_NO_TARGET) << "the starter polls until the operation is done";
  EXPECT_EQ(velnor_config(nullptr, nullptr), VELNOR_ERR_FORMAT);
}

}  // namespace
}  // namespace velnor::testing
