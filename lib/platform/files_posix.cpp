// Bitstream files are read from the real file system on every backend of a
// POSIX host, the bench included: a test's files are real files.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace velnor::platform {
namespace {
// Descriptor 0 is a valid descriptor but 0 is never a valid handle.
Handle handle_of(int descriptor) { return static_cast<Handle>(descriptor) + 1; }
int descriptor_of(Handle file) { return static_cast<int>(file - 1); }
}  // namespace

Handle open_file_for_reading(const char* path) {
  // Without O_NONBLOCK a FIFO would block the open until a writer came; only
  // a regular file is taken.
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return NO_HANDLE;
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) ||
      ::fcntl(descriptor, F_SETFL, 0) != 0) {
    ::close(descriptor);
    return NO_HANDLE;
  }
  // No sharing: an advisory lock that every opener through here takes.
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    ::close(descriptor);
    return NO_HANDLE;
  }
  return handle_of(descriptor);
}

std::size_t read_file(Handle file, void* buffer, std::size_t count) {
  ssize_t got;
  do {
    got = ::read(descriptor_of(file), buffer, count);
  } while (got < 0 && errno == EINTR);
  return got < 0 ? 0 : static_cast<std::size_t>(got);
}

std::int64_t file_bytes_left(Handle file) {
  struct stat status;
  if (::fstat(descriptor_of(file), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  const off_t position = ::lseek(descriptor_of(file), 0, SEEK_CUR);
  if (position < 0) return -1;
  return static_cast<std::int64_t>(status.st_size) - position;
}

void close_file(Handle file) { ::close(descriptor_of(file)); }

}  // namespace velnor::platform
