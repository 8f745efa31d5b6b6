#include "bench/clock.h"

#include <chrono>
#include <thread>

namespace velnor::bench {

void VirtualClock::set_real_time(bool real_time) {
  real_time_.store(real_time, std::memory_order_relaxed);
}

bool VirtualClock::real_time() const { return real_time_.load(std::memory_order_relaxed); }

void VirtualClock::sleep_ms(std::uint32_t milliseconds) {
  if (real_time()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  virtual_ns_.fetch_add(std::uint64_t{milliseconds} * 1000000, std::memory_order_relaxed);
  // A thread polling in a sleep loop must still let the others run.
  std::this_thread::yield();
}

void VirtualClock::advance_ns(std::uint64_t nanoseconds) {
  // In real time the hardware's own delays pass by themselves.
  if (real_time()) return;
  virtual_ns_.fetch_add(nanoseconds, std::memory_order_relaxed);
}

std::uint64_t VirtualClock::now_ns() const {
  if (real_time()) {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
  return virtual_ns_.load(std::memory_order_relaxed);
}

std::uint64_t VirtualClock::now_ms() const { return now_ns() / 1000000; }

}  // namespace velnor::bench
