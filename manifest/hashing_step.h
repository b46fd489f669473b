// manifest/hashing_step.h: the manifest's hashing step: the MD5 digest of
// every module file (read by manifest/file_hasher) stored in its dependency's
// `md5` element, and the removal of the build-only `signInfo`.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/stage_result.h"
#include "digest/digest_algorithm.h"
#include "digest/md5.h"
#include "manifest/file_hasher.h"

namespace xmldoc {
class Document;
}

namespace brevick {

class Reporter;

// Where module files are found and how they are hashed.
struct HashSettings {
  std::wstring manifestDirectory;  // the base of a module's subPath
  std::wstring rootDirectory;      // what %SourceRoot% in a signInfo path stands for
  // When given, every file hashed is added, so that the output can be kept
  // from replacing one of them.
  std::vector<FileIdentity>* hashedFiles = nullptr;
  // Files hashed at once; 1 hashes one file after the other.
  int jobs = 1;
  // Real paths of the directories every module file must resolve inside;
  // empty: anywhere.
  std::vector<std::string> confinedDirectories = {};
  // A digest stored beside each md5 value; kMd2 stores none.
  DigestAlgorithm extraDigest = DigestAlgorithm::kMd2;
  // Whether the reporter is told the live hashing counts for its display.
  bool progressDisplay = false;
  // For tests: called by the workers after each block of a file is read.
  std::function<void(std::uint64_t)> afterBlock = {};
};

// For every dependency of every element child of `modules`: finds the file
// (through `signInfo`'s `path`, or the manifest directory and the module's
// `subPath`), removes the first `signInfo`, and writes "0x" + the digest into
// the `md5` element's `value` when there is an `md5` element; with an extra
// digest, its value goes into the element of that name right after `md5`
// (updated when the dependency has one, else added). Adds an empty `subPath`
// to modules and an empty `dependencies` where they are absent.
//
// A path that the written manifest would spell differently (blanks the writer
// collapses; bytes above ASCII in a manifest that is not UTF-8) is refused
// before its file is opened. Files are hashed on `jobs` threads, but every
// line and error comes out exactly as one file after the other gives them.
// Each file that cannot be hashed is recorded; returns StageResult::kGoOn when
// every file was hashed, else StageResult::kHashingFailed. Expects a
// validated document.
StageResult GenerateFileHashes(xmldoc::Document& document, const HashSettings& settings,
                               Reporter& reporter);

// Lowercase hexadecimal digits of the bytes, high nibble first; the caller
// puts "0x" in front.
inline std::string DigestToText(const Md5Digest& digest) { return HexText(digest); }

}  // namespace brevick
