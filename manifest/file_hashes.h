// manifest/file_hashes.h: the MD5 digest of every module file, stored in its
// dependency's `md5` element, and the removal of the build-only `signInfo`.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/stage_result.h"
#include "manifest/md5.h"

namespace xmldoc {
class Document;
}

namespace brevick {

// Where module files are found.
struct HashSettings {
  std::wstring manifestDirectory;  // the base of a module's subPath
  std::wstring rootDirectory;      // what %SourceRoot% in a signInfo path stands for
  // When given, every file hashed is added, so that the output can be kept
  // from replacing one of them.
  std::vector<FileIdentity>* hashedFiles = nullptr;
};

// Files are read through one buffer of this size, whatever their length.
inline constexpr std::size_t kHashReadBlockSizeInBytes = 10000;

// For every dependency of every element child of `modules`: finds the file
// (through `signInfo`'s `path`, or the manifest directory and the module's
// `subPath`), removes the first `signInfo`, and writes "0x" + the digest into
// the `md5` element's `value` when there is an `md5` element. Adds an empty
// `subPath` to modules and an empty `dependencies` where they are absent.
// Each file that cannot be hashed is recorded; returns StageResult::kGoOn when every
// file was hashed, else StageResult::kHashingFailed. Expects a validated document.
StageResult GenerateFileHashes(xmldoc::Document& document, const HashSettings& settings);

// The MD5 of the file's whole content, or nothing when it cannot be opened or
// read. Each `\` in the path is read as `/`. Only regular files are read: a
// FIFO, a device or a directory fails at once instead of blocking the run or
// hashing an endless stream.
std::optional<Md5Digest> ComputeFileMd5(const std::wstring& path, FileIdentity* identity = nullptr);

// The 32 lowercase hexadecimal digits of the digest, high nibble first; the
// caller puts "0x" in front.
std::string DigestToText(const Md5Digest& digest);

}  // namespace brevick
