// app/file_io.cc
#include "app/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/utf8.h"

namespace brevick {

int OpenForReading(const std::wstring& path) {
  std::string native = ToUtf8(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  // O_NONBLOCK keeps a FIFO without a writer from hanging the run at open;
  // it is cleared again so that reading waits for data like any reader.
  int fd;
  do {
    fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

bool ReadAll(int fd, bool regularFile, std::size_t expectedBytes, std::vector<char>& bytes) {
  constexpr std::size_t kChunk = 1 << 16;
  bytes.resize(regularFile ? expectedBytes : kChunk);
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      // A regular file may have grown since its size was taken; what was
      // there at the start is what the run works on.
      if (regularFile) break;
      bytes.resize(bytes.size() * 2);
    }
    const ssize_t n = read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  return true;
}

std::wstring PlatformErrorText(int error) {
  std::wstring text = ToWide(std::strerror(error));
  if (text.size() > 1023) text.resize(1023);
  return text;
}

}  // namespace brevick
