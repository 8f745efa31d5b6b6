#include "cables/cable_ops.h"

#include <cstring>

#include "cables/parallel_cable.h"
#include "cables/usb_cable.h"

namespace velnor {
namespace {

struct CableEntry {
  std::uint32_t kind;
  const char* identifier;
  const CableOps* ops;
};

const CableEntry kCables[] = {
    {1, "mox_usb2", &usb_cable_ops},
    {2, "mox_xpar", &parallel_cable_ops},
};

}  // namespace

const char* cable_identifier(std::uint32_t kind) {
  for (const CableEntry& cable : kCables) {
    if (cable.kind == kind) return cable.identifier;
  }
  return nullptr;
}

const CableOps* cable_ops_named(const char* identifier) {
  if (identifier == nullptr) return nullptr;
  for (const CableEntry& cable : kCables) {
    if (std::strcmp(identifier, cable.identifier) == 0) return cable.ops;
  }
  return nullptr;
}

}  // namespace velnor
