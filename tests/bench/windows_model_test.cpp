#include "bench/windows_model.h"

#include <gtest/gtest.h>

#include <string>

namespace velnor::bench {
namespace {

using State = WindowsModel::ServiceState;

constexpr std::uint32_t kAllManager = 0xF003F;
constexpr std::uint32_t kAllService = 0xF01FF;
constexpr const char* kDriversPath = "C:\\WINDOWS\\system32\\drivers\\giveio.sys";

WindowsModel::Config config(State giveio, bool administrator = true) {
  WindowsModel::Config result;
  result.giveio = giveio;
  result.administrator = administrator;
  return result;
}

Handle open_giveio(WindowsModel& model, std::uint32_t creation = 3) {
  return model.open_device("\\\\.\\giveio", 0x80000000, 0, creation, 0x80);
}

TEST(WindowsModel, PlatformLineDecidesWhetherPortsAreGuarded) {
  std::uint32_t id = 0;
  WindowsModel::Config line;
  WindowsModel nt(line);
  EXPECT_TRUE(nt.query_platform_id(&id) && id == 2);
  EXPECT_FALSE(nt.port_io_allowed());
  line.line = WindowsModel::PlatformLine::Windows9x;
  WindowsModel old(line);
  EXPECT_TRUE(old.query_platform_id(&id) && id == 1);
  EXPECT_TRUE(old.port_io_allowed());
  line.line = WindowsModel::PlatformLine::QueryFails;
  WindowsModel failing(line);
  EXPECT_FALSE(failing.query_platform_id(&id));
  EXPECT_TRUE(failing.port_io_allowed());
  EXPECT_STREQ(failing.environment("SYSTEMROOT"), "C:\\WINDOWS");
  EXPECT_EQ(failing.environment("PATH"), nullptr);
}

TEST(WindowsModel, FilesIgnoreCaseAndSeparatorKind) {
  WindowsModel model(config(State::Running, false));
  EXPECT_TRUE(model.file_exists("c:/windows/SYSTEM32/drivers\\GiveIO.sys"));
  EXPECT_TRUE(model.file_exists("C:\\BENCH\\giveio.sys"));
  EXPECT_FALSE(model.copy_file("missing.sys", "D:\\x.sys", false));
  EXPECT_TRUE(model.copy_file("giveio.sys", "D:/copy.sys", true));
  EXPECT_FALSE(model.copy_file("giveio.sys", "d:\\COPY.SYS", true));
  // Only administrators may write into the system folder.
  EXPECT_FALSE(model.copy_file("giveio.sys", kDriversPath, false));
  EXPECT_EQ(model.calls().back(),
            "CopyFile giveio.sys -> " + std::string(kDriversPath) + " -> failed (access denied)");
  char out[20];
  EXPECT_EQ(model.full_path_name("giveio.sys", out, 20), 19u);
  EXPECT_STREQ(out, "C:\\BENCH\\giveio.sys");
  EXPECT_EQ(model.full_path_name("giveio.sys", out, 19), 0u);
  EXPECT_EQ(model.full_path_name("D:/a//b", out, sizeof out), 6u);
  EXPECT_STREQ(out, "D:\\a\\b");
}

TEST(WindowsModel, UserGetsNoManagerRightsToChangeServices) {
  WindowsModel user(config(State::Stopped, false));
  EXPECT_EQ(user.open_sc_manager(kAllManager), 0u);
  Handle connect = user.open_sc_manager(0x0001);
  ASSERT_NE(connect, 0u);
  EXPECT_EQ(user.create_service(connect, "x", "x", kAllService, 1, 3, 1, kDriversPath), 0u);
  EXPECT_EQ(user.open_service(connect, "giveio", kAllService), 0u);
  user.close_service_handle(connect);
  EXPECT_EQ(user.calls().front(), "OpenSCManager 0xF003F -> failed (access denied)");
  EXPECT_EQ(user.calls().back(), "CloseServiceHandle manager -> ok");
  EXPECT_EQ(user.open_handle_count(), 0u);
}

TEST(WindowsModel, ServiceCallsFailAsWindowsDoes) {
  WindowsModel model(config(State::Stopped));
  Handle scm = model.open_sc_manager(kAllManager);
  EXPECT_EQ(model.open_service(scm + 4, "giveio", kAllService), 0u);
  Handle service = model.open_service(scm, "GIVEIO", kAllService);
  ASSERT_NE(service, 0u);
  EXPECT_EQ(model.create_service(scm, "giveio", "g", kAllService, 1, 3, 1, "C:\\none.sys"), 0u);
  EXPECT_EQ(model.calls().back(), "CreateService giveio -> failed (exists)");
  EXPECT_FALSE(model.control_service(service, 1));
  EXPECT_TRUE(model.start_service(service));
  EXPECT_FALSE(model.start_service(service));
  EXPECT_EQ(model.calls().back(), "StartService GIVEIO -> failed (already running)");
  EXPECT_FALSE(model.control_service(service, 4));
  EXPECT_TRUE(model.delete_service(service));
  EXPECT_FALSE(model.delete_service(service));
  model.close_service_handle(service);
  EXPECT_FALSE(model.start_service(service));
  EXPECT_EQ(model.calls().back(), "StartService 0x104 -> failed (bad handle)");
  model.close_service_handle(scm);
  EXPECT_EQ(model.open_handle_count(), 0u);
}

TEST(WindowsModel, GiveioOpensWhileRunningAndGrantOutlivesIt) {
  WindowsModel model(config(State::Stopped));
  EXPECT_EQ(open_giveio(model), 0u);
  EXPECT_FALSE(model.port_io_allowed());
  Handle scm = model.open_sc_manager(kAllManager);
  Handle service = model.open_service(scm, "giveio", kAllService);
  model.start_service(service);
  EXPECT_EQ(open_giveio(model, 2), 0u);  // devices are opened, never created
  Handle device = open_giveio(model);
  ASSERT_NE(device, 0u);
  EXPECT_TRUE(model.close_device(device));
  EXPECT_FALSE(model.close_device(device));
  model.control_service(service, 1);
  EXPECT_TRUE(model.port_io_allowed());
  const std::size_t logged = model.calls().size();
  EXPECT_EQ(model.open_device("\\\\.\\ezusb-0", 0xC0000000, 2, 3, 0), 0u);
  EXPECT_EQ(model.calls().size(), logged);
}

}  // namespace
}  // namespace velnor::bench
