// app/file_io.h: reading a whole input file with POSIX calls.
#pragma once

#include <string>
#include <vector>

namespace brevick {

// Opens `path` as stored (each `\` read as `/`, since manifests come from
// Windows) for reading. Returns -1 with errno set on failure. A FIFO or other
// special file opens without waiting for a writer.
int OpenForReading(const std::wstring& path);

// Reads everything from `fd` into `bytes`: exactly `expectedBytes` for a regular
// file (fewer if it shrinks meanwhile), up to the end for anything else.
// False with errno set on a read error (reading a directory gives EISDIR).
bool ReadAll(int fd, bool regularFile, std::size_t expectedBytes, std::vector<char>& bytes);

// strerror(errno) as wide text, at most 1023 characters.
std::wstring PlatformErrorText(int error);

}  // namespace brevick
