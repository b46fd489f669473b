// Timestamps for the signing side: the options, the exchange with the TSAs
// (base/http_client's transport and retry loop, cms/'s request, reply and
// token checks) and the token's place in the signed message. A try counts
// as failed for any answer that is not a valid token for this request, so
// the next URL gets its chance before the run gives up. Tested end to end by
// tests/app/timestamp_test.cc against a local TSA.
#include "app/timestamping.h"

#include <algorithm>
#include <array>

#include "base/http_client.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/timestamp_request.h"
#include "cms/timestamp_token.h"
#include "pki/openssl_handles.h"

namespace brevick {
namespace {

constexpr char kQueryType[] = "application/timestamp-query";
// Bounds that keep a typo from stalling a build for days.
constexpr long kMaxRounds = 100;
constexpr long kMaxSeconds = 3600;
// How much of an answer that is no time-stamp response is shown.
constexpr std::size_t kShownBytes = 16;

constexpr std::array<std::wstring_view, 5> kOptionNames = {
    L"--timestamp", L"--timestamp-digest", L"--timestamp-retries", L"--timestamp-wait",
    L"--timestamp-timeout"};

// A whole number in digits only, within [least, kMax...]; nothing otherwise.
std::optional<long> WholeNumber(const std::wstring& value, long least, long most) {
  if (value.empty() || value.size() > 6) return std::nullopt;
  long number = 0;
  for (const wchar_t ch : value) {
    if (ch < L'0' || ch > L'9') return std::nullopt;
    number = number * 10 + (ch - L'0');
  }
  if (number < least || number > most) return std::nullopt;
  return number;
}

bool IsHttpUrl(const std::string& url) {
  std::string scheme = url.substr(0, url.find("://"));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return url.find("://") != std::string::npos && (scheme == "http" || scheme == "https") &&
         url.size() > scheme.size() + 3;
}

std::optional<std::wstring> NumberError(std::wstring_view name, const std::wstring& value,
                                        long least) {
  return std::wstring(name) + L" needs a whole number from " + std::to_wstring(least) + L" to " +
         std::to_wstring(name == L"--timestamp-retries" ? kMaxRounds : kMaxSeconds) + L", not '" +
         value + L"'";
}

// The first bytes of an answer, printable ASCII as it is and the rest as
// \xNN, so that an HTML page or a proxy's message can be recognised.
std::string FirstBytes(std::span<const std::uint8_t> body) {
  if (body.empty()) return "empty body";
  std::string shown = "first bytes \"";
  for (const std::uint8_t byte : body.first(std::min(body.size(), kShownBytes))) {
    if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
      shown += static_cast<char>(byte);
    } else {
      constexpr char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0x0F];
    }
  }
  return shown + "\"";
}

// One try at one URL: nothing when `token` now holds a token that holds
// (`checked` says what it holds), else the reason in words.
std::optional<std::string> TryTsa(const std::string& url, const TimestampRequest& request,
                                  std::span<const std::uint8_t> signatureValue,
                                  const TimestampSettings& settings,
                                  std::vector<std::uint8_t>& token, TimestampToken& checked) {
  const HttpResponse response =
      HttpPost(url, request.der, kQueryType, HttpOptions{settings.timeoutSeconds});
  if (!response.Ok()) return response.failure;
  TimestampReply reply = ReadTimestampReply(response.body);
  if (!reply.isResponse) {
    return "not a time-stamp response (Content-Type " +
           (response.contentType.empty() ? std::string("none") : response.contentType) + ", " +
           FirstBytes(response.body) + ")";
  }
  if (!reply.failure.empty()) return reply.failure;
  checked = CheckTimestampToken(reply.token, signatureValue, {request.digest, request.nonce});
  if (!checked.Valid()) return checked.reason;
  token = std::move(reply.token);
  return std::nullopt;
}

// The URL as lines and the error list show it: without a user name and
// password, which build logs must not keep.
std::string ShownUrl(const std::string& url) {
  const std::size_t authority = url.find("://");
  if (authority == std::string::npos) return url;
  const std::size_t start = authority + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  const std::size_t at = url.rfind('@', end - 1);
  if (at == std::string::npos || at < start || end == start) return url;
  return url.substr(0, start) + url.substr(at + 1);
}

std::wstring Plural(std::size_t count, const wchar_t* what) {
  return std::to_wstring(count) + L" " + what + (count == 1 ? L"" : L"s");
}

}  // namespace

bool IsTimestampOption(std::wstring_view name) {
  return std::find(kOptionNames.begin(), kOptionNames.end(), name) != kOptionNames.end();
}

std::optional<std::wstring> ApplyTimestampOption(std::wstring_view name, const std::wstring& value,
                                                 TimestampSettings& settings) {
  if (name == L"--timestamp") {
    const std::string url = ToUtf8(value);
    if (!IsHttpUrl(url)) return L"--timestamp takes an http or https URL, not '" + value + L"'";
    settings.urls.push_back(url);
    return std::nullopt;
  }
  settings.tuned = true;
  if (name == L"--timestamp-digest") {
    const std::optional<DigestAlgorithm> digest = DigestByName(value);
    if (!digest || *digest == DigestAlgorithm::kMd2)
      return L"--timestamp-digest takes sha256, sha384 or sha512, not '" + value + L"'";
    settings.digest = *digest;
    return std::nullopt;
  }
  const bool rounds = name == L"--timestamp-retries";
  const long least = name == L"--timestamp-wait" ? 0 : 1;
  const std::optional<long> number = WholeNumber(value, least, rounds ? kMaxRounds : kMaxSeconds);
  if (!number) return NumberError(name, value, least);
  if (rounds) {
    settings.rounds = static_cast<int>(*number);
  } else if (name == L"--timestamp-wait") {
    settings.waitSeconds = *number;
  } else {
    settings.timeoutSeconds = *number;
  }
  return std::nullopt;
}

std::optional<std::wstring> TimestampOptionsProblem(const TimestampSettings& settings) {
  if (settings.tuned && !settings.Wanted())
    return L"the --timestamp-* options need --timestamp URL";
  return std::nullopt;
}

std::wstring TimestampSettingsText(const TimestampSettings& settings) {
  std::wstring urls;
  for (const std::string& url : settings.urls)
    urls += (urls.empty() ? L"" : L", ") + ToWide(ShownUrl(url));
  return L"Timestamp: " + urls + L"; digest " + ToWide(std::string(DigestName(settings.digest))) +
         L"; " + Plural(static_cast<std::size_t>(settings.rounds), L"round") + L", " +
         std::to_wstring(settings.waitSeconds) + L" s between rounds, " +
         std::to_wstring(settings.timeoutSeconds) + L" s per request";
}

std::optional<std::vector<std::uint8_t>> FetchTimestampToken(
    std::span<const std::uint8_t> signatureValue, const TimestampSettings& settings,
    std::string& failure, TimestampToken* checked) {
  std::vector<std::uint8_t> token;
  TimestampToken lastChecked;
  const TryOutcome outcome = TryInTurn(
      settings.urls, RetryPlan{settings.rounds, settings.waitSeconds},
      [&](const std::string& url) -> std::optional<std::string> {
        // A fresh nonce for every try: an answer meant for an earlier one is refused.
        const std::optional<TimestampRequest> request =
            MakeTimestampRequest(signatureValue, settings.digest);
        if (!request) return std::string("cannot make the request");
        return TryTsa(url, *request, signatureValue, settings, token, lastChecked);
      },
      [&](const std::string& url, const std::string& reason) {
        failure = ShownUrl(url) + ": " + reason;
        NoticeLine(L"timestamp: " + ToWide(failure));
      });
  if (!outcome.servedBy) return std::nullopt;
  if (checked != nullptr) *checked = std::move(lastChecked);
  if (outcome.failedTries > 0) {
    NoticeLine(L"timestamp: served by " + ToWide(ShownUrl(settings.urls[*outcome.servedBy])) +
               L" after " + Plural(outcome.failedTries, L"failed try"));
  }
  return token;
}

bool StampFrame(const TimestampSettings& settings, std::uint64_t contentSize,
                SignedMessageFrame& frame) {
  const OpenSslErrorScope errorScope;
  // The message without its content holds everything the token touches.
  const std::optional<SignedMessageFrame> empty = ResizedFrame(frame, 0);
  std::vector<std::uint8_t> message;
  if (empty) {
    message = empty->head;
    message.insert(message.end(), empty->tail.begin(), empty->tail.end());
  }
  const std::optional<SignerTimestamps> signer = ReadSignerTimestamps(message);
  if (!signer) {
    frame = {};
    RecordError(L"Timestamp failed: the signed message cannot be read");
    return false;
  }
  std::string failure;
  const std::optional<std::vector<std::uint8_t>> token =
      FetchTimestampToken(signer->signatureValue, settings, failure);
  if (!token) {
    frame = {};
    RecordError(L"Timestamp failed: no time-stamp authority gave a valid token (last try " +
                ToWide(failure) + L")");
    return false;
  }
  const std::optional<std::vector<std::uint8_t>> stamped = WithTimestampToken(message, *token);
  std::optional<SignedMessageFrame> split;
  if (stamped) split = SplitFrame(*stamped);
  if (split) split = ResizedFrame(*split, contentSize);
  if (!split) {
    frame = {};
    RecordError(L"Timestamp failed: the token cannot be added to the signed message");
    return false;
  }
  frame = std::move(*split);
  return true;
}

std::optional<std::string> TimestampProblem(std::span<const std::uint8_t> message) {
  const OpenSslErrorScope errorScope;
  const std::optional<SignerTimestamps> signer = ReadSignerTimestamps(message);
  if (!signer) return std::nullopt;  // the signature check says what is wrong
  for (const std::vector<std::uint8_t>& token : signer->tokens) {
    const TimestampToken checked = CheckTimestampToken(token, signer->signatureValue);
    if (!checked.Valid()) return checked.reason;
  }
  return std::nullopt;
}

std::optional<std::string> TimestampProblem(const SignedMessageFrame& frame) {
  const std::optional<SignedMessageFrame> empty = ResizedFrame(frame, 0);
  if (!empty) return std::nullopt;
  std::vector<std::uint8_t> message = empty->head;
  message.insert(message.end(), empty->tail.begin(), empty->tail.end());
  return TimestampProblem(message);
}

}  // namespace brevick
