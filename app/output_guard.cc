// app/output_guard.cc: keeping the output off the files a run reads.
#include "app/output_guard.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "base/file_io.h"
#include "base/report.h"

namespace brevick {
namespace {

// Stores hold certificate files, at most one level below a store directory
// that may be a symbolic link; nothing deeper is ever read.
constexpr int kStoreDepth = 2;
// No real directory lies deeper than this; a loop of mounts ends here.
constexpr int kMaxDirectoryDepth = 4096;

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

std::optional<FileIdentity> IdentityAt(int directoryFd, const char* name) {
  struct stat status {};
  if (::fstatat(directoryFd, name, &status, 0) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

bool AnyFileBelowIs(const std::filesystem::path& directory, const FileIdentity& wanted, int depth) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    const std::string path = it->path().string();
    if (IdentityOf(path) == wanted) return true;
    if (depth > 1 && it->is_directory(error) && AnyFileBelowIs(it->path(), wanted, depth - 1))
      return true;
  }
  return false;
}

// The stores directory and every store in it, links followed.
std::vector<FileIdentity> StoreDirectories(const std::string& storesDirectory) {
  std::vector<FileIdentity> identities;
  const std::optional<FileIdentity> stores = IdentityOf(storesDirectory);
  if (!stores) return identities;
  identities.push_back(*stores);
  std::error_code error;
  for (std::filesystem::directory_iterator it(storesDirectory, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_directory(error)) continue;
    if (const std::optional<FileIdentity> store = IdentityOf(it->path().string()))
      identities.push_back(*store);
  }
  return identities;
}

// Walks from the open directory up to the root through "..", never by name.
bool DirectoryLiesInside(int directoryFd, const std::vector<FileIdentity>& protectedDirectories) {
  FileDescriptor current(::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::optional<FileIdentity> here = IdentityAt(current.Get(), ".");
  for (int depth = 0; here && depth < kMaxDirectoryDepth; ++depth) {
    if (std::find(protectedDirectories.begin(), protectedDirectories.end(), *here) !=
        protectedDirectories.end())
      return true;
    FileDescriptor parent(::openat(current.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::optional<FileIdentity> above = IdentityAt(parent.Get(), ".");
    if (!above || *above == *here) return false;  // the root is its own parent
    current.Reset(parent.Release());
    here = above;
  }
  return false;
}

}  // namespace

std::wstring ProtectedOutputReason(int directoryFd, const std::string& name,
                                   const OutputGuard& guard) {
  const std::optional<FileIdentity> output = IdentityAt(directoryFd, name.c_str());
  if (output) {
    if (!guard.inputManifest.empty() && IdentityOf(OpenablePath(guard.inputManifest)) == output)
      return L": it is the input manifest";
    if (std::find(guard.moduleFiles.begin(), guard.moduleFiles.end(), *output) !=
        guard.moduleFiles.end()) {
      return L": it is a module file of this package";
    }
  }
  if (!guard.certStoresDirectory.empty()) {
    const bool inStores =
        (output && AnyFileBelowIs(guard.certStoresDirectory, *output, kStoreDepth)) ||
        DirectoryLiesInside(directoryFd, StoreDirectories(guard.certStoresDirectory));
    if (inStores) return L": it is inside the certificate stores";
  }
  return std::wstring();
}

StageResult RefuseProtectedOutput(const std::wstring& outfile, const ReplacementFile& target,
                                  const OutputGuard& guard) {
  const std::wstring reason = ProtectedOutputReason(target.DirectoryFd(), target.Name(), guard);
  if (reason.empty()) return StageResult::kGoOn;
  RecordError(L"Refusing to overwrite " + outfile + reason);
  return StageResult::kOutputNotOpened;
}

}  // namespace brevick
