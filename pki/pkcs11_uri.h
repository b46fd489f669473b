// pki/pkcs11_uri.h: PKCS #11 URIs (RFC 7512), the one-line references to
// a key held on a token, as a store keeps them in <stem>.key:
//   pkcs11:token=release;object=signing-key;type=private
//          ?module-path=/usr/lib/softhsm/libsofthsm2.so&pin-source=file:/run/pin
// Path attributes (between "pkcs11:" and "?", separated by ";") narrow down
// the token and the object; query attributes (after "?", separated by "&")
// say how to reach them. Values are percent-decoded. Only the attributes
// below are understood: any other one is refused rather than ignored, since
// dropping a condition could select a key that the URI never meant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevick {

struct Pkcs11Uri {
  // Path attributes; absent ones match anything.
  std::optional<std::string> token;             // token label
  std::optional<std::string> manufacturer;      // token manufacturer
  std::optional<std::string> serial;            // token serial number
  std::optional<std::string> model;             // token model
  std::optional<std::string> object;            // the object's label (CKA_LABEL)
  std::optional<std::vector<std::uint8_t>> id;  // the object's CKA_ID, raw bytes
  std::optional<std::string> type;              // public, private, cert, secret-key or data
  std::optional<unsigned long> slotId;

  // Query attributes.
  std::optional<std::string> modulePath;  // the module library to load
  std::optional<std::string> moduleName;  // its name without "lib" and ".so"
  std::optional<std::string> pinSource;   // the file named by "file:PATH" (PATH kept)
  std::optional<std::string> pinValue;    // the PIN itself: the weakest way to give one
};

enum class Pkcs11UriError {
  kNone,
  kNotPkcs11Uri,          // does not begin with "pkcs11:"
  kBadPercentEncoding,    // "%" not followed by two hexadecimal digits
  kMissingEquals,         // an attribute without "="
  kUnknownAttribute,      // an attribute this reader does not understand
  kRepeatedAttribute,     // the same attribute twice
  kBadType,               // type is not one of the five object types
  kBadSlotId,             // slot-id is not a decimal number
  kUnsupportedPinSource,  // pin-source is not a file
  kCount                  // not an error: the size of the text table
};

// The reason, for a line such as "brevick: <file>: <text> '<detail>'".
const char* Pkcs11UriErrorText(Pkcs11UriError error);

struct Pkcs11UriParse {
  Pkcs11UriError error = Pkcs11UriError::kNone;
  std::string detail;  // the attribute or text at fault
  Pkcs11Uri uri;       // meaningful only without error
};

// Parses one URI. Leading and trailing white space (a key file's line end)
// is not part of it. The scheme name is read without regard to case.
Pkcs11UriParse ParsePkcs11Uri(std::string_view text);

// Whether `text` (after leading white space) begins with the scheme
// "pkcs11:", so that it is meant as a URI rather than a PEM key.
bool LooksLikePkcs11Uri(std::string_view text);

}  // namespace brevick
