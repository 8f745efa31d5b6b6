// Threads and events on Windows: CreateThread with SetThreadPriority, and
// the kernel's own event objects with WaitForSingleObject.
#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/backend.h"
#include "platform/platform.h"

namespace velnor::platform {
namespace {

HANDLE native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

// Set at process exit, when no other thread is left to set an event.
std::atomic<bool> alone_in_process{false};

// What a new thread runs: one of the two kinds of start function.
struct ThreadStart {
  void (*detached)();
  void (*function)(void* argument);
  void* argument;
};

DWORD WINAPI thread_main(LPVOID parameter) {
  const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  if (start->detached != nullptr) {
    start->detached();
  } else {
    start->function(start->argument);
  }
  return 0;
}

HANDLE create_thread(ThreadStart* start) {
  HANDLE thread = CreateThread(nullptr, 0, thread_main, start, 0, nullptr);
  if (thread == nullptr) delete start;
  return thread;
}

}  // namespace

bool start_detached_thread(void (*function)()) {
  HANDLE thread = create_thread(new ThreadStart{function, nullptr, nullptr});
  if (thread == nullptr) return false;
  CloseHandle(thread);
  return true;
}

Handle start_thread(void (*function)(void* argument), void* argument) {
  return reinterpret_cast<Handle>(create_thread(new ThreadStart{nullptr, function, argument}));
}

void join_thread(Handle thread) {
  if (thread == NO_HANDLE) return;
  WaitForSingleObject(native(thread), INFINITE);
  CloseHandle(native(thread));
}

// The priority levels are Windows' own (15: THREAD_PRIORITY_TIME_CRITICAL).
bool set_current_thread_priority(int priority) {
  return SetThreadPriority(GetCurrentThread(), priority) != 0;
}

Handle create_event(bool manual_reset, bool initially_set) {
  return reinterpret_cast<Handle>(CreateEventA(nullptr, manual_reset, initially_set, nullptr));
}

void set_event(Handle event) { SetEvent(native(event)); }
void reset_event(Handle event) { ResetEvent(native(event)); }

bool wait_event(Handle event, std::uint32_t timeout_ms) {
  static_assert(WAIT_FOREVER == INFINITE);
  // No thread is left that could set it: the wait is over, as if it had been.
  if (alone_in_process.load()) return true;
  return WaitForSingleObject(native(event), timeout_ms) == WAIT_OBJECT_0;
}

void other_threads_ended() { alone_in_process.store(true); }

void close_event(Handle event) { CloseHandle(native(event)); }

}  // namespace velnor::platform
