// verify/replace_file.cc
#include "verify/replace_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_io.h"

namespace brevick {
namespace {

int WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(count);
  }
  return 0;
}

// The mode a plainly created file would get: 0666 less the umask.
mode_t CreationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

int ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
  if (path.empty()) return ENOENT;
  const std::size_t slash = path.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return EISDIR;
  std::string temporary = directory + "/." + name + ".brevick-XXXXXX";
  FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.Get() < 0) return errno;
  int error = WriteAll(file.Get(), bytes);
  if (error == 0 && ::fchmod(file.Get(), CreationMode()) != 0) error = errno;
  if (error == 0 && ::fsync(file.Get()) != 0) error = errno;
  if (error == 0) error = file.Close();
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  // The rename itself is only durable once the directory is flushed too.
  const FileDescriptor directoryFd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directoryFd.Get() >= 0) ::fsync(directoryFd.Get());
  return 0;
}

}  // namespace brevick
