// The --add-timestamp mode: read, check, stamp, check again, replace. The
// file is replaced only by a message that verifies with the same content and
// signature and whose new token holds, so a failure at any step leaves the
// release exactly as it was. Tested by tests/app/timestamp_test.cc.
#include "app/add_timestamp.h"

#include <algorithm>
#include <optional>

#include "app/run.h"
#include "app/timestamping.h"
#include "app/verify_mode.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "cms/timestamp_token.h"
#include "pki/certificate_info.h"
#include "pki/crypto_result.h"
#include "pki/openssl_handles.h"

namespace brevick {
namespace {

constexpr const wchar_t* kAddTimestampUsage[] = {
    L"usage: brevick --add-timestamp SIGNED --timestamp URL... [--timestamp-digest NAME]",
    L"                               [--timestamp-retries N] [--timestamp-wait SECONDS]",
    L"                               [--timestamp-timeout SECONDS]",
};

struct AddTimestampCommandLine {
  std::optional<std::wstring> signedPath;
  TimestampSettings timestamp;
  std::vector<std::wstring> errors;
};

AddTimestampCommandLine ParseAddTimestampArguments(const std::vector<std::wstring>& args) {
  AddTimestampCommandLine result;
  bool modeSeen = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg == L"--add-timestamp" && !modeSeen) {
      modeSeen = true;
    } else if (IsTimestampOption(arg)) {
      if (i + 1 == args.size()) {
        result.errors.push_back(arg + L" needs a value");
        break;
      }
      if (std::optional<std::wstring> error =
              ApplyTimestampOption(arg, args[++i], result.timestamp)) {
        result.errors.push_back(std::move(*error));
      }
    } else if (arg.starts_with(L"--")) {
      result.errors.push_back(L"unknown option for --add-timestamp: " + arg);
    } else if (result.signedPath) {
      result.errors.push_back(L"unexpected argument: " + arg);
    } else {
      result.signedPath = arg;
    }
  }
  if (!result.signedPath) result.errors.push_back(L"--add-timestamp needs SIGNED");
  if (!result.timestamp.Wanted()) result.errors.push_back(L"--add-timestamp needs --timestamp URL");
  return result;
}

// The message as it stands: its content and its signer, or why it cannot
// take a timestamp.
struct StampableMessage {
  std::vector<std::uint8_t> content;
  SignerTimestamps signer;
};

std::optional<std::wstring> CannotStamp(std::span<const std::uint8_t> message,
                                        StampableMessage& found) {
  const OpenSslErrorScope errorScope;
  const CryptoResult code = VerifySignedMessage(message, found.content);
  if (code != CryptoResult::kOk)
    return L"is not a valid signed manifest: " + ToWide(CryptoErrorText(code));
  std::optional<SignerTimestamps> signer = ReadSignerTimestamps(message);
  if (!signer) return L"is not a valid signed manifest";
  if (!signer->tokens.empty()) return L"already has a timestamp";
  if (signer->hasUnsignedAttributes) return L"has unsigned attributes already";
  found.signer = std::move(*signer);
  return std::nullopt;
}

// Whether the stamped message is the old one plus the token already checked:
// the same content under a signature that holds, and exactly that token
// over exactly the old signature value, so its check stands for it.
bool StampedMessageHolds(std::span<const std::uint8_t> stamped, const StampableMessage& old,
                         std::span<const std::uint8_t> token) {
  const OpenSslErrorScope errorScope;
  std::vector<std::uint8_t> carried;
  if (VerifySignedMessage(stamped, carried) != CryptoResult::kOk || carried != old.content)
    return false;
  const std::optional<SignerTimestamps> signer = ReadSignerTimestamps(stamped);
  return signer && signer->signatureValue == old.signer.signatureValue &&
         signer->tokens.size() == 1 &&
         std::equal(token.begin(), token.end(), signer->tokens[0].begin(), signer->tokens[0].end());
}

int Fail(const std::wstring& path, const std::wstring& why) {
  NoticeLine(L"--add-timestamp: " + path + L" " + why);
  return kExitFailure;
}

}  // namespace

int RunAddTimestampMode(const std::vector<std::wstring>& args) {
  const AddTimestampCommandLine commandLine = ParseAddTimestampArguments(args);
  if (!commandLine.errors.empty()) {
    for (const std::wstring& error : commandLine.errors) NoticeLine(error);
    for (const wchar_t* line : kAddTimestampUsage) NoticeLine(line);
    return kExitVerifyUsage;
  }
  const std::wstring& path = *commandLine.signedPath;
  std::vector<std::uint8_t> message;
  if (const FileResult read = ReadRegularFile(AT_FDCWD, OpenablePath(path), message); !read.Ok())
    return Fail(path, L"cannot be read: " + ToWide(FileErrorText(read.error)));
  StampableMessage old;
  if (const std::optional<std::wstring> why = CannotStamp(message, old)) return Fail(path, *why);

  std::string failure;
  TimestampToken added;
  const std::optional<std::vector<std::uint8_t>> token =
      FetchTimestampToken(old.signer.signatureValue, commandLine.timestamp, failure, &added);
  if (!token) return Fail(path, L"was left as it was: no time-stamp authority gave a valid token");
  const std::optional<std::vector<std::uint8_t>> stamped = WithTimestampToken(message, *token);
  if (!stamped || !StampedMessageHolds(*stamped, old, *token))
    return Fail(path, L"was left as it was: the stamped message does not verify");
  if (const FileResult written = ReplaceFile(OpenablePath(path), *stamped); !written.Ok())
    return Fail(path, L"cannot be replaced: " + ToWide(FileErrorText(written.error)));

  WriteLineUtf8("Timestamp: " + added.timeText + " by " +
                DescribeCertificate(added.tsaCertificate.get()).subject);
  return kExitSuccess;
}

}  // namespace brevick
