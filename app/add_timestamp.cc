// The --add-timestamp mode: read, check, stamp, check again, replace. The
// file is replaced only by a message that verifies with the same content and
// signature and whose new token holds, so a failure at any step leaves the
// release exactly as it was. Tested by tests/app/timestamp_test.cc.
#include "app/add_timestamp.h"

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

// Why `message` cannot take a timestamp; nothing when it can.
std::optional<std::wstring> CannotStamp(std::span<const std::uint8_t> message,
                                        std::vector<std::uint8_t>& content) {
  const OpenSslErrorScope errorScope;
  const CryptoResult code = VerifySignedMessage(message, content);
  if (code != CryptoResult::kOk)
    return L"is not a valid signed manifest: " + ToWide(CryptoErrorText(code));
  const std::optional<SignerTimestamps> signer = ReadSignerTimestamps(message);
  if (!signer) return L"is not a valid signed manifest";
  if (!signer->tokens.empty()) return L"already has a timestamp";
  if (signer->hasUnsignedAttributes) return L"has unsigned attributes already";
  return std::nullopt;
}

// Whether the stamped message is the old one plus a token that holds.
bool StampedMessageHolds(std::span<const std::uint8_t> stamped,
                         std::span<const std::uint8_t> content) {
  const OpenSslErrorScope errorScope;
  std::vector<std::uint8_t> carried;
  return VerifySignedMessage(stamped, carried) == CryptoResult::kOk &&
         carried.size() == content.size() &&
         std::equal(carried.begin(), carried.end(), content.begin());
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
  std::vector<std::uint8_t> content;
  if (const std::optional<std::wstring> why = CannotStamp(message, content))
    return Fail(path, *why);

  const std::optional<SignerTimestamps> signer = ReadSignerTimestamps(message);
  std::string failure;
  const std::optional<std::vector<std::uint8_t>> token =
      FetchTimestampToken(signer->signatureValue, commandLine.timestamp, failure);
  if (!token) return Fail(path, L"was left as it was: no time-stamp authority gave a valid token");
  const std::optional<std::vector<std::uint8_t>> stamped = WithTimestampToken(message, *token);
  if (!stamped || !StampedMessageHolds(*stamped, content) || TimestampProblem(*stamped))
    return Fail(path, L"was left as it was: the stamped message does not verify");
  if (const FileResult written = ReplaceFile(OpenablePath(path), *stamped); !written.Ok())
    return Fail(path, L"cannot be replaced: " + ToWide(FileErrorText(written.error)));

  const TimestampToken added = CheckTimestampToken(*token, signer->signatureValue);
  WriteLineUtf8("Timestamp: " + added.timeText + " by " +
                DescribeCertificate(added.tsaCertificate.get()).subject);
  return kExitSuccess;
}

}  // namespace brevick
