// One-line texts for the person at the bench, on the standard output. Each is
// flushed at once: progress marks without line ends must show while the
// library waits.
#pragma once

namespace velnor {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void diagnostic(const char* format, ...);

}  // namespace velnor
