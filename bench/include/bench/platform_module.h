// The bench as the library's platform: its model of a Windows PC as the
// Windows calls the library's windows backend is written in.
#pragma once

#include "platform/windows/win32_api.h"

namespace velnor::bench {

// The calls, each answered by the active board.
const platform::windows::Win32Api& windows_api();

}  // namespace velnor::bench
