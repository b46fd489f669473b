// app/output_guard.cc: keeping the output off the files a run reads.
#include "app/output_guard.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "base/report.h"

namespace brevick {
namespace {

// Stores hold certificate files, at most one level below a store directory
// that may be a symbolic link; nothing deeper is ever read.
constexpr int kStoreDepth = 2;

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
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

// Whether `path`, with its links resolved, lies inside `directory` (resolved
// too). A path that does not exist is judged by its nearest existing parent.
bool LiesInside(const std::filesystem::path& path, const std::filesystem::path& directory) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::weakly_canonical(directory, error);
  if (error) return false;
  const std::filesystem::path resolved =
      std::filesystem::weakly_canonical(std::filesystem::absolute(path, error), error);
  if (error) return false;
  auto [baseEnd, resolvedAt] =
      std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end());
  return baseEnd == base.end() || (std::next(baseEnd) == base.end() && baseEnd->empty());
}

}  // namespace

std::wstring ProtectedOutputReason(const std::wstring& outfile, const OutputGuard& guard) {
  const std::string path = OpenablePath(outfile);
  const std::optional<FileIdentity> output = IdentityOf(path);
  if (output) {
    if (!guard.inputManifest.empty() && IdentityOf(OpenablePath(guard.inputManifest)) == output)
      return L": it is the input manifest";
    if (std::find(guard.moduleFiles.begin(), guard.moduleFiles.end(), *output) !=
        guard.moduleFiles.end()) {
      return L": it is a module file of this package";
    }
  }
  if (!guard.certStoresDirectory.empty()) {
    const bool inStores = output
                              ? AnyFileBelowIs(guard.certStoresDirectory, *output, kStoreDepth) ||
                                    LiesInside(path, guard.certStoresDirectory)
                              : LiesInside(path, guard.certStoresDirectory);
    if (inStores) return L": it is inside the certificate stores";
  }
  return std::wstring();
}

StageResult RefuseProtectedOutput(const std::wstring& outfile, const OutputGuard& guard) {
  const std::wstring reason = ProtectedOutputReason(outfile, guard);
  if (reason.empty()) return StageResult::kGoOn;
  RecordError(L"Refusing to overwrite " + outfile + reason);
  return StageResult::kOutputNotOpened;
}

}  // namespace brevick
