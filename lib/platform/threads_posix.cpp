// Threads and events on POSIX systems, on the C++ standard library.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace velnor::platform {

// --- Threads -----------------------------------------------------------------

bool start_detached_thread(void (*function)()) {
  try {
    std::thread(function).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

Handle start_thread(void (*function)(void* argument), void* argument) {
  try {
    return reinterpret_cast<Handle>(new std::thread(function, argument));
  } catch (const std::system_error&) {
    return NO_HANDLE;
  }
}

void join_thread(Handle thread) {
  auto* running = reinterpret_cast<std::thread*>(thread);
  if (running == nullptr) return;
  running->join();
  delete running;
}

bool set_current_thread_priority(int /*priority*/) {
  // Raising a thread above normal needs real-time scheduling rights here; the
  // reader thread works at normal priority, only with more latency.
  return false;
}

// --- Events ------------------------------------------------------------------

namespace {
struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool manual_reset;
  bool set;
};
Event* event_of(Handle handle) { return reinterpret_cast<Event*>(handle); }
}  // namespace

Handle create_event(bool manual_reset, bool initially_set) {
  return reinterpret_cast<Handle>(new Event{{}, {}, manual_reset, initially_set});
}

void set_event(Handle handle) {
  Event* event = event_of(handle);
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->set = true;
  }
  event->changed.notify_all();
}

void reset_event(Handle handle) {
  Event* event = event_of(handle);
  std::lock_guard<std::mutex> lock(event->mutex);
  event->set = false;
}

bool wait_event(Handle handle, std::uint32_t timeout_ms) {
  Event* event = event_of(handle);
  std::unique_lock<std::mutex> lock(event->mutex);
  auto is_set = [event] { return event->set; };
  if (timeout_ms == WAIT_FOREVER) {
    event->changed.wait(lock, is_set);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), is_set)) {
    return false;
  }
  if (!event->manual_reset) event->set = false;
  return true;
}

void close_event(Handle handle) { delete event_of(handle); }

}  // namespace velnor::platform
