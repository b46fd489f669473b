// manifest/hashing_step.h: the manifest's hashing step: the MD5 digest of
// every module file (read by manifest/file_hasher) stored in its dependency's
// `md5` element, and the removal of the build-only `signInfo`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/stage_result.h"
#include "digest/digest_algorithm.h"
#include "digest/md5.h"
#include "manifest/file_hasher.h"

namespace xmldoc {
class Attribute;
class Document;
class Element;
}  // namespace xmldoc

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

// GenerateFileHashes in two halves around the writing of the manifest's text,
// so that the text exists, and can be digested, while its files are hashed:
// the walk plans every file and gives each value that a digest will fill (the
// `md5` value, and the extra digest's) a placeholder of the digest's width;
// the text is written; the hashing then writes each digest over its
// placeholder in the text. Lines and errors are those of GenerateFileHashes,
// in the same order, and so is the text once every file is hashed.
class FileHashPlan {
 public:
  // Says that hashing begins, walks and edits the tree and plans every file,
  // telling `told` everything. With `withPlaceholders`, the extra digest's
  // element of a file to hash is added (or found) now, its placeholder beside
  // the md5 value's.
  FileHashPlan(xmldoc::Document& document, HashSettings hashSettings, Reporter& told,
               bool withPlaceholders);

  // The attributes holding a placeholder, in document order: the writer's
  // marked attributes.
  std::span<const xmldoc::Attribute* const> Placeholders() const { return placeholders; }
  // Where the written text holds each placeholder's value, in the same order.
  // Drops every pointer into the tree, which may then go.
  void PlaceholdersWritten(std::vector<std::size_t> offsets);

  // Hashes every file; each digest goes over its placeholder in `text`, or,
  // for a plan without placeholders, into the tree. `settled`, when set, is
  // called on this thread with the length of the text's beginning that has no
  // placeholder left, each time it grows, the whole length last; never once a
  // file fails. kGoOn when every file was hashed, else kHashingFailed.
  StageResult Hash(std::string* text, const std::function<void(std::size_t)>& settled = {});

 private:
  // What messages and the hasher need of a file, kept small: its path is
  // built again from the two when needed, since the plan lives beside the
  // whole text.
  struct File {
    xmldoc::Element* dependency;  // none once the text is written
    std::string name;             // the `file` attribute
    std::size_t base;             // index of its directory in `bases`
    std::wstring_view refusal;    // why it is not opened (a fixed text); empty when hashed
    bool placeholder;             // whether its digests' values are among `placeholders`
    bool extraFirst;              // whether the extra digest's placeholder comes first
  };
  struct Module {
    std::string name;       // as written in the manifest
    std::size_t fileCount;  // its files, the next ones in `files`
  };
  void Plan(xmldoc::Document& document, bool withPlaceholders);
  bool AddPlaceholders(xmldoc::Element& dependency, xmldoc::Element& md5);
  // Reports the file's outcome in its place and stores its digests; false
  // when it could not be hashed.
  bool Record(const File& file, const std::optional<FileDigests>& digests, std::string* text);
  // The path as messages give it.
  std::wstring PathOf(const File& file) const;

  HashSettings settings;
  Reporter& reporter;
  std::vector<Module> modules;
  std::vector<File> files;          // every module's, in document order
  std::vector<std::wstring> bases;  // the directories of files, each once in a row
  std::vector<const xmldoc::Attribute*> placeholders;
  std::vector<std::size_t> placeholderOffsets;  // ascending, one per placeholder
  std::size_t filled = 0;                       // placeholders given their digest
};

// Lowercase hexadecimal digits of the bytes, high nibble first; the caller
// puts "0x" in front.
inline std::string DigestToText(const Md5Digest& digest) { return HexText(digest); }

}  // namespace brevick
