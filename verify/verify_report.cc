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

}  // namespace brevick
