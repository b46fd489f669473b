// base/file_io.h: file access with POSIX calls, shared by the pipeline, file
// hashing, the signed output and the certificate stores. Everything reports by
// result, with the errno of the call that failed; nothing is recorded here.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brevick {

// A text's bytes as the file and digest calls take them.
inline std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Byte blocks travel with a 32-bit length, so no file or block may be larger.
inline constexpr std::uint64_t kMaxBlockSizeInBytes = 0xFFFFFFFFu;

// Stands in for an errno when a path names something that is not a regular
// file (a FIFO, a device, a socket): reading one could wait for ever.
inline constexpr int kNotRegularFile = -1;

// A file as the system knows it, whatever path or link leads to it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct FileResult {
  int error = 0;                  // 0, an errno value, or kNotRegularFile
  bool opened = false;            // whether the failure came after a successful open
  std::uint64_t sizeInBytes = 0;  // the file's size when it was opened
  FileIdentity identity;          // of the file opened, when it opened
  bool Ok() const { return error == 0; }
};

// Owns a descriptor and closes it on every path out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor = -1) : fd(descriptor) {}
  ~FileDescriptor();
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return fd; }
  // Returns 0 or the errno of close; the descriptor is gone either way
  // (retrying close after EINTR could close a descriptor reused meanwhile).
  int Close();
  void Reset(int newFd);
  // Hands the descriptor over to the caller, who closes it.
  int Release() {
    const int released = fd;
    fd = -1;
    return released;
  }

 private:
  int fd;
};

// strerror for an errno value; "Not a regular file" for kNotRegularFile.
std::string FileErrorText(int error);

// "Error reading in the file <path> [<error text>]": the one message for a file
// that opened but could not be read, for the manifest and the output alike.
std::wstring ReadErrorMessage(const std::wstring& path, int error);

// The bytes that POSIX calls open for a path as the manifest spells it: each
// backslash becomes a slash, and what stood for bytes of a command-line
// argument that were not UTF-8 becomes those bytes again (ToPathBytes).
std::string OpenablePath(std::wstring_view path);

// What tells a change of a file's content without reading it again: its
// size and its modification time, to the nanosecond.
struct FileStamp {
  std::uint64_t sizeInBytes = 0;
  std::int64_t modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};

// Opens a regular file for reading, relative to dirFd (AT_FDCWD for the
// working directory), without ever waiting on a FIFO. A directory fails with
// EISDIR, anything else that is not a regular file with kNotRegularFile; the
// size is filled in on success, and `stamp`, when given, too.
FileResult OpenRegularFile(int dirFd, const std::string& path, FileDescriptor& file,
                           FileStamp* stamp = nullptr);

// OpenRegularFile for a relative path that must stay beneath the directory
// open as `dirFd`: a "..", an absolute path or a symbolic link that leads
// out of it (or any /proc magic link) fails with EXDEV before anything out
// there is opened, so the check and the open are one step that no link
// swapped meanwhile can get round. Where the kernel lacks openat2 the path
// is walked one name at a time without following any symbolic link.
FileResult OpenRegularFileBeneath(int dirFd, const std::string& relativePath, FileDescriptor& file,
                                  FileStamp* stamp = nullptr);
// The walk alone, as kernels without openat2 take it; for tests on kernels
// that have it. A symbolic link anywhere on the way is EXDEV.
FileResult OpenRegularFileBeneathByWalk(int dirFd, const std::string& relativePath,
                                        FileDescriptor& file);

// The stamp of an open file: 0, or the errno of fstat.
int ReadFileStamp(int fd, FileStamp& stamp);

// Tells the kernel the file will be read once from start to end, so that it
// reads ahead in large steps. Advice only: a failure changes nothing.
void AdviseSequentialRead(int fd);

// Reads until `buffer` is full or the file ends, retrying EINTR and short
// reads. Returns the byte count, or -1 with errno set.
ssize_t ReadFully(int fd, std::uint8_t* buffer, std::size_t sizeInBytes);

// Reads a whole regular file, relative to dirFd (AT_FDCWD for the working
// directory). A directory fails to open with EISDIR; a file beyond
// `maxSizeInBytes` fails after opening with EFBIG, before any of it is read.
// Never blocks on a FIFO. The bytes are read into one block of the file's
// size, never copied.
FileResult ReadRegularFile(int dirFd, const std::string& path, std::vector<std::uint8_t>& bytes,
                           std::uint64_t maxSizeInBytes = kMaxBlockSizeInBytes);

// The first line of a small text file (a PIN file), without its line end
// (LF or CRLF), reading no more than `maxLineBytes` + 1 bytes of it however
// large it is. A first line longer than that fails with EFBIG.
FileResult ReadFirstLine(const std::string& path, std::size_t maxLineBytes, std::string& line);

// A file that takes the place of `path` only once it is whole. The path's
// directory is opened once, and the check of what stands there, the new
// file, its name and the rename all go through that one descriptor, so a
// directory swapped meanwhile cannot redirect the write. The new file is
// unnamed (O_TMPFILE) where the file system allows it, so a kill leaves
// nothing behind; it is linked in as ".<name>.brevick-XXXXXX" just before
// the rename. Where O_TMPFILE is refused it is created under that name at
// once, and removed again on SIGINT, SIGTERM and SIGHUP. Unless committed,
// the new file is discarded when the object goes; the path is never touched.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Opens the directory that `path` names its file in; 0 or an errno.
  int OpenDirectory(const std::string& path);
  // Creates the new file, after checking what stands at the path: a
  // directory fails with EISDIR, any other file that is not regular (a
  // device, a FIFO) with kNotRegularFile, since a rename would destroy it.
  // A symbolic link there is replaced, never followed; the mode of a
  // regular file is kept. 0 or an errno.
  int Create();
  // Writes the pieces one after the other and flushes them to disk.
  int Write(std::span<const std::span<const std::uint8_t>> pieces);
  // Renames the file over the path and flushes the directory.
  int Commit();

  int DirectoryFd() const { return directory.Get(); }
  const std::string& Name() const { return name; }
  // The new file, open for reading and writing.
  int Fd() const { return file.Get(); }

 private:
  int LinkUnderTemporaryName();

  FileDescriptor directory;
  FileDescriptor file;
  std::string directoryPath;
  std::string name;           // of the output, inside `directory`
  std::string temporaryName;  // empty while the new file has none
  bool committed = false;
};

// Makes O_TMPFILE look refused, so that tests reach the named fallback on
// any file system.
void UseNamedTemporaryFilesOnly();

// Replaces the file at `path` as a whole with `bytes` through a
// ReplacementFile. `opened` is false when the new file could not be created
// (nothing happened), true when writing, flushing or renaming failed after.
FileResult ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes);
// The same for a file made of `pieces` one after the other, so that a caller
// need not join them in memory first.
FileResult ReplaceFile(const std::string& path,
                       std::span<const std::span<const std::uint8_t>> pieces);

// Reads all of an open file from its first byte, however far it was read or
// written before. 0 or an errno.
int ReadAllFrom(int fd, std::vector<std::uint8_t>& bytes);

// The name of the file ReplaceFile writes before renaming it: the output name
// behind a dot, cut short where needed to fit a file name, then
// ".brevick-" and `suffix`.
std::string ReplacementFileName(std::string_view outputName, std::string_view suffix);

}  // namespace brevick
