// verify/package_hashes.cc: sequential hashing through one large buffer.
#include "verify/package_hashes.h"

#include <fcntl.h>

#include <memory>
#include <optional>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "manifest/md5.h"
#include "signing/evp_digest.h"

namespace brevick {
namespace {

// Large reads keep the system-call count low for big module files.
constexpr std::size_t kReadBlockSizeInBytes = 1 << 20;

constexpr const char* kEvpNames[] = {nullptr, "SHA256", "SHA384", "SHA512"};
static_assert(std::size(kEvpNames) == static_cast<std::size_t>(DigestKind::kCount));

void HashOne(PackageFileHash& file, std::uint8_t* buffer) {
  FileDescriptor descriptor;
  const FileResult opened = OpenRegularFile(AT_FDCWD, file.path, descriptor);
  if (!opened.Ok()) {
    file.error = opened.error;
    return;
  }
  const bool wantMd5 = file.wanted[static_cast<std::size_t>(DigestKind::kMd5)];
  std::optional<Md5> md5;
  if (wantMd5) md5.emplace();
  std::optional<EvpDigest> sha[std::size(kEvpNames)];
  bool any = wantMd5;
  for (std::size_t kind = 1; kind < std::size(kEvpNames); ++kind) {
    if (!file.wanted[kind]) continue;
    sha[kind] = EvpDigest::Create(kEvpNames[kind]);
    if (!sha[kind]) {
      file.error = ENOSYS;
      return;
    }
    any = true;
  }
  if (!any) return;
  ::posix_fadvise(descriptor.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  for (;;) {
    const ssize_t count = ReadFully(descriptor.Get(), buffer, kReadBlockSizeInBytes);
    if (count < 0) {
      file.error = errno;
      return;
    }
    const auto size = static_cast<std::size_t>(count);
    if (md5) md5->Update(buffer, size);
    for (auto& digest : sha) {
      if (digest && !digest->Update(buffer, size)) {
        file.error = EIO;
        return;
      }
    }
    if (size < kReadBlockSizeInBytes) break;
  }
  if (md5) {
    const Md5Digest digest = md5->Final();
    file.hex[static_cast<std::size_t>(DigestKind::kMd5)] = HexText(digest);
  }
  for (std::size_t kind = 1; kind < std::size(kEvpNames); ++kind) {
    if (!sha[kind]) continue;
    const std::vector<std::uint8_t> digest = sha[kind]->Final();
    if (digest.empty()) {
      file.error = EIO;
      return;
    }
    file.hex[kind] = HexText(digest);
  }
}

}  // namespace

void HashPackageFiles(std::vector<PackageFileHash>& files) {
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kReadBlockSizeInBytes]);
  for (PackageFileHash& file : files) HashOne(file, buffer.get());
}

}  // namespace brevick
