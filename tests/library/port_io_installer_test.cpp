#include "platform/windows/port_io_installer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "bench/board.h"
#include "bench/platform_module.h"
#include "platform/platform.h"

namespace velnor::platform::windows {
namespace {

using Calls = std::vector<std::string>;

constexpr const char* kDriverPath = "C:\\WINDOWS\\system32\\drivers\\giveio.sys";

// Each test stands for one load of the library on its own machine.
class PortIoInstaller : public ::testing::Test {
 protected:
  void load(std::string_view description) {
    release_port_io(bench::windows_api());  // whatever an earlier test left behind
    bench::install_board(bench::make_board(description));
    port_io = {0, NO_HANDLE};
  }
  // Leaves the state of a fresh load to whatever test runs next.
  void TearDown() override { port_io = {0, NO_HANDLE}; }
  void unload() { release_port_io(bench::windows_api()); }
  int enable_port_io() { return windows::enable_port_io(bench::windows_api()); }
  bench::WindowsModel& windows() { return bench::active_board().windows(); }
  // The calls made since the given count of calls.
  Calls calls_from(std::size_t first) {
    const Calls& all = windows().calls();
    return Calls(all.begin() + static_cast<std::ptrdiff_t>(first), all.end());
  }
  const bench::WindowsModel::Service* giveio() { return windows().service("giveio"); }
};

const Calls kPreamble = {"GetVersionEx -> 2", "getenv SystemRoot -> C:\\WINDOWS",
                         "CreateFile \\\\.\\giveio -> failed (driver not running)",
                         "OpenSCManager 0xF003F -> ok"};
const Calls kUseRunning = {"GetVersionEx -> 2", "getenv SystemRoot -> C:\\WINDOWS",
                           "CreateFile \\\\.\\giveio -> ok", "CloseHandle \\\\.\\giveio -> ok"};
const Calls kStartAndOpen = {"OpenService giveio -> ok", "StartService giveio -> ok",
                             "CloseServiceHandle giveio -> ok", "CreateFile \\\\.\\giveio -> ok",
                             "CloseHandle \\\\.\\giveio -> ok"};
const Calls kStop = {"OpenService giveio -> ok", "ControlService giveio stop -> ok",
                     "CloseServiceHandle giveio -> ok"};
const Calls kDelete = {"OpenService giveio -> ok", "DeleteService giveio -> ok",
                       "CloseServiceHandle giveio -> ok"};

Calls join(std::initializer_list<Calls> parts) {
  Calls result;
  for (const Calls& part : parts) result.insert(result.end(), part.begin(), part.end());
  return result;
}

// No service is started, installed or removed: the older platform line (or a
// failing version query) needs no driver, a running one is used as it is,
// and a user without rights cannot start a stopped one.
TEST_F(PortIoInstaller, CasesThatChangeNoService) {
  const struct {
    const char* board;
    int result;
    int method;  // kept for the unload
    Calls calls;
    int running;  // -1: no service at all
  } kCases[] = {
      {"platform=9x;giveio=absent", 1, 0, {"GetVersionEx -> 1"}, -1},
      {"platform=noversion;giveio=stopped", 1, 0, {"GetVersionEx -> failed"}, 0},
      {"platform=nt;giveio=running", 2, 2, kUseRunning, 1},
      {"platform=nt;rights=user;giveio=running", 2, 2, kUseRunning, 1},
      {"platform=nt;rights=user;giveio=stopped;driverfile=installed;localdriver=present",
       0,
       0,
       {"GetVersionEx -> 2", "getenv SystemRoot -> C:\\WINDOWS",
        "CreateFile \\\\.\\giveio -> failed (driver not running)",
        "OpenSCManager 0xF003F -> failed (access denied)",
        "CopyFile giveio.sys -> C:\\WINDOWS/system32/drivers/giveio.sys -> failed (exists)",
        "OpenSCManager 0xF003F -> failed (access denied)"},
       0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.board);
    load(c.board);
    EXPECT_EQ(enable_port_io(), c.result);
    unload();
    EXPECT_EQ(windows().calls(), c.calls);
    EXPECT_EQ(port_io.port_io_method, c.method);
    EXPECT_EQ(windows().open_handle_count(), 0u);
    if (c.running < 0) {
      EXPECT_EQ(giveio(), nullptr);
    } else {
      ASSERT_NE(giveio(), nullptr);
      EXPECT_EQ(giveio()->running, c.running == 1);
    }
  }
}

TEST_F(PortIoInstaller, StoppedServiceIsStartedAndStoppedAtUnload) {
  load("platform=nt;giveio=stopped");
  EXPECT_EQ(enable_port_io(), 3);
  EXPECT_TRUE(giveio()->running);
  EXPECT_EQ(windows().open_handle_count(), 1u);  // the manager stays open until the unload
  unload();
  EXPECT_EQ(windows().calls(),
            join({kPreamble, kStartAndOpen, kStop, {"CloseServiceHandle manager -> ok"}}));
  ASSERT_NE(giveio(), nullptr);
  EXPECT_FALSE(giveio()->running);
  EXPECT_EQ(windows().open_handle_count(), 0u);
  EXPECT_EQ(port_io.scm_handle, NO_HANDLE);
}

TEST_F(PortIoInstaller, AbsentServiceIsInstalledAndRemovedAtUnload) {
  load("platform=nt;giveio=absent;driverfile=missing;localdriver=present");
  EXPECT_EQ(enable_port_io(), 4);
  const bench::WindowsModel::Service* created = giveio();
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->display_name, "giveio");
  EXPECT_EQ(created->type, 1u);
  EXPECT_EQ(created->start, 3u);
  EXPECT_EQ(created->error_control, 1u);
  EXPECT_EQ(created->binary_path, kDriverPath);
  EXPECT_TRUE(created->running);
  unload();
  const Calls install = {
      "OpenService giveio -> failed (not found)",
      "CopyFile giveio.sys -> C:\\WINDOWS/system32/drivers/giveio.sys -> ok",
      "GetFullPathName C:\\WINDOWS/system32/drivers/giveio.sys -> " + std::string(kDriverPath),
      "CreateService giveio -> ok", "CloseServiceHandle giveio -> ok"};
  EXPECT_EQ(windows().calls(), join({kPreamble,
                                     install,
                                     kStartAndOpen,
                                     kStop,
                                     kDelete,
                                     {"CloseServiceHandle manager -> ok"}}));
  EXPECT_EQ(giveio(), nullptr);
  EXPECT_TRUE(windows().file_exists(kDriverPath));
  EXPECT_EQ(windows().open_handle_count(), 0u);
}

TEST_F(PortIoInstaller, DriverFileInPlaceIsUsedUnchanged) {
  load("platform=nt;giveio=absent;driverfile=installed;localdriver=present");
  EXPECT_EQ(enable_port_io(), 4);
  EXPECT_EQ(windows().calls()[5],
            "CopyFile giveio.sys -> C:\\WINDOWS/system32/drivers/giveio.sys -> failed (exists)");
  unload();
  EXPECT_EQ(giveio(), nullptr);
}

TEST_F(PortIoInstaller, DriverPathFollowsSystemRoot) {
  load("platform=nt;giveio=absent;driverfile=missing;localdriver=present;systemroot=D:\\WINNT");
  EXPECT_EQ(enable_port_io(), 4);
  EXPECT_EQ(giveio()->binary_path, "D:\\WINNT\\system32\\drivers\\giveio.sys");
  EXPECT_TRUE(windows().file_exists("D:\\WINNT\\system32\\drivers\\giveio.sys"));
  unload();
}

TEST_F(PortIoInstaller, SecondEnableAfterInstallKeepsTheCleanUp) {
  load("platform=nt;giveio=absent;driverfile=missing;localdriver=present");
  ASSERT_EQ(enable_port_io(), 4);
  const std::size_t first = windows().calls().size();
  EXPECT_EQ(enable_port_io(), 2);
  EXPECT_EQ(port_io.port_io_method, 4);
  unload();
  EXPECT_EQ(calls_from(first),
            join({kUseRunning, kStop, kDelete, {"CloseServiceHandle manager -> ok"}}));
  EXPECT_EQ(giveio(), nullptr);
}

TEST_F(PortIoInstaller, ServiceThatCannotStartStaysForALaterCall) {
  load("platform=nt;giveio=absent;driverfile=missing;localdriver=missing");
  EXPECT_EQ(enable_port_io(), 0);
  ASSERT_NE(giveio(), nullptr);
  EXPECT_FALSE(giveio()->running);
  EXPECT_EQ(windows().calls().back(), "CloseServiceHandle giveio -> ok");
  EXPECT_EQ(port_io.port_io_method, 0);

  // Nothing to stop or delete at the unload, but the manager is closed.
  std::size_t first = windows().calls().size();
  unload();
  EXPECT_EQ(calls_from(first), Calls{"CloseServiceHandle manager -> ok"});
  EXPECT_EQ(windows().open_handle_count(), 0u);

  first = windows().calls().size();
  EXPECT_EQ(enable_port_io(), 0);
  EXPECT_EQ(
      calls_from(first),
      (Calls{
          "GetVersionEx -> 2", "getenv SystemRoot -> C:\\WINDOWS",
          "CreateFile \\\\.\\giveio -> failed (driver not running)", "OpenSCManager 0xF003F -> ok",
          "OpenService giveio -> ok", "StartService giveio -> failed (no driver file)",
          "CloseServiceHandle giveio -> ok",
          "CopyFile giveio.sys -> C:\\WINDOWS/system32/drivers/giveio.sys -> failed "
          "(no source)",
          "GetFullPathName C:\\WINDOWS/system32/drivers/giveio.sys -> " + std::string(kDriverPath),
          "CreateService giveio -> failed (exists)"}));

  windows().add_file(kDriverPath);
  EXPECT_EQ(enable_port_io(), 3);
  first = windows().calls().size();
  unload();
  EXPECT_EQ(calls_from(first), join({kStop, {"CloseServiceHandle manager -> ok"}}));
  ASSERT_NE(giveio(), nullptr);  // started by method 3, so only stopped
  EXPECT_EQ(windows().open_handle_count(), 0u);
}

TEST_F(PortIoInstaller, PortAccessOnNtNeedsTheGrant) {
  load("platform=nt;giveio=running");
  EXPECT_TRUE(bench::active_board().violations().empty());
  platform::port_read(0x379);
  EXPECT_EQ(bench::active_board().violations().size(), 1u);

  load("platform=nt;giveio=stopped");
  ASSERT_EQ(enable_port_io(), 3);
  platform::port_read(0x379);
  EXPECT_TRUE(bench::active_board().violations().empty());
  unload();

  load("platform=9x");
  platform::port_read(0x379);
  EXPECT_TRUE(bench::active_board().violations().empty());
}

}  // namespace
}  // namespace velnor::platform::windows
