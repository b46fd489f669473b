// app/timestamping.h: RFC 3161 timestamps on the signature a run makes or a
// signed manifest already has. The operator names one or more time-stamp
// authorities (TSAs); they are tried in turn, each answer is checked before
// its token is used, and every failed try is told on standard error as
// "brevick: timestamp: URL: REASON", so that a failing release build says
// which server failed and how.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cms/signed_message.h"
#include "cms/timestamp_token.h"
#include "digest/digest_algorithm.h"

namespace brevick {

struct TimestampSettings {
  std::vector<std::string> urls;                      // --timestamp, in order; empty: no timestamp
  DigestAlgorithm digest = DigestAlgorithm::kSha256;  // --timestamp-digest
  int rounds = 3;                                     // --timestamp-retries
  long waitSeconds = 10;                              // --timestamp-wait
  long timeoutSeconds = 30;                           // --timestamp-timeout
  bool tuned = false;  // a --timestamp-* option was given (it needs --timestamp)

  bool Wanted() const { return !urls.empty(); }
};

// Whether `name` is one of the timestamp options; each takes a value.
bool IsTimestampOption(std::wstring_view name);
// Applies one timestamp option; the usage error when its value is unusable.
std::optional<std::wstring> ApplyTimestampOption(std::wstring_view name, const std::wstring& value,
                                                 TimestampSettings& settings);
// The usage error of a command line whose timestamp options do not fit
// together (a --timestamp-* option without --timestamp); nothing when they do.
std::optional<std::wstring> TimestampOptionsProblem(const TimestampSettings& settings);

// The settings as -D shows them, one line for standard error.
std::wstring TimestampSettingsText(const TimestampSettings& settings);

// Asks the TSAs for a token over `signatureValue` and checks each answer.
// On success the DER token; otherwise nothing and `failure` says how the
// last try failed ("URL: REASON"). Each failed try has gone to standard
// error, and one line names the URL that served after failures. With
// `checked`, the check of the token returned is kept there, so that what it
// says need not be read again.
std::optional<std::vector<std::uint8_t>> FetchTimestampToken(
    std::span<const std::uint8_t> signatureValue, const TimestampSettings& settings,
    std::string& failure, TimestampToken* checked = nullptr);

// Puts a token from the TSAs into the frame's signer, for content of
// `contentSize` bytes; the signature and everything else stay as they are.
// False when no token could be had, with the error recorded.
bool StampFrame(const TimestampSettings& settings, std::uint64_t contentSize,
                SignedMessageFrame& frame);

// Checks every token a message carries against its signature: nothing when
// all hold (or there are none), else why one does not.
std::optional<std::string> TimestampProblem(std::span<const std::uint8_t> message);
// The same for a message's frame, its content left out.
std::optional<std::string> TimestampProblem(const SignedMessageFrame& frame);

}  // namespace brevick
