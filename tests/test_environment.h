// Environment changes in tests: setenv/unsetenv, or on Windows the C
// runtime's _putenv_s, where an empty value removes the variable.
#pragma once

#include <cstdlib>

namespace velnor::testing {

inline bool set_environment(const char* name, const char* value) {
#ifdef _WIN32
  return _putenv_s(name, value) == 0;
#else
  return setenv(name, value, 1) == 0;
#endif
}

inline void unset_environment(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");
#else
  unsetenv(name);
#endif
}

}  // namespace velnor::testing
