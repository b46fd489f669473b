// DER element headers, read and written. Tested through the framing and
// splicing tests in tests/cms.
#include "cms/der.h"

namespace brevick {
namespace {

constexpr std::uint8_t kDerLongLengthFlag = 0x80;
constexpr std::uint8_t kDerHighTagNumber = 0x1F;

}  // namespace

std::optional<DerHeader> ReadDerHeader(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2 || (bytes[0] & kDerHighTagNumber) == kDerHighTagNumber) return std::nullopt;
  DerHeader header{bytes[0], 2, bytes[1]};
  if (bytes[1] < kDerLongLengthFlag) return header;
  const std::size_t count = bytes[1] & ~kDerLongLengthFlag;
  if (count == 0 || count > kDerMaxLengthOctets || bytes.size() < 2 + count) return std::nullopt;
  header.contentSize = 0;
  for (std::size_t i = 0; i < count; ++i)
    header.contentSize = header.contentSize << 8 | bytes[2 + i];
  header.headerSize = 2 + count;
  return header;
}

std::size_t DerHeaderSize(std::uint64_t contentSize) {
  std::size_t size = 2;
  if (contentSize < kDerLongLengthFlag) return size;
  for (; contentSize != 0; contentSize >>= 8) ++size;
  return size;
}

void AppendDerHeader(std::vector<std::uint8_t>& out, std::uint8_t tag, std::uint64_t contentSize) {
  out.push_back(tag);
  if (contentSize < kDerLongLengthFlag) {
    out.push_back(static_cast<std::uint8_t>(contentSize));
    return;
  }
  const std::size_t count = DerHeaderSize(contentSize) - 2;
  out.push_back(static_cast<std::uint8_t>(kDerLongLengthFlag | count));
  for (std::size_t i = count; i > 0; --i)
    out.push_back(static_cast<std::uint8_t>(contentSize >> (8 * (i - 1))));
}

}  // namespace brevick
