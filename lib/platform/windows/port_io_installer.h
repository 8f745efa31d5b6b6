// Makes direct printer-port I/O usable. On the NT line a user-mode process
// may touch I/O ports only after the outside kernel driver giveio granted it,
// which it does to any process that opens its device "\\.\giveio". The
// installer uses the driver when it runs, starts its service when it is
// installed, or installs the service from "giveio.sys" first; at unload,
// release_port_io undoes what it changed in the service database.
#pragma once

#include "platform/windows/win32_api.h"

namespace velnor::platform::windows {

// Process-wide, one per load of the library.
struct PortIoState {
  // 2, 3 or 4: how the first successful enable on the NT line got the grant
  // (0 until then); never reset, so the unload knows what to undo.
  int port_io_method;
  // The service control manager, opened on demand and kept until the unload.
  Handle scm_handle;
};
extern PortIoState port_io;

// 0: port I/O cannot be made usable. 1: the platform is not of the NT line
// (or does not say), port I/O needs no driver. 2: the driver was running.
// 3: its installed service was started. 4: its service was created and
// started.
int enable_port_io(const Win32Api& api);

// Stops the service if the library started it, deletes it if the library
// created it, and closes the manager.
void release_port_io(const Win32Api& api);

}  // namespace velnor::platform::windows
