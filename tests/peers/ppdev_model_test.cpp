// The ppdev driver model the preload library serves /dev/parportN with,
// driven directly: what the kernel allows, and what reaches the board.
#include "ppdev_model.h"

#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <memory>

#include "bench/board.h"
#include "trace_text.h"

namespace {

using velnor::bench::Board;
using velnor::bench::PpdevModel;

class PpdevModelTest : public ::testing::Test {
 protected:
  // Descriptors stand for open nodes; the model never touches them.
  static constexpr int kFirst = 5;
  static constexpr int kSecond = 6;

  std::unique_ptr<Board> board_ =
      velnor::bench::make_board("platform=9x;trace=on;lpt=0x378,0x3BC:none");
  PpdevModel model_{*board_};

  template <typename T>
  int call(int fd, unsigned long request, T* argument) {
    return model_.ioctl(fd, request, argument);
  }
  int call(int fd, unsigned long request) { return model_.ioctl(fd, request, nullptr); }
  std::uint8_t read_byte(int fd, unsigned long request) {
    std::uint8_t value = 0;
    EXPECT_EQ(call(fd, request, &value), 0);
    return value;
  }
  int write_byte(int fd, unsigned long request, std::uint8_t value) {
    return call(fd, request, &value);
  }
  void open_claimed(int fd) {
    model_.open(fd, 0x378);
    ASSERT_EQ(call(fd, PPCLAIM), 0);
  }
  std::string traffic() { return velnor::bench::trace_text(board_->trace()); }
};

TEST_F(PpdevModelTest, NumbersTheBoardsPortsByTheirUsualBases) {
  EXPECT_EQ(model_.port_of("/dev/parport0"), 0x378);
  EXPECT_EQ(model_.port_of("/dev/parport2"), 0x3BC);
  EXPECT_EQ(model_.port_of("/dev/parport1"), std::nullopt);  // no port at 0x278 on this board
  EXPECT_EQ(model_.port_of("/dev/parport3"), std::nullopt);
  EXPECT_TRUE(PpdevModel::is_node("/dev/parport12"));
  EXPECT_FALSE(PpdevModel::is_node("/dev/parport"));
  EXPECT_FALSE(PpdevModel::is_node("/dev/parport0x"));
  EXPECT_FALSE(PpdevModel::is_node("/dev/lp0"));
  EXPECT_EQ(model_.port_of("/dev/lp0"), std::nullopt);
}

TEST_F(PpdevModelTest, RegistersAnswerOnlyWhileClaimed) {
  model_.open(kFirst, 0x378);
  EXPECT_TRUE(model_.owns(kFirst));
  EXPECT_FALSE(model_.owns(kSecond));
  EXPECT_EQ(write_byte(kFirst, PPWDATA, 0x52), -EINVAL);
  int mode = IEEE1284_MODE_COMPAT;
  EXPECT_EQ(call(kFirst, PPSETMODE, &mode), 0);  // the driver's own state needs no claim
  EXPECT_EQ(call(kFirst, PPCLAIM), 0);
  EXPECT_EQ(call(kFirst, PPCLAIM), -EINVAL);
  EXPECT_EQ(write_byte(kFirst, PPWDATA, 0x52), 0);
  EXPECT_EQ(call(kFirst, PPRELEASE), 0);
  EXPECT_EQ(write_byte(kFirst, PPWDATA, 0x12), -EINVAL);
  EXPECT_EQ(traffic(), "W 0378 52\n");
  model_.close(kFirst);
  EXPECT_FALSE(model_.owns(kFirst));
}

TEST_F(PpdevModelTest, DataAndStatusReachTheCableAsTheRegistersHoldThem) {
  open_claimed(kFirst);
  // Detect drive high: PAPER-END follows it, BUSY too, and the port inverts
  // BUSY into status bit 7; nothing else inverts anything.
  EXPECT_EQ(write_byte(kFirst, PPWDATA, 0x52), 0);
  EXPECT_EQ(read_byte(kFirst, PPRSTATUS), 0x7F);
  EXPECT_EQ(write_byte(kFirst, PPWDATA, 0x12), 0);
  EXPECT_EQ(read_byte(kFirst, PPRSTATUS), 0xDF);
  EXPECT_EQ(read_byte(kFirst, PPRDATA), 0x12);
  EXPECT_EQ(traffic(), "W 0378 52\nR 0379 7F\nW 0378 12\nR 0379 DF\nR 0378 12\n");
}

TEST_F(PpdevModelTest, ControlShowsTheDriversCopyOfTheOutputLines) {
  open_claimed(kFirst);
  EXPECT_EQ(read_byte(kFirst, PPRCONTROL), 0x0C);
  EXPECT_EQ(write_byte(kFirst, PPWCONTROL, 0xF5), 0);  // only the four output lines take it
  EXPECT_EQ(read_byte(kFirst, PPRCONTROL), 0x05);
  ppdev_frob_struct frob = {0x83, 0x82};  // bit 7 is no output line
  EXPECT_EQ(call(kFirst, PPFCONTROL, &frob), 0);
  int reverse = 1;
  EXPECT_EQ(call(kFirst, PPDATADIR, &reverse), 0);  // direction bit written, not shown
  EXPECT_EQ(read_byte(kFirst, PPRCONTROL), 0x06);
  // The reads came from the copy: only writes reached the port.
  EXPECT_EQ(traffic(), "W 037A 05\nW 037A 06\nW 037A 26\n");
}

TEST_F(PpdevModelTest, ExclusiveOpenersShareWithNobody) {
  model_.open(kFirst, 0x378);
  model_.open(kSecond, 0x378);
  EXPECT_EQ(call(kFirst, PPEXCL), 0);
  EXPECT_EQ(call(kFirst, PPCLAIM), 0);
  EXPECT_EQ(call(kFirst, PPEXCL), 0);  // late, but exclusive already
  EXPECT_EQ(call(kSecond, PPCLAIM), -ENXIO);
  model_.close(kFirst);
  EXPECT_EQ(call(kSecond, PPCLAIM), 0);
}

TEST_F(PpdevModelTest, SharedOpenersTakeTurns) {
  model_.open(kFirst, 0x378);
  model_.open(kSecond, 0x378);
  EXPECT_EQ(call(kFirst, PPCLAIM), 0);
  EXPECT_EQ(call(kFirst, PPEXCL), -EINVAL);  // registered shared already
  EXPECT_EQ(call(kSecond, PPEXCL), 0);
  EXPECT_EQ(call(kSecond, PPCLAIM), -ENXIO);  // exclusive while another is registered
  model_.close(kSecond);
  model_.open(kSecond, 0x378);
  EXPECT_EQ(call(kSecond, PPCLAIM), -EBUSY);  // where the kernel would wait
  EXPECT_EQ(call(kFirst, PPRELEASE), 0);
  EXPECT_EQ(call(kSecond, PPCLAIM), 0);
}

TEST_F(PpdevModelTest, OpenersOfDifferentPortsDoNotMeet) {
  model_.open(kFirst, 0x378);
  model_.open(kSecond, 0x3BC);
  EXPECT_EQ(call(kFirst, PPEXCL), 0);
  EXPECT_EQ(call(kFirst, PPCLAIM), 0);
  EXPECT_EQ(call(kSecond, PPCLAIM), 0);
  // Nothing is plugged into the second port: its inputs float high.
  EXPECT_EQ(read_byte(kSecond, PPRSTATUS), 0x7F);
}

TEST_F(PpdevModelTest, OnlyCompatibilityModeNegotiates) {
  open_claimed(kFirst);
  int mode = 0;
  EXPECT_EQ(call(kFirst, PPGETMODE, &mode), 0);
  EXPECT_EQ(mode, IEEE1284_MODE_COMPAT);
  int nibble = IEEE1284_MODE_NIBBLE;
  EXPECT_EQ(call(kFirst, PPSETMODE, &nibble), 0);
  int phase = 0;
  EXPECT_EQ(call(kFirst, PPGETPHASE, &phase), 0);
  EXPECT_EQ(phase, 5);  // reverse idle: the peripheral talks first
  int epp = IEEE1284_MODE_EPP;
  EXPECT_EQ(call(kFirst, PPNEGOT, &epp), -EIO);
  int compat = IEEE1284_MODE_COMPAT;
  EXPECT_EQ(call(kFirst, PPNEGOT, &compat), 0);
  EXPECT_EQ(call(kFirst, PPGETMODE, &mode), 0);
  EXPECT_EQ(mode, IEEE1284_MODE_COMPAT);
  unsigned modes = 0;
  EXPECT_EQ(call(kFirst, PPGETMODES, &modes), 0);
  EXPECT_NE(modes & PARPORT_MODE_PCSPP, 0u);
  int flags = PP_FASTWRITE | 0x100;
  EXPECT_EQ(call(kFirst, PPSETFLAGS, &flags), 0);
  EXPECT_EQ(call(kFirst, PPGETFLAGS, &flags), 0);
  EXPECT_EQ(flags, PP_FASTWRITE);
  EXPECT_EQ(call(kFirst, PPYIELD), 0);
}

TEST_F(PpdevModelTest, TimeoutsMustBePositive) {
  open_claimed(kFirst);
  timeval timeout{};
  EXPECT_EQ(call(kFirst, PPGETTIME, &timeout), 0);
  EXPECT_EQ(timeout.tv_sec, 5);
  timeval zero{};
  EXPECT_EQ(call(kFirst, PPSETTIME, &zero), -EINVAL);
  timeval half{0, 500000};
  EXPECT_EQ(call(kFirst, PPSETTIME, &half), 0);
  EXPECT_EQ(call(kFirst, PPGETTIME, &timeout), 0);
  EXPECT_EQ(timeout.tv_usec, 500000);
}

TEST_F(PpdevModelTest, RefusesRequestsItDoesNotKnowAndCountsEveryCall) {
  open_claimed(kFirst);
  int value = 0;
  EXPECT_EQ(call(kFirst, PPCLRIRQ, &value), -EINVAL);
  EXPECT_EQ(write_byte(kFirst, PPWDATA, 0x10), 0);
  EXPECT_EQ(write_byte(kFirst, PPWDATA, 0x12), 0);
  EXPECT_EQ(model_.call_count(PPWDATA), 2u);
  EXPECT_EQ(model_.call_count(PPCLAIM), 1u);
  EXPECT_EQ(model_.call_count(PPRSTATUS), 0u);
  EXPECT_EQ(model_.call_count(), 4u);
}

}  // namespace
