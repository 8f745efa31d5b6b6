// The windows backend on the real Windows calls, here Wine's: its services,
// the service manager, device and file opens, threads and events. Run in a
// throw-away Wine prefix: the tests create and delete a "giveio" service.
// The library's headers first: <windows.h> defines macros of the same
// names as some of their constants.
#include "platform/platform.h"
#include "platform/windows/port_io_installer.h"
#include "velnor.h"
// Then the system's.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace velnor::platform::windows {
namespace {

bool giveio_installed() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, "giveio", SERVICE_QUERY_STATUS);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

std::string stdout_of(void (*action)()) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  action();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST(Win32Services, PlatformIsOfTheNtLine) {
  std::uint32_t id = 0;
  ASSERT_TRUE(system_calls().query_platform_id(&id));
  EXPECT_EQ(id, VER_PLATFORM_WIN32_NT);
}

// Wine's service manager creates the kernel-driver service, but without a
// driver file it cannot start it: the installer fails (0), registers no
// clean-up, and the service stays registered, as on Windows. A second try
// finds it (method 3) and fails the start again.
TEST(Win32Services, GiveioServiceCreatedButNotStartedWithoutItsDriver) {
  ASSERT_FALSE(giveio_installed());
  port_io = {0, NO_HANDLE};
  EXPECT_EQ(enable_port_io(system_calls()), 0);
  EXPECT_TRUE(giveio_installed());
  EXPECT_EQ(port_io.port_io_method, 0);
  EXPECT_NE(port_io.scm_handle, NO_HANDLE);
  EXPECT_EQ(enable_port_io(system_calls()), 0);

  // The unload after a service the library had created and started stops
  // and deletes it, and closes the manager.
  port_io.port_io_method = 4;
  release_port_io(system_calls());
  EXPECT_FALSE(giveio_installed());
  EXPECT_EQ(port_io.scm_handle, NO_HANDLE);
  port_io = {0, NO_HANDLE};
}

TEST(Win32Services, ParallelCableWithoutGiveio) {
  const std::string out = stdout_of([] { EXPECT_EQ(velnor_init(0x00020378), VELNOR_ERR_PROBE); });
  EXPECT_EQ(out, "Can't access GIVEIO system\n");
  // What the attempt created is Wine's to keep; remove it for the next test.
  port_io.port_io_method = 4;
  release_port_io(system_calls());
  port_io = {0, NO_HANDLE};
}

TEST(Win32Services, UsbCableWithoutEzusbDevice) {
  const std::string out = stdout_of([] { EXPECT_EQ(velnor_init(0x00010000), VELNOR_ERR_PROBE); });
  EXPECT_EQ(out, "Setup EZ-USB Firmware\n\nCan't found EZ-USB\n");
}

TEST(Win32Services, BitstreamFileRefusedToASecondOpener) {
  const std::string path = testing::TempDir() + "velnor_sharing_test.bit";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("bits", file);
  std::fclose(file);
  const Handle first = open_file_for_reading(path.c_str());
  ASSERT_NE(first, NO_HANDLE);
  EXPECT_EQ(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);
  char bytes[8] = {};
  EXPECT_EQ(read_file(first, bytes, sizeof bytes), 4u);
  EXPECT_EQ(std::string(bytes), "bits");
  close_file(first);
  const Handle again = open_file_for_reading(path.c_str());
  EXPECT_NE(again, NO_HANDLE);
  close_file(again);
  std::remove(path.c_str());
}

std::atomic<int> thread_priority{0};
Handle thread_done = NO_HANDLE;

TEST(Win32Services, ThreadRaisesItsPriorityAndSignalsAnEvent) {
  thread_done = create_event(true, false);
  ASSERT_NE(thread_done, NO_HANDLE);
  EXPECT_FALSE(wait_event(thread_done, 0));
  ASSERT_TRUE(start_detached_thread([] {
    if (set_current_thread_priority(PRIORITY_TIME_CRITICAL))
      thread_priority = GetThreadPriority(GetCurrentThread());
    set_event(thread_done);
  }));
  ASSERT_TRUE(wait_event(thread_done, 5000));
  EXPECT_EQ(thread_priority.load(), THREAD_PRIORITY_TIME_CRITICAL);
  // Manual reset: it stays set until reset.
  EXPECT_TRUE(wait_event(thread_done, 0));
  reset_event(thread_done);
  EXPECT_FALSE(wait_event(thread_done, 10));
  close_event(thread_done);
}

}  // namespace
}  // namespace velnor::platform::windows
