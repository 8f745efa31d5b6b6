// The library's one-line texts for the person at the bench. By default they
// go to the standard output, each flushed at once: progress marks without
// line ends must show while the library waits. A program may take them
// instead through a callback; the sink is the process's, as the standard
// output is.
#pragma once

namespace velnor {

using MessageCallback = void (*)(const char* text, void* context);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void message(const char* format, ...);

// From now on every text goes to callback with context, from whichever
// thread prints it; a null callback restores the standard output. Safe
// against messages printed on other threads meanwhile: each text goes
// either to the old pair or to the new one, never to a mix of the two.
void set_message_callback(MessageCallback callback, void* context);

}  // namespace velnor
