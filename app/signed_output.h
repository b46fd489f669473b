// app/signed_output.h: the tool's main output. The prepared manifest's text
// is signed from memory; the signed message is written to a new file in the
// output's directory (base/file_io.h ReplacementFile), checked there through
// that file's descriptor, and only then put in place of the output path. So
// the output path holds what it held before the run until a whole, checked
// signed message replaces it: every failure (refused, not opened, signing,
// writing, the check) leaves it as it was, absent if it was absent. Failures
// are recorded here; the caller gets only a stage result.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/output_guard.h"
#include "app/signer_choice.h"
#include "base/stage_result.h"
#include "cms/signed_message.h"

namespace xmldoc {
class Attribute;
class Document;
}  // namespace xmldoc

namespace brevick {

// The manifest's XML text, destroying `document` as it is written: the tree
// shrinks while the text grows (xmldoc::WriteReleasing). `capacityHint`
// bytes are reserved first; a generous hint costs address space only (pages
// never written never become resident) and spares a large text the copies of
// growing, each of which holds the old buffer and the new at once.
// `released` is called as parts of the tree go, with the text's size so far.
// Where the value of each of `marked` (attributes of the tree, in document
// order) begins in the text is put in `valueOffsets`, when given.
std::string ManifestText(std::unique_ptr<xmldoc::Document> document, std::size_t capacityHint,
                         const std::function<void(std::size_t)>& released,
                         std::span<const xmldoc::Attribute* const> marked = {},
                         std::vector<std::size_t>* valueOffsets = nullptr);

// Signs the text, writes the signed message, checks it and replaces the
// output with it; returns kGoOn, kOutputNotOpened, kOutputReadWriteFailed,
// kSignatureNotWritten, kSigningFailed or kVerifyFailed. An output path that
// `guard` protects is refused (kOutputNotOpened), and the output's directory
// is opened, before anything is signed: a path that cannot be opened is
// reported first. `textDigest`, when not empty, is the text's digest of
// signer.digest, taken by the caller as the text was made; else it is taken
// here.
StageResult SignAndWriteText(std::string_view xmlText, const std::wstring& outfile,
                             const SignerChoice& signer, const OutputGuard& guard = {},
                             std::span<const std::uint8_t> textDigest = {});

// Writes `text` as it stands to `path`, replacing it whole, for a dry run's
// --text. The guard protects it as it does the output. Returns kGoOn or
// kOutputNotOpened, with the reason recorded.
StageResult WriteTextFile(std::string_view text, const std::wstring& path,
                          const OutputGuard& guard = {});

// Checks that the open file `fd`, read from its first byte, is the message
// just signed: the frame around `xmlText`, its signature over `digestInfo`
// (the text's). Returns kGoOn, kOutputReadWriteFailed or kVerifyFailed, with
// the reason recorded; `outfile` names the file in messages.
StageResult CheckWrittenMessage(const std::wstring& outfile, int fd, std::string_view xmlText,
                                std::span<const std::uint8_t> digestInfo,
                                const SignedMessageFrame& frame);

}  // namespace brevick
