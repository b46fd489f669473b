// pki/pkcs11_uri.cc: reading PKCS #11 URIs.
#include "pki/pkcs11_uri.h"

#include <array>
#include <cctype>

#include "base/hex_text.h"

namespace brevick {
namespace {

constexpr std::array<const char*, 9> kPkcs11UriErrorTexts = {
    "",
    "not a PKCS #11 URI (it must begin with \"pkcs11:\")",
    "bad percent-encoding in the PKCS #11 URI at",
    "a PKCS #11 URI attribute without \"=\":",
    "a PKCS #11 URI attribute that is not understood:",
    "a PKCS #11 URI attribute given twice:",
    "the PKCS #11 URI's type is none of public, private, cert, secret-key, data:",
    "the PKCS #11 URI's slot-id is not a decimal number:",
    "the PKCS #11 URI's pin-source is not a file (\"file:PATH\"):",
};
static_assert(kPkcs11UriErrorTexts.size() == static_cast<std::size_t>(Pkcs11UriError::kCount),
              "one text per URI error");

constexpr std::string_view kScheme = "pkcs11:";
constexpr std::string_view kWhiteSpace = " \t\r\n";

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// Decodes %XX sequences; false at the first broken one.
bool PercentDecode(std::string_view text, std::string& decoded) {
  decoded.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
    const int low = i + 2 < text.size() ? HexDigitValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) return false;
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  if (text.empty()) return parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string_view::npos;
       at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool IsObjectType(const std::string& type) {
  return type == "public" || type == "private" || type == "cert" || type == "secret-key" ||
         type == "data";
}

// "file:/p", "file:///p" and "file://localhost/p" name the file /p.
std::optional<std::string> PinFilePath(const std::string& source) {
  if (!source.empty() && source[0] == '/') return source;
  if (!StartsWithIgnoringCase(source, "file:")) return std::nullopt;
  std::string path = source.substr(5);
  if (path.rfind("//localhost/", 0) == 0)
    path.erase(0, 11);
  else if (path.rfind("///", 0) == 0)
    path.erase(0, 2);
  if (path.empty() || path.rfind("//", 0) == 0) return std::nullopt;  // another host
  return path;
}

Pkcs11UriParse Failure(Pkcs11UriError error, std::string_view detail) {
  Pkcs11UriParse result;
  result.error = error;
  result.detail = std::string(detail);
  return result;
}

template <typename Value>
bool SetOnce(std::optional<Value>& field, Value value) {
  if (field) return false;
  field = std::move(value);
  return true;
}

// Stores one decoded attribute; the error is kNone when it was taken.
Pkcs11UriError Apply(Pkcs11Uri& uri, bool inQuery, const std::string& name, std::string value) {
  bool fresh = true;
  if (!inQuery && name == "token")
    fresh = SetOnce(uri.token, std::move(value));
  else if (!inQuery && name == "manufacturer")
    fresh = SetOnce(uri.manufacturer, std::move(value));
  else if (!inQuery && name == "serial")
    fresh = SetOnce(uri.serial, std::move(value));
  else if (!inQuery && name == "model")
    fresh = SetOnce(uri.model, std::move(value));
  else if (!inQuery && name == "object")
    fresh = SetOnce(uri.object, std::move(value));
  else if (!inQuery && name == "id") {
    fresh = SetOnce(uri.id, std::vector<std::uint8_t>(value.begin(), value.end()));
  } else if (!inQuery && name == "type") {
    if (!IsObjectType(value)) return Pkcs11UriError::kBadType;
    fresh = SetOnce(uri.type, std::move(value));
  } else if (!inQuery && name == "slot-id") {
    if (value.empty() || value.size() > 19 ||
        value.find_first_not_of("0123456789") != std::string::npos) {
      return Pkcs11UriError::kBadSlotId;
    }
    fresh = SetOnce(uri.slotId, std::stoul(value));
  } else if (inQuery && name == "module-path") {
    fresh = SetOnce(uri.modulePath, std::move(value));
  } else if (inQuery && name == "module-name") {
    fresh = SetOnce(uri.moduleName, std::move(value));
  } else if (inQuery && name == "pin-source") {
    std::optional<std::string> path = PinFilePath(value);
    if (!path) return Pkcs11UriError::kUnsupportedPinSource;
    fresh = SetOnce(uri.pinSource, std::move(*path));
  } else if (inQuery && name == "pin-value") {
    fresh = SetOnce(uri.pinValue, std::move(value));
  } else {
    return Pkcs11UriError::kUnknownAttribute;
  }
  return fresh ? Pkcs11UriError::kNone : Pkcs11UriError::kRepeatedAttribute;
}

}  // namespace

const char* Pkcs11UriErrorText(Pkcs11UriError error) {
  const auto index = static_cast<std::size_t>(error);
  return index < kPkcs11UriErrorTexts.size() ? kPkcs11UriErrorTexts[index] : "";
}

bool LooksLikePkcs11Uri(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  return first != std::string_view::npos && StartsWithIgnoringCase(text.substr(first), kScheme);
}

Pkcs11UriParse ParsePkcs11Uri(std::string_view text) {
  const std::string_view uri = Trimmed(text);
  if (!StartsWithIgnoringCase(uri, kScheme)) return Failure(Pkcs11UriError::kNotPkcs11Uri, uri);
  const std::string_view rest = uri.substr(kScheme.size());
  const std::size_t question = rest.find('?');
  const std::string_view path = rest.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : rest.substr(question + 1);

  Pkcs11UriParse result;
  for (const bool inQuery : {false, true}) {
    for (const std::string_view attribute : Split(inQuery ? query : path, inQuery ? '&' : ';')) {
      // RFC 7512 allows empty parts, as in "pkcs11:token=a;" with a trailing separator.
      if (attribute.empty()) continue;
      const std::size_t equals = attribute.find('=');
      if (equals == std::string_view::npos)
        return Failure(Pkcs11UriError::kMissingEquals, attribute);
      const std::string name(attribute.substr(0, equals));
      std::string value;
      if (!PercentDecode(attribute.substr(equals + 1), value)) {
        return Failure(Pkcs11UriError::kBadPercentEncoding, attribute);
      }
      const Pkcs11UriError error = Apply(result.uri, inQuery, name, std::move(value));
      if (error != Pkcs11UriError::kNone) {
        return Failure(error, error == Pkcs11UriError::kUnknownAttribute ||
                                      error == Pkcs11UriError::kRepeatedAttribute
                                  ? std::string_view(name)
                                  : attribute);
      }
    }
  }
  return result;
}

}  // namespace brevick
