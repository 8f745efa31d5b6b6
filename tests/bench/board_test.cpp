#include "bench/board.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bench/jtag_driver.h"
#include "bench/spartan2.h"
#include "test_environment.h"

namespace velnor::bench {
namespace {

using testing::JtagDriver;
using testing::ones;
using testing::zeros;

constexpr std::uint32_t kOpenExisting = 3;

Handle open_giveio(Board& board) {
  return board.open_device("\\\\.\\giveio", 0xC0000000, 0, kOpenExisting, 0x80);
}

TEST(BoardParse, DefaultBoard) {
  for (const char* description : {"", "default", "  default  ", Board::kDefaultDescription}) {
    auto board = make_board(description);
    ASSERT_EQ(board->chain().size(), 2u) << description;
    EXPECT_EQ(board->chain().device(0).idcode(), 0x05045093u);
    EXPECT_EQ(board->chain().device(1).idcode(), 0x0061C093u);
    ASSERT_NE(board->printer_port(0x378), nullptr);
    EXPECT_EQ(board->printer_port(0x378)->attached(), PrinterPort::Attached::XilinxCable);
    EXPECT_TRUE(board->target_powered());
    EXPECT_TRUE(board->chain().powered());
    EXPECT_FALSE(board->trace().enabled());
    EXPECT_FALSE(board->clock().real_time());
    std::uint32_t platform = 0;
    EXPECT_TRUE(board->windows().query_platform_id(&platform));
    EXPECT_EQ(platform, 2u);
    ASSERT_NE(board->windows().service("giveio"), nullptr);
    EXPECT_TRUE(board->windows().service("giveio")->running);
    EXPECT_STREQ(board->windows().environment("SystemRoot"), "C:\\WINDOWS");
    EXPECT_TRUE(board->windows().file_exists("C:\\WINDOWS\\system32\\drivers\\giveio.sys"));
    EXPECT_TRUE(board->windows().file_exists("giveio.sys"));
    const Handle manager = board->windows().open_sc_manager(0xF003F);
    EXPECT_NE(manager, 0u);
    board->windows().close_service_handle(manager);
    EXPECT_TRUE(board->violations().empty());
  }
}

TEST(BoardParse, EveryKeyOverridesItsDefault) {
  auto board = make_board(
      " chain=xc2s15/v1, other:0x12345093:6:0x5 ,xcf04s/vF ; lpt=0x278:none,0x3BC ;"
      "power=off;fault=tdo0;platform=9x;rights=user;giveio=stopped;driverfile=missing;"
      "localdriver=missing;systemroot=D:\\WINNT;time=real;trace=on;");
  ASSERT_EQ(board->chain().size(), 3u);
  EXPECT_EQ(board->chain().device(0).idcode(), 0x10608093u);
  EXPECT_EQ(board->chain().device(1).idcode(), 0x12345093u);
  EXPECT_EQ(board->chain().device(1).ir_length(), 6);
  EXPECT_EQ(board->chain().device(2).idcode(), 0xF5046093u);
  EXPECT_EQ(board->printer_port(0x378), nullptr);
  ASSERT_NE(board->printer_port(0x278), nullptr);
  EXPECT_EQ(board->printer_port(0x278)->attached(), PrinterPort::Attached::Nothing);
  ASSERT_NE(board->printer_port(0x3BC), nullptr);
  EXPECT_EQ(board->printer_port(0x3BC)->attached(), PrinterPort::Attached::XilinxCable);
  EXPECT_FALSE(board->target_powered());
  EXPECT_FALSE(board->chain().powered());
  EXPECT_FALSE(board->chain().tdo());  // stuck low even unpowered
  EXPECT_TRUE(board->trace().enabled());
  EXPECT_TRUE(board->clock().real_time());
  std::uint32_t platform = 0;
  EXPECT_TRUE(board->windows().query_platform_id(&platform));
  EXPECT_EQ(platform, 1u);
  ASSERT_NE(board->windows().service("giveio"), nullptr);
  EXPECT_FALSE(board->windows().service("giveio")->running);
  EXPECT_STREQ(board->windows().environment("SystemRoot"), "D:\\WINNT");
  EXPECT_FALSE(board->windows().file_exists("D:\\WINNT\\system32\\drivers\\giveio.sys"));
  EXPECT_FALSE(board->windows().file_exists("giveio.sys"));
  EXPECT_EQ(board->windows().open_sc_manager(0xF003F), 0u);  // a user may not
}

TEST(BoardParse, GenericDeviceCaptureAndDefaultCapture) {
  auto board = make_board("chain=other:12345093:6:0x5,other:0x0A000001:2");
  JtagDriver jtag(board->chain());
  jtag.reset();
  EXPECT_EQ(jtag.shift_ir(ones(8)),
            "101000"
            "10");
}

TEST(BoardParse, EmptyListsMeanNothingAttached) {
  auto board = make_board("chain=;lpt=");
  EXPECT_EQ(board->chain().size(), 0u);
  EXPECT_EQ(board->printer_port(0x378), nullptr);
}

TEST(BoardParse, OpenLinkFaults) {
  const std::string xcf02s = "11001001000010100010000010100000";
  const std::pair<const char*, std::string> cases[] = {
      {"fault=open@1", xcf02s + ones(32)},
      {"fault=open", ones(64)},
      {"fault=tdo0, open@1", zeros(64)},
  };
  for (const auto& [description, idcodes] : cases) {
    auto board = make_board(description);
    JtagDriver jtag(board->chain());
    jtag.reset();
    EXPECT_EQ(jtag.shift_dr(zeros(64)), idcodes) << description;
  }
}

TEST(BoardParse, BadDescriptionsNameTheCulprit) {
  const std::pair<const char*, const char*> cases[] = {
      {"power=maybe", "unknown value 'maybe' for power"},
      {"colour=red", "unknown key 'colour'"},
      {"power", "item 'power' is not key=value"},
      {"power=on;power=off", "key 'power' given twice"},
      {"chain=xc2s200,xc3s200", "unknown device 'xc3s200'"},
      {"chain=XC2S200", "unknown device 'XC2S200'"},
      {"chain=xc2s200,,xcf01s", "empty device in chain"},
      {"chain=xc2s200/v10", "bad version in 'xc2s200/v10' (want /vN, N one hex digit)"},
      {"chain=xc2s200/3", "bad version in 'xc2s200/3' (want /vN, N one hex digit)"},
      {"chain=other:xyz:5", "bad device 'other:xyz:5' (want other:IDCODE:IRLEN[:CAPTURE])"},
      {"chain=other:0x1:5:1:2", "bad device 'other:0x1:5:1:2' (want other:IDCODE:IRLEN[:CAPTURE])"},
      {"chain=other:0x1:33", "IR length out of 2..32 in 'other:0x1:33'"},
      {"chain=other:0x1:1", "IR length out of 2..32 in 'other:0x1:1'"},
      {"chain=other:0x1:2:0x5", "capture wider than the IR in 'other:0x1:2:0x5'"},
      {"lpt=0x37g", "bad port base '0x37g'"},
      {"lpt=0xFFFE", "bad port base '0xFFFE'"},
      {"lpt=0x378:printer", "unknown value 'printer' for lpt 0x378"},
      {"lpt=0x378,0x37A", "ports at 0x378 and 0x37A overlap"},
      {"fault=stuck", "unknown fault 'stuck'"},
      {"fault=open@x", "unknown fault 'open@x'"},
      {"fault=open@2", "fault open@2: the chain has 2 devices"},
      {"fault=tdo0,tdo1", "conflicting faults tdo0 and tdo1"},
      {"fault=open,open@1", "more than one open link in fault"},
      {"platform=nt4", "unknown value 'nt4' for platform"},
      {"time=fast", "unknown value 'fast' for time"},
      {"trace=yes", "unknown value 'yes' for trace"},
      {"default;power=on", "item 'default' is not key=value"},
      {"mode=parallel", "unknown value 'parallel' for mode"},
      {"design=uart", "unknown value 'uart' for design"},
      {"usercode=123456789", "bad usercode '123456789' (want up to 8 hex digits)"},
      {"usercode=12g4", "bad usercode '12g4' (want up to 8 hex digits)"},
      {"powerup=fpga", "unknown value 'fpga' for powerup"},
      {"powerup=prom;power=off", "powerup=prom needs power=on"},
      {"chain=xc2s200;powerup=prom", "powerup=prom needs an XCF on the chain"},
      {"promimage=", "promimage needs a path"},
      {"promsave=", "promsave needs a path"},
      {"chain=xc2s15;promsave=x.bin", "promsave needs an XCF on the chain"},
      {"chain=other:0x05045093:8;promimage=x.bin", "promimage needs an XCF on the chain"},
  };
  for (const auto& [description, expected] : cases) {
    std::string error;
    EXPECT_EQ(Board::parse(description, &error), nullptr) << description;
    EXPECT_EQ(error, expected) << description;
  }
  EXPECT_EQ(Board::parse("power=maybe", nullptr), nullptr);
}

TEST(BoardParse, SpartanKeysApplyToEveryFpga) {
  {
    auto board = make_board("default");
    Spartan2* fpga = board->fpga();
    ASSERT_EQ(fpga, &board->chain().device(1));
    EXPECT_EQ(fpga->mode(), ConfigMode::MasterSerial);
    EXPECT_EQ(fpga->design().kind(), DesignKind::Memory);
    EXPECT_EQ(fpga->usercode(), 0xFFFFFFFFu);
    EXPECT_EQ(fpga->part(), Part::Xc2s200);
  }
  auto board = make_board("chain=xcf01s,xc2s30,xc2s15;mode=jtag;design=loopback;usercode=0xCafe");
  ASSERT_EQ(board->fpga(), &board->chain().device(1));  // the first FPGA from TDO
  for (std::size_t i : {1u, 2u}) {
    auto& fpga = dynamic_cast<Spartan2&>(board->chain().device(i));
    EXPECT_EQ(fpga.mode(), ConfigMode::BoundaryScan);
    EXPECT_EQ(fpga.design().kind(), DesignKind::Loopback);
    EXPECT_EQ(fpga.usercode(), 0xCAFEu);
    // The mode pins show in the status word.
    EXPECT_EQ(fpga.status_word() & 0x1C00, 0x1400u);
  }
  EXPECT_EQ(make_board("mode=slave")->fpga()->status_word() & 0x1C00, 0x1C00u);
  EXPECT_EQ(make_board("design=none")->fpga()->design().kind(), DesignKind::None);
  EXPECT_EQ(make_board("chain=xcf01s,other:0x12345093:6")->fpga(), nullptr);
}

TEST(BoardParse, AtMostSixteenDevices) {
  std::string chain = "chain=xcf01s";
  for (int i = 1; i < 16; ++i) chain += ",xcf01s";
  EXPECT_EQ(make_board(chain)->chain().size(), 16u);
  std::string error;
  EXPECT_EQ(Board::parse(chain + ",xc2s15", &error), nullptr);
  EXPECT_EQ(error, "chain has 17 devices; the bench takes at most 16");
}

TEST(BoardParseDeathTest, MakeBoardStopsWithTheReason) {
  EXPECT_DEATH(make_board("power=maybe"), "unknown value 'maybe' for power");
}

TEST(BoardPorts, AccessesRouteToTheRightPortAndCostOneMicrosecond) {
  auto board = make_board("platform=9x;lpt=0x378:cable,0x278:other;trace=on");
  board->port_write(0x378, 0x52);
  EXPECT_EQ(board->printer_port(0x378)->data(), 0x52);
  EXPECT_EQ(board->printer_port(0x278)->data(), 0x00);
  EXPECT_EQ(board->port_read(0x378), 0x52);
  EXPECT_EQ(board->port_read(0x379), 0x7F);  // cable loop high
  EXPECT_EQ(board->port_read(0x279), 0xDF);  // the printer
  board->port_write(0x27A, 0x04);
  EXPECT_EQ(board->port_read(0x27A), 0x04);
  EXPECT_EQ(board->port_read(0x37B), 0xFF);  // past the three registers
  EXPECT_EQ(board->port_read(0x3BC), 0xFF);
  board->port_write(0x3BC, 0x00);
  EXPECT_EQ(board->clock().now_ns(), 9000u);
  EXPECT_EQ(board->trace().port_writes(0x378), std::vector<std::uint8_t>{0x52});
  EXPECT_EQ(board->trace().port_reads(0x379), std::vector<std::uint8_t>{0x7F});
  EXPECT_EQ(board->trace().port_reads(0x3BC), std::vector<std::uint8_t>{0xFF});
  EXPECT_EQ(board->trace().port_writes(0x3BC), std::vector<std::uint8_t>{0x00});
  EXPECT_EQ(board->trace().entries().size(), 9u);
  EXPECT_TRUE(board->violations().empty());
}

TEST(BoardPorts, PortWritesClockTheChainAndTheTraceInterleaves) {
  auto board = make_board("platform=9x;trace=on");
  for (std::uint8_t data : {std::uint8_t{0x14}, std::uint8_t{0x16}}) {
    board->port_write(0x378, data);  // TMS high, TCK low then high
  }
  const auto& entries = board->trace().entries();
  // TCK floated high with the buffers off; the first write only drops it.
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].kind, TraceEntry::Kind::PortWrite);
  EXPECT_EQ(entries[1].kind, TraceEntry::Kind::PortWrite);
  EXPECT_EQ(entries[1].value, 0x16);
  EXPECT_EQ(entries[2].kind, TraceEntry::Kind::Clock);
  EXPECT_TRUE(entries[2].tms);
  EXPECT_EQ(entries[2].state(0), TapState::TestLogicReset);
  EXPECT_EQ(board->trace().clock_count(), 1u);
}

TEST(BoardPorts, NtWithoutTheGrantIsAViolation) {
  auto board = make_board("default");
  EXPECT_EQ(board->port_read(0x379), 0xFF);
  board->port_write(0x378, 0x52);
  EXPECT_EQ(board->printer_port(0x378)->data(), 0x00);
  ASSERT_EQ(board->violations().size(), 2u);
  EXPECT_EQ(board->violations()[0], "port I/O at 0x0379 without the port-I/O grant");
  EXPECT_EQ(board->violations()[1], "port I/O at 0x0378 without the port-I/O grant");
  const Handle giveio = open_giveio(*board);
  EXPECT_NE(giveio, 0u);
  board->port_write(0x378, 0x52);
  EXPECT_EQ(board->port_read(0x379), 0x7F);
  EXPECT_EQ(board->violations().size(), 2u);
  board->close_device(giveio);
  EXPECT_EQ(board->windows().open_handle_count(), 0u);
}

TEST(BoardPorts, TargetPowerReachesTheChainAndThePowerSense) {
  auto board = make_board("platform=9x");
  board->port_write(0x378, 0x52);
  board->set_target_powered(false);
  EXPECT_FALSE(board->chain().powered());
  EXPECT_EQ(board->port_read(0x379), 0x77);
  board->set_target_powered(true);
  EXPECT_TRUE(board->target_powered());
  EXPECT_EQ(board->port_read(0x379), 0x7F);
}

TEST(BoardDevices, GiveioAndTheUsbCableOpenByName) {
  auto board = make_board("default");
  EXPECT_EQ(make_board("usb=")->open_device("\\\\.\\ezusb-0", 0xC0000000, 0, kOpenExisting, 0), 0u);
  const Handle usb = board->open_device("\\\\.\\ezusb-0", 0xC0000000, 0, kOpenExisting, 0);
  EXPECT_GE(usb, EzUsbDriver::kFirstHandle);
  board->close_device(usb);
  EXPECT_EQ(board->open_device("\\\\.\\giveio2", 0xC0000000, 0, kOpenExisting, 0), 0u);
  EXPECT_EQ(board->open_device(nullptr, 0xC0000000, 0, kOpenExisting, 0), 0u);
  const Handle upper = board->open_device("\\\\.\\GIVEIO", 0xC0000000, 0, kOpenExisting, 0);
  EXPECT_NE(upper, 0u);
  std::uint32_t returned = 0;
  char out[4];
  EXPECT_FALSE(board->device_control(upper, 0x222000, nullptr, 0, out, sizeof out, &returned));
  board->close_device(upper);
  EXPECT_EQ(board->windows().open_handle_count(), 0u);
  auto stopped = make_board("giveio=stopped");
  EXPECT_EQ(open_giveio(*stopped), 0u);
}

// The active board follows VELNOR_BENCH; restores the environment after.
class ActiveBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* value = std::getenv("VELNOR_BENCH");
    had_value_ = value != nullptr;
    if (had_value_) saved_ = value;
  }
  void TearDown() override {
    if (had_value_) {
      velnor::testing::set_environment("VELNOR_BENCH", saved_.c_str());
    } else {
      velnor::testing::unset_environment("VELNOR_BENCH");
    }
    install_board(nullptr);
  }
  bool had_value_ = false;
  std::string saved_;
};

TEST_F(ActiveBoard, BuiltFromTheEnvironmentOrInstalled) {
  velnor::testing::set_environment("VELNOR_BENCH", "chain=xcf01s;lpt=0x278");
  install_board(nullptr);
  Board& board = active_board();
  EXPECT_EQ(&board, &active_board());
  EXPECT_EQ(board.chain().size(), 1u);
  EXPECT_NE(board.printer_port(0x278), nullptr);
  velnor::testing::unset_environment("VELNOR_BENCH");
  install_board(nullptr);
  EXPECT_EQ(active_board().chain().size(), 2u);
  install_board(make_board("chain=xc2s30"));
  EXPECT_EQ(active_board().chain().device(0).idcode(), 0x0060C093u);
}

TEST_F(ActiveBoard, BadDescriptionLeavesNothingAttached) {
  velnor::testing::set_environment("VELNOR_BENCH", "power=maybe");
  install_board(nullptr);
  ::testing::internal::CaptureStderr();
  Board& board = active_board();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "velnor bench: bad board description: unknown value 'maybe' for power\n");
  EXPECT_EQ(board.chain().size(), 0u);
  EXPECT_EQ(board.printer_port(0x378), nullptr);
}

}  // namespace
}  // namespace velnor::bench
