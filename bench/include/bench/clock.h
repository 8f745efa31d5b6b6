// Time on the bench. Virtual by default: a sleep moves the clock at once, so
// a 15-second erase wait costs nothing; real time is for demonstrations.
#pragma once

#include <atomic>
#include <cstdint>

namespace velnor::bench {

class VirtualClock {
 public:
  void set_real_time(bool real_time);
  bool real_time() const;
  void sleep_ms(std::uint32_t milliseconds);
  // Time spent by the hardware itself (a port access, a TCK cycle).
  void advance_ns(std::uint64_t nanoseconds);
  std::uint64_t now_ns() const;
  std::uint64_t now_ms() const;

 private:
  // Atomic: a polling thread reads the time while another sleeps.
  std::atomic<bool> real_time_{false};
  std::atomic<std::uint64_t> virtual_ns_{0};
};

}  // namespace velnor::bench
