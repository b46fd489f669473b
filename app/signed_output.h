// app/signed_output.h: the tool's main output. The prepared manifest is
// written as XML text, signed from memory, written over with the signed
// message and verified against the text signed. Every write replaces the
// output path as a whole (base/file_io.h ReplaceFile), so the path holds its
// old content, the whole text or the whole message, never a part. Failures
// are recorded here; the caller gets only a stage result. What stands at the
// output path after a failure:
//   refused, or the text cannot be written         what stood there before
//   signing, or writing the signed message, fails  the unsigned text
//   verifying fails                                the signed message (or
//                                                  what replaced it meanwhile)
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/output_guard.h"
#include "app/signer_choice.h"
#include "base/stage_result.h"
#include "cms/signed_message.h"

namespace xmldoc {
class Document;
}

namespace brevick {

// The manifest's XML text, destroying `document` as it is written: the tree
// shrinks while the text grows (xmldoc::WriteReleasing). `capacityHint`
// bytes are reserved first; a generous hint costs address space only (pages
// never written never become resident) and spares a large text the copies of
// growing, each of which holds the old buffer and the new at once.
// `released` is called as parts of the tree go, with the text's size so far.
std::string ManifestText(std::unique_ptr<xmldoc::Document> document, std::size_t capacityHint,
                         const std::function<void(std::size_t)>& released);

// Writes the text, signs it from memory, writes the signed message over it
// and verifies it; returns kGoOn, kOutputNotOpened, kOutputReadWriteFailed,
// kSignatureNotWritten, kSigningFailed or kVerifyFailed. An output path that
// `guard` protects is refused (kOutputNotOpened) before anything is written.
StageResult SignAndWriteText(std::string_view xmlText, const std::wstring& outfile,
                             const SignerChoice& signer, const OutputGuard& guard = {});

// Reads the output back and checks that it is the message just signed: the
// frame around `xmlText`, its signature over `digestInfo` (the text's).
// Whatever replaced the file meanwhile fails here instead of being taken
// for the release. Returns kGoOn, kOutputNotOpened, kOutputReadWriteFailed
// or kVerifyFailed, with the reason recorded.
StageResult VerifyWrittenMessage(const std::wstring& path, std::string_view xmlText,
                                 std::span<const std::uint8_t> digestInfo,
                                 const SignedMessageFrame& frame);

}  // namespace brevick
