// app/pipeline.cc: the manifest pipeline.
#include "app/pipeline.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/console_reporter.h"
#include "app/output_guard.h"
#include "app/signed_output.h"
#include "app/signer.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "digest/md2.h"
#include "digest/sha2.h"
#include "manifest/developer_info.h"
#include "manifest/hashing_step.h"
#include "manifest/validation.h"
#include "pki/cert_store.h"
#include "xml/document.h"
#include "xml/exception.h"
#include "xml/parser.h"

namespace brevick {
namespace {

// The signed text is reserved at this multiple of the manifest's size and
// some more: the hashes it gains outweigh the developer attributes it loses,
// and what stays unwritten of the reservation is never made resident.
constexpr std::uint64_t kTextCapacityFactor = 2;
constexpr std::size_t kTextCapacitySlackInBytes = std::size_t{64} << 10;
// How much text is written between two hand-backs of the memory the tree
// freed meanwhile: often enough to keep the peak near the tree's size, seldom
// enough that the walks over the free lists cost nothing noticeable.
constexpr std::size_t kTrimEveryBytes = std::size_t{16} << 20;

bool IsSeparator(wchar_t ch) { return ch == L'/' || ch == L'\\'; }

SignerChoice SignerOf(const RunSettings& settings) {
  SignerChoice signer;
  signer.subject = settings.certSubjectName.value_or(L"");
  signer.storeName = settings.storeName.value_or(L"");
  signer.thumbprint = settings.thumbprint;
  signer.digest = settings.digest;
  signer.strict = settings.strict;
  signer.timestamp = settings.timestamp;
  return signer;
}

// Everything a run does after preparing, but signing and the output: the
// signer is looked up (it must be found, as for a run) and the text goes
// where --text and --print send it.
StageResult DryRun(std::string text, const RunSettings& settings, const OutputGuard& guard,
                   std::string* preparedText) {
  StageResult result = StageResult::kGoOn;
  if (settings.certSubjectName || !settings.thumbprint.empty()) {
    if (!SignerWouldBeChosen(SignerOf(settings))) result = StageResult::kSigningFailed;
  }
  if (settings.textPath) {
    const StageResult written = WriteTextFile(text, *settings.textPath, guard);
    if (written != StageResult::kGoOn) result = written;
  }
  if (settings.printText && preparedText != nullptr) *preparedText = std::move(text);
  return result;
}

// The text, the tree destroyed as it is written, and what it frees handed
// back as the text grows: the tree and the whole text are never held at
// once. The value offsets of `marked` go to `valueOffsets`.
std::string WriteText(std::unique_ptr<xmldoc::Document> document, std::uint64_t manifestSize,
                      std::span<const xmldoc::Attribute* const> marked = {},
                      std::vector<std::size_t>* valueOffsets = nullptr) {
  // What was freed before in small blocks between the tree's: handing the
  // whole free pages back keeps them out of the text's way.
  ::malloc_trim(0);
  std::size_t trimmedAt = 0;
  std::string text = ManifestText(
      std::move(document),
      static_cast<std::size_t>(kTextCapacityFactor * manifestSize) + kTextCapacitySlackInBytes,
      [&trimmedAt](std::size_t written) {
        if (written - trimmedAt < kTrimEveryBytes) return;
        trimmedAt = written;
        ::malloc_trim(0);
      },
      marked, valueOffsets);
  ::malloc_trim(0);
  return text;
}

// The text's digest, taken up to a frontier that the hashing moves forward.
// MD2, one long serial chain, runs on a thread of its own beside the threads
// that read files, or, for a run of one thread (or when no thread can be
// started), on the hashing thread between its results; SHA-2 is quick enough
// to run there always. Destroyed before Finish, it stops as soon as it can
// and its work is lost.
class TextDigest {
 public:
  TextDigest(const std::string& digestedText, DigestAlgorithm algorithm, bool ownThread)
      : text(digestedText), isMd2(algorithm == DigestAlgorithm::kMd2), sha2(algorithm) {
    if (!ownThread || !isMd2) return;
    try {
      thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // Digested on the hashing thread instead.
    }
  }
  ~TextDigest() {
    if (!thread.joinable()) return;
    abandoned.store(true, std::memory_order_relaxed);
    Publish(kClosed);
    thread.join();
  }
  TextDigest(const TextDigest&) = delete;
  TextDigest& operator=(const TextDigest&) = delete;

  // The text is final up to `upTo`. The thread is woken only after a stretch
  // worth the wake-up.
  void Settle(std::size_t upTo) {
    if (!thread.joinable()) {
      Update(settled, upTo);
    } else if (upTo - published >= kWakeEveryBytes) {
      Publish(upTo << 1);
    }
    settled = upTo;
  }
  // The digest of the text settled so far, once the thread is done with it;
  // empty when OpenSSL failed.
  std::vector<std::uint8_t> Finish() {
    if (thread.joinable()) {
      Publish((settled << 1) | kClosed);
      thread.join();
    }
    if (!isMd2) return sha2.Final();
    const Md2Digest digest = md2.Finish();
    return {digest.begin(), digest.end()};
  }

 private:
  static constexpr std::size_t kClosed = 1;  // the low bit of `frontier`
  static constexpr std::size_t kWakeEveryBytes = std::size_t{16} << 10;

  void Update(std::size_t from, std::size_t to) {
    const std::span<const std::uint8_t> bytes = BytesOf(text).subspan(from, to - from);
    if (isMd2) {
      md2.Update(bytes);
    } else {
      sha2.Update(bytes.data(), bytes.size());
    }
  }
  void Publish(std::size_t value) {
    published = value >> 1;
    frontier.store(value, std::memory_order_release);
    frontier.notify_one();
  }
  void Run() {
    std::size_t done = 0;
    for (;;) {
      const std::size_t value = frontier.load(std::memory_order_acquire);
      if (abandoned.load(std::memory_order_relaxed)) return;
      if ((value >> 1) > done) {
        Update(done, value >> 1);
        done = value >> 1;
      } else if ((value & kClosed) != 0) {
        return;
      } else {
        frontier.wait(value, std::memory_order_acquire);
      }
    }
  }

  const std::string& text;
  const bool isMd2;
  Md2 md2;                               // the thread's while it runs
  Sha2 sha2;                             // for the other digests, never on a thread
  std::atomic<std::size_t> frontier{0};  // settled length << 1, kClosed at the end
  std::atomic<bool> abandoned{false};
  std::size_t settled = 0;    // the hashing thread's own
  std::size_t published = 0;  // likewise
  std::thread thread;
};

// Removes the developer attributes, hashes every module file and writes the
// text. With `textDigest` the text is written first, with placeholders where
// the digests go, and its digest (the signing digest, which is also the extra
// file digest) is taken as the hashing settles it, so that a serial MD2 runs
// while files are read instead of after them, and no text is left to write
// once they are; `textDigest` then holds the text's digest. Without it, the
// digests go into the tree and the text is written after.
StageResult PrepareText(std::unique_ptr<xmldoc::Document> document, std::uint64_t manifestSize,
                        const HashSettings& settings, Reporter& reporter, std::string& text,
                        std::vector<std::uint8_t>* textDigest) {
  if (!RemovePackageDeveloperInformation(*document, reporter))
    return StageResult::kManifestRejected;
  if (!RemoveModuleDeveloperInformation(*document, reporter)) return StageResult::kManifestRejected;
  if (textDigest == nullptr) {
    if (const StageResult hashed = GenerateFileHashes(*document, settings, reporter);
        hashed != StageResult::kGoOn)
      return hashed;
    text = WriteText(std::move(document), manifestSize);
    return StageResult::kGoOn;
  }
  // MD2 gets a thread of its own beside every hashing job: taking one of the
  // jobs for it would halve the hashing of large files, whose text is short,
  // to speed up only the text of many small ones.
  const bool ownThread = settings.jobs > 1;
  FileHashPlan plan(*document, settings, reporter, true);
  std::vector<std::size_t> offsets;
  text = WriteText(std::move(document), manifestSize, plan.Placeholders(), &offsets);
  plan.PlaceholdersWritten(std::move(offsets));
  TextDigest digest(text, settings.extraDigest, ownThread);
  const StageResult hashed =
      plan.Hash(&text, [&digest](std::size_t settled) { digest.Settle(settled); });
  if (hashed != StageResult::kGoOn) return hashed;
  *textDigest = digest.Finish();
  return StageResult::kGoOn;
}

}  // namespace

StageResult ProcessManifest(const std::wstring& infile, const std::wstring& outfile,
                            const RunSettings& settings, std::string* preparedText) {
  ProgressLine(L"Reading manifest: " + infile);
  std::uint64_t manifestSize = 0;
  std::unique_ptr<xmldoc::Document> document = ReadManifest(infile, &manifestSize);
  if (!document) return StageResult::kManifestRejected;
  if (document->IsEmpty()) {
    RecordError(L"No nodes found in the XML file.");
    return StageResult::kManifestRejected;
  }
  ConsoleReporter reporter;
  const StageResult validation = ValidateManifest(*document, reporter);
  if (validation != StageResult::kGoOn) return validation;

  // The output must not replace what this run read: the manifest, the module
  // files hashed, the certificate stores.
  OutputGuard guard{infile, {}, CertStoresDirectory()};
  HashSettings hashSettings{ManifestDirectory(infile), settings.rootDirectory, &guard.moduleFiles};
  hashSettings.jobs = settings.jobs.value_or(AvailableCpuCount());
  hashSettings.confinedDirectories = settings.confinedDirectories;
  hashSettings.extraDigest = settings.digest;
  hashSettings.progressDisplay = settings.progressDisplay.value_or(::isatty(STDERR_FILENO) == 1);
  // A run that signs takes the text's digest while files are hashed.
  std::vector<std::uint8_t> textDigest;
  std::string text;
  const StageResult preparation =
      PrepareText(std::move(document), manifestSize, hashSettings, reporter, text,
                  settings.dryRun ? nullptr : &textDigest);
  if (preparation != StageResult::kGoOn) {
    ProgressLine(L"Not generating new manifest due to errors");
    return preparation;
  }
  // What --strict adds: a manifest that breaks a rule is never signed.
  if (settings.strict && ErrorCount() > 0) {
    RecordError(L"Refusing to sign: the manifest breaks the package rules (--strict)");
    ProgressLine(L"Not generating new manifest due to errors");
    return StageResult::kSigningFailed;
  }
  if (!outfile.empty()) ProgressLine(L"Signing and writing manifest: " + outfile);
  if (settings.dryRun) return DryRun(std::move(text), settings, guard, preparedText);
  return SignAndWriteText(text, outfile, SignerOf(settings), guard, textDigest);
}

std::unique_ptr<xmldoc::Document> ReadManifest(const std::wstring& path,
                                               std::uint64_t* sizeInBytes) {
  std::vector<std::uint8_t> buffer;
  const FileResult read = ReadRegularFile(AT_FDCWD, OpenablePath(path), buffer);
  if (!read.opened) {
    RecordError(L"Failed to open " + path + L". " + ToWide(FileErrorText(read.error)));
    return nullptr;
  }
  DebugLine(L"  Length of file: " + std::to_wstring(read.sizeInBytes) + L" bytes");
  if (sizeInBytes != nullptr) *sizeInBytes = read.sizeInBytes;
  if (!read.Ok()) {
    RecordError(ReadErrorMessage(path, read.error));
    return nullptr;
  }

  try {
    std::unique_ptr<xmldoc::Document> document =
        xmldoc::Parser().Parse(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    return document;
  } catch (const xmldoc::ParsingException& e) {
    RecordError(L"XML parse error in file " + path + L" [" + ToWide(e.GetErrorText()) + L"]");
  }
  return nullptr;
}

std::wstring ManifestDirectory(const std::wstring& path) {
  std::size_t last = path.size();
  while (last > 0 && IsSeparator(path[last - 1])) --last;
  // `last` is now one past the last character that is not a trailing separator.
  std::size_t cut = last;
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0) return std::wstring();
  std::size_t separator = cut - 1;
  if (separator > 0 && path[separator - 1] == L'\\') --separator;
  return path.substr(0, separator);
}

}  // namespace brevick
