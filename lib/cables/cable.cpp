#include "cables/cable.h"

#include <cstring>

#include "cables/parallel/parallel_cable.h"
#include "cables/usb/usb_cable.h"

namespace velnor {
namespace {

// One cable of each kind per process: the library drives one at a time.
ParallelCable parallel_cable;
UsbCable usb_cable;

struct CableEntry {
  std::uint32_t kind;
  const char* identifier;
  const CableOps* ops;
  void* state;
};

const CableEntry CABLES[] = {
    {1, "mox_usb2", &USB_CABLE_OPS, &usb_cable},
    {2, "mox_xpar", &PARALLEL_CABLE_OPS, &parallel_cable},
};

}  // namespace

const char* cable_identifier(std::uint32_t kind) {
  for (const CableEntry& cable : CABLES) {
    if (cable.kind == kind) return cable.identifier;
  }
  return nullptr;
}

Cable cable_named(const char* identifier) {
  if (identifier == nullptr) return {};
  for (const CableEntry& cable : CABLES) {
    if (std::strcmp(identifier, cable.identifier) == 0) return {*cable.ops, cable.state};
  }
  return {};
}

}  // namespace velnor
