#include "core/library_state.h"

namespace velnor {

LibraryState library;

}  // namespace velnor
