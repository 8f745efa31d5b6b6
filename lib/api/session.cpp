#include "api/session.h"

namespace velnor {

Session& session() {
  static Session the_session;
  return the_session;
}

}  // namespace velnor
