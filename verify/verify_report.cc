// verify/verify_report.cc
#include "verify/verify_report.h"

#include <array>

namespace brevick {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(FileStatus::kCount)> kStatusTexts = {
    "ok", "differs", "missing", "unreadable", "outside", "no-digest"};
static_assert(kStatusTexts.size() == static_cast<std::size_t>(FileStatus::kCount));

constexpr std::array<const char*, static_cast<std::size_t>(DigestKind::kCount)> kDigestNames = {
    "md5", "sha256", "sha384", "sha512"};
static_assert(kDigestNames.size() == static_cast<std::size_t>(DigestKind::kCount));

}  // namespace

const char* FileStatusText(FileStatus status) {
  return kStatusTexts.at(static_cast<std::size_t>(status));
}

const char* DigestKindName(DigestKind kind) {
  return kDigestNames.at(static_cast<std::size_t>(kind));
}

std::string TimestampSummary(const VerifyReport& report) {
  if (!report.signature.valid) return "not checked";
  if (!report.timestamp) return "none";
  const VerifyReport::Timestamp& timestamp = *report.timestamp;
  if (!timestamp.valid) return "invalid: " + timestamp.reason;
  const std::string tsa = timestamp.tsa ? timestamp.tsa->subject : "(unknown TSA)";
  return timestamp.time + " by " + tsa + "; " +
         (timestamp.trusted ? "trusted: " : "not trusted: ") + timestamp.reason;
}

std::string RevocationSummary(const VerifyReport& report) {
  if (!report.revocation) return "not checked";
  const VerifyReport::Revocation& revocation = *report.revocation;
  if (!revocation.error.empty()) return "unknown: " + revocation.error;
  if (!revocation.revoked) {
    const std::size_t count = revocation.crls.size();
    return "not revoked (" + std::to_string(count) + (count == 1 ? " CRL)" : " CRLs)");
  }
  std::string text = "revoked on " + revocation.revokedAt + " (" + revocation.reason + ")";
  if (!revocation.subject.empty()) text += " for " + revocation.subject;
  if (revocation.afterTimestamp) text += ", after the timestamp";
  return text;
}

}  // namespace brevick
