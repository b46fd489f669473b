// signing/file_io.h: whole-file reads and writes with POSIX calls, shared by
// the signed output and the certificate stores. They report by result, with
// the errno of the call that failed; nothing is recorded here.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brevick {

// Byte blocks travel with a 32-bit length, so no file or block may be larger.
inline constexpr std::uint64_t kMaxBlockSizeInBytes = 0xFFFFFFFFu;

// Stands in for an errno when a path names something that is not a regular
// file (a FIFO, a device, a socket): reading one could wait for ever.
inline constexpr int kNotRegularFile = -1;

struct FileResult {
  int error = 0;        // 0, an errno value, or kNotRegularFile
  bool opened = false;  // whether the failure came after a successful open
  bool Ok() const { return error == 0; }
};

// strerror for an errno value; "Not a regular file" for kNotRegularFile.
std::string FileErrorText(int error);

// The UTF-8 path that POSIX calls open for a path as the manifest spells it:
// each backslash becomes a slash.
std::string OpenablePath(std::wstring_view path);

// Reads a whole regular file, relative to dirFd (AT_FDCWD for the working
// directory). A directory fails to open with EISDIR; a file beyond
// kMaxBlockSizeInBytes fails after opening with EFBIG. Never blocks on a FIFO.
FileResult ReadRegularFile(int dirFd, const std::string& path, std::vector<std::uint8_t>& bytes);

// Creates or empties the file and writes all bytes. When writing or closing
// fails after the open, the file is emptied again (best effort) so that no
// half-written block is mistaken for a whole one.
FileResult WriteRegularFile(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace brevick
