#include "base/messages.h"

#include <cstdarg>
#include <cstdio>

namespace velnor {

void message(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

}  // namespace velnor
