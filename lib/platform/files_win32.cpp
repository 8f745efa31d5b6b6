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
  if (file == INVALID_HANDLE_VALUE) return NO_HANDLE;
  // Only a file on disk: a named pipe or a console would make the reads wait
  // for a writer.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return NO_HANDLE;
  }
  return reinterpret_cast<Handle>(file);
}

std::size_t read_file(Handle file, void* buffer, std::size_t count) {
  // One ReadFile moves at most 4 GiB; the caller asks again for the rest.
  const DWORD wanted = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
  DWORD got = 0;
  if (ReadFile(native(file), buffer, wanted, &got, nullptr) == 0) return 0;
  return got;
}

std::int64_t file_bytes_left(Handle file) {
  LARGE_INTEGER size{};
  LARGE_INTEGER position{};
  if (GetFileType(native(file)) != FILE_TYPE_DISK || GetFileSizeEx(native(file), &size) == 0 ||
      SetFilePointerEx(native(file), LARGE_INTEGER{}, &position, FILE_CURRENT) == 0) {
    return -1;
  }
  return size.QuadPart - position.QuadPart;
}

void close_file(Handle file) { CloseHandle(native(file)); }

}  // namespace velnor::platform
