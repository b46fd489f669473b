// base/hex_text.h: bytes as hexadecimal text, for digests and thumbprints.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace brevick {

enum class HexCase { kLower, kUpper };

// Two digits per byte, high nibble first, nothing between them. Manifest
// digest values are lowercase; thumbprints are shown in upper case.
std::string HexText(std::span<const std::uint8_t> bytes, HexCase letters = HexCase::kLower);

// The value of one hexadecimal digit of either letter case; -1 for any other
// character.
int HexDigitValue(char32_t c);

}  // namespace brevick
