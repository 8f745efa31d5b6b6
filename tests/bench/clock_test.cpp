#include "bench/clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace velnor::bench {
namespace {

TEST(VirtualClock, SleepsAndHardwareTimeAddUpWithoutWaiting) {
  VirtualClock clock;
  EXPECT_FALSE(clock.real_time());
  EXPECT_EQ(clock.now_ns(), 0u);
  const auto start = std::chrono::steady_clock::now();
  clock.sleep_ms(15000);  // an erase wait
  clock.advance_ns(1500);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(clock.now_ns(), 15000001500u);
  EXPECT_EQ(clock.now_ms(), 15000u);
  clock.sleep_ms(0xFFFFFFFF);  // the longest sleep does not overflow
  EXPECT_EQ(clock.now_ms(), std::uint64_t{15000} + 0xFFFFFFFF);
}

TEST(VirtualClock, RealTimeReallySleeps) {
  VirtualClock clock;
  clock.set_real_time(true);
  const std::uint64_t before = clock.now_ns();
  const auto start = std::chrono::steady_clock::now();
  clock.sleep_ms(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_GE(clock.now_ns() - before, 20000000u);
}

}  // namespace
}  // namespace velnor::bench
