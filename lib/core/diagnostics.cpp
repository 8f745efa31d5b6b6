#include "core/diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace velnor {

void diagnostic(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

}  // namespace velnor
