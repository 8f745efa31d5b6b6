// The library's one-line texts for the person at the bench. They go to the
// standard output, each flushed at once: progress marks without line ends
// must show while the library waits.
#pragma once

namespace velnor {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void message(const char* format, ...);

}  // namespace velnor
