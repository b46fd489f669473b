// base/hex_text.cc: table-driven, as it runs for every module file's digest.
#include "base/hex_text.h"

#include <array>

namespace brevick {
namespace {

using HexPairs = std::array<std::array<char, 2>, 256>;

constexpr HexPairs MakePairs(const char* digits) {
  HexPairs pairs{};
  for (int value = 0; value < 256; ++value) pairs[value] = {digits[value >> 4], digits[value & 15]};
  return pairs;
}

constexpr HexPairs kLowerPairs = MakePairs("0123456789abcdef");
constexpr HexPairs kUpperPairs = MakePairs("0123456789ABCDEF");

}  // namespace

std::string HexText(std::span<const std::uint8_t> bytes, HexCase letters) {
  const HexPairs& pairs = letters == HexCase::kLower ? kLowerPairs : kUpperPairs;
  std::string text;
  text.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) text.append(pairs[byte].data(), 2);
  return text;
}

int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  return -1;
}

}  // namespace brevick
