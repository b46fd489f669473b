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
    const int high =
        i + 2 < text.size() ? HexDigitValue(static_cast<unsigned char>(text[i + 1])) : -1;
    const int low =
        i + 2 < text.size() ? HexDigitValue(static_cast<unsigned char>(text[i + 2])) : -1;
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
Pkcs11UriError SetOnce(std::optional<Value>& field, Value value) {
  if (field) return Pkcs11UriError::kRepeatedAttribute;
  field = std::move(value);
  return Pkcs11UriError::kNone;
}

// Checks and stores one decoded attribute's value; kNone when it was taken.
using AttributeStore = Pkcs11UriError (*)(Pkcs11Uri& uri, std::string&& value);

template <std::optional<std::string> Pkcs11Uri::*Field>
Pkcs11UriError StoreText(Pkcs11Uri& uri, std::string&& value) {
  return SetOnce(uri.*Field, std::move(value));
}

Pkcs11UriError StoreId(Pkcs11Uri& uri, std::string&& value) {
  return SetOnce(uri.id, std::vector<std::uint8_t>(value.begin(), value.end()));
}

Pkcs11UriError StoreType(Pkcs11Uri& uri, std::string&& value) {
  if (!IsObjectType(value)) return Pkcs11UriError::kBadType;
  return SetOnce(uri.type, std::move(value));
}

Pkcs11UriError StoreSlotId(Pkcs11Uri& uri, std::string&& value) {
  if (value.empty() || value.size() > 19 ||
      value.find_first_not_of("0123456789") != std::string::npos) {
    return Pkcs11UriError::kBadSlotId;
  }
  return SetOnce(uri.slotId, std::stoul(value));
}

Pkcs11UriError StorePinSource(Pkcs11Uri& uri, std::string&& value) {
  std::optional<std::string> path = PinFilePath(value);
  if (!path) return Pkcs11UriError::kUnsupportedPinSource;
  return SetOnce(uri.pinSource, std::move(*path));
}

// Path attributes narrow down the token and object; query attributes say how
// to reach them. Each is understood only on its own side of the "?".
struct AttributeRule {
  std::string_view name;
  bool inQuery;
  AttributeStore store;
};

constexpr std::array<AttributeRule, 12> kAttributeRules = {{
    {"token", false, StoreText<&Pkcs11Uri::token>},
    {"manufacturer", false, StoreText<&Pkcs11Uri::manufacturer>},
    {"serial", false, StoreText<&Pkcs11Uri::serial>},
    {"model", false, StoreText<&Pkcs11Uri::model>},
    {"object", false, StoreText<&Pkcs11Uri::object>},
    {"id", false, StoreId},
    {"type", false, StoreType},
    {"slot-id", false, StoreSlotId},
    {"module-path", true, StoreText<&Pkcs11Uri::modulePath>},
    {"module-name", true, StoreText<&Pkcs11Uri::moduleName>},
    {"pin-source", true, StorePinSource},
    {"pin-value", true, StoreText<&Pkcs11Uri::pinValue>},
}};

Pkcs11UriError Apply(Pkcs11Uri& uri, bool inQuery, const std::string& name, std::string value) {
  for (const AttributeRule& rule : kAttributeRules) {
    if (rule.inQuery == inQuery && rule.name == name) return rule.store(uri, std::move(value));
  }
  return Pkcs11UriError::kUnknownAttribute;
}

// Reads one "name=value" part into the URI; kNone in the result when taken.
Pkcs11UriParse ApplyAttribute(Pkcs11Uri& uri, bool inQuery, std::string_view attribute) {
  const std::size_t equals = attribute.find('=');
  if (equals == std::string_view::npos) return Failure(Pkcs11UriError::kMissingEquals, attribute);
  const std::string name(attribute.substr(0, equals));
  std::string value;
  if (!PercentDecode(attribute.substr(equals + 1), value))
    return Failure(Pkcs11UriError::kBadPercentEncoding, attribute);
  const Pkcs11UriError error = Apply(uri, inQuery, name, std::move(value));
  const bool namesAttribute =
      error == Pkcs11UriError::kUnknownAttribute || error == Pkcs11UriError::kRepeatedAttribute;
  return Failure(error, error == Pkcs11UriError::kNone ? std::string_view()
                        : namesAttribute               ? std::string_view(name)
                                                       : attribute);
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
      Pkcs11UriParse failure = ApplyAttribute(result.uri, inQuery, attribute);
      if (failure.error != Pkcs11UriError::kNone) return failure;
    }
  }
  return result;
}

}  // namespace brevick
