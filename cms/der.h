// cms/der.h: the few DER primitives Brevick reads and writes by hand: element
// headers (tag and definite length). Messages are framed and spliced at the
// byte level so that a large content is never copied and nothing the signer
// wrote is re-encoded; everything else goes through OpenSSL's ASN.1 types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace brevick {

inline constexpr std::uint8_t kDerSequenceTag = 0x30;
inline constexpr std::uint8_t kDerSetTag = 0x31;
inline constexpr std::uint8_t kDerOctetStringTag = 0x04;
inline constexpr std::uint8_t kDerExplicitZeroTag = 0xA0;

// Eight length octets hold any size; more never occur.
inline constexpr std::size_t kDerMaxLengthOctets = 8;

struct DerHeader {
  std::uint8_t tag = 0;
  std::size_t headerSize = 0;
  std::uint64_t contentSize = 0;
};

// The tag and definite length at the start of `bytes`; nothing when they
// are cut short, indefinite, longer than eight octets or of a multi-octet
// tag (none of which a message Brevick handles holds where it looks).
std::optional<DerHeader> ReadDerHeader(std::span<const std::uint8_t> bytes);

// The size of the header of an element with `contentSize` content octets.
std::size_t DerHeaderSize(std::uint64_t contentSize);

void AppendDerHeader(std::vector<std::uint8_t>& out, std::uint8_t tag, std::uint64_t contentSize);

}  // namespace brevick
