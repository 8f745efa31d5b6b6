// Bitstream files on Windows, on every backend (the bench's tests read real
// files too): CreateFileA without sharing, so the file is refused to any
// other opener while the configuration reads it, and ReadFile.
#include <windows.h>

#include "platform/platform.h"

namespace velnor::platform {
namespace {
HANDLE native(Handle file) { return reinterpret_cast<HANDLE>(file); }
}  // namespace

Handle open_file_for_reading(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? NO_HANDLE : reinterpret_cast<Handle>(file);
}

std::size_t read_file(Handle file, void* buffer, std::size_t count) {
  // One ReadFile moves at most 4 GiB; the caller asks again for the rest.
  const DWORD wanted = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
  DWORD got = 0;
  if (ReadFile(native(file), buffer, wanted, &got, nullptr) == 0) return 0;
  return got;
}

void close_file(Handle file) { CloseHandle(native(file)); }

}  // namespace velnor::platform
