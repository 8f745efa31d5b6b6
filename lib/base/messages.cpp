#include "base/messages.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

namespace velnor {
namespace {

// The callback and its context must be read as one pair. A writer makes the
// sequence odd, stores both, and makes it even again; a reader retries while
// the sequence is odd or has moved during its two loads. Writers take turns
// by claiming the odd value from an even one.
std::atomic<std::uint32_t> sequence{0};
std::atomic<MessageCallback> sink_callback{nullptr};
std::atomic<void*> sink_context{nullptr};

struct Sink {
  MessageCallback callback;
  void* context;
};

Sink current_sink() {
  for (;;) {
    const std::uint32_t before = sequence.load();
    if ((before & 1) == 0) {
      const Sink sink{sink_callback.load(), sink_context.load()};
      if (sequence.load() == before) return sink;
    }
    std::this_thread::yield();
  }
}

}  // namespace

void set_message_callback(MessageCallback callback, void* context) {
  std::uint32_t even = sequence.load() & ~1u;
  while (!sequence.compare_exchange_weak(even, even + 1)) {
    even &= ~1u;
    std::this_thread::yield();
  }
  sink_callback.store(callback);
  sink_context.store(context);
  sequence.store(even + 2);
}

void message(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measuring;
  va_copy(measuring, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  std::vector<char> text(length < 0 ? 1 : static_cast<std::size_t>(length) + 1, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size(), format, arguments);
  va_end(arguments);

  const Sink sink = current_sink();
  if (sink.callback != nullptr) {
    sink.callback(text.data(), sink.context);
    return;
  }
  std::fputs(text.data(), stdout);
  std::fflush(stdout);
}

}  // namespace velnor
