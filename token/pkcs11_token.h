// token/pkcs11_token.h: signing with an RSA key that stays on a PKCS #11
// token (a smart card, an HSM, a cloud HSM's module, SoftHSM), through the
// standard C interface of the module library itself.
//
// The module is the URI's module-path, else the library named by its
// module-name (as p11-kit's module configuration gives it, else
// <name>.so or lib<name>.so), else p11-kit's proxy, which offers every module the system has
// configured. The PIN comes from the URI's pin-source file (its first line),
// else from the environment variable BREVICK_PKCS11_PIN, else from the URI's
// pin-value; never from a prompt. A token that needs no login gets none, and
// a token that would take its PIN on its own PIN pad is refused rather than
// waited for, so an unattended build cannot stall here.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pki/openssl_handles.h"
#include "pki/pkcs11_uri.h"

namespace brevick {

// The environment variable that may hold the PIN.
inline constexpr char kPkcs11PinVariable[] = "BREVICK_PKCS11_PIN";

enum class TokenError {
  kNone,
  kModuleNotLoaded,   // the library cannot be loaded or has no C_GetFunctionList
  kModuleFailed,      // the module refuses to start or to list its slots
  kNoToken,           // no token matches the URI
  kPinPad,            // the token wants its PIN on a PIN pad
  kNoPin,             // login needed, and no PIN was given
  kPinUnreadable,     // the pin-source file cannot be read
  kPinIncorrect,      // the token says the PIN is wrong
  kPinLocked,         // the token has locked the PIN
  kLoginFailed,       // any other login failure
  kNoKey,             // no private key on the token matches the URI
  kKeyMismatch,       // the key is not the certificate's key
  kMechanismRefused,  // the token will not sign with CKM_RSA_PKCS
  kSignFailed,        // the token failed while signing
};

struct TokenOutcome {
  TokenError error = TokenError::kNone;
  std::string reason;  // one line for the operator; empty without error
};

// Owns a loaded, initialised module: finalises and unloads it at the end.
class Pkcs11Module {
 public:
  // Null with the reason in `outcome` when it cannot be loaded or started.
  static std::unique_ptr<Pkcs11Module> Load(const Pkcs11Uri& uri, TokenOutcome& outcome);
  ~Pkcs11Module();
  Pkcs11Module(const Pkcs11Module&) = delete;
  Pkcs11Module& operator=(const Pkcs11Module&) = delete;

  CK_FUNCTION_LIST* Functions() const { return functions; }
  const std::string& Name() const { return name; }

 private:
  Pkcs11Module(void* handle, CK_FUNCTION_LIST* list, std::string moduleName)
      : library(handle), functions(list), name(std::move(moduleName)) {}

  void* library;
  CK_FUNCTION_LIST* functions;
  std::string name;       // the path or name it was loaded by
  bool finalize = false;  // set once C_Initialize succeeded
};

// An open session with one token; closed at the end.
class Pkcs11Session {
 public:
  Pkcs11Session(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE handle)
      : functionList(functions), session(handle) {}
  ~Pkcs11Session() { functionList->C_CloseSession(session); }
  Pkcs11Session(const Pkcs11Session&) = delete;
  Pkcs11Session& operator=(const Pkcs11Session&) = delete;

  CK_SESSION_HANDLE Handle() const { return session; }

 private:
  CK_FUNCTION_LIST* functionList;
  CK_SESSION_HANDLE session;
};

// A user login of a session; logged out at the end.
class Pkcs11Login {
 public:
  Pkcs11Login(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE handle)
      : functionList(functions), session(handle) {}
  ~Pkcs11Login() { functionList->C_Logout(session); }
  Pkcs11Login(const Pkcs11Login&) = delete;
  Pkcs11Login& operator=(const Pkcs11Login&) = delete;

 private:
  CK_FUNCTION_LIST* functionList;
  CK_SESSION_HANDLE session;
};

// Signs the DER DigestInfo with raw RSA PKCS #1 v1.5 (CKM_RSA_PKCS) on the
// token, with the private key that the URI names and that belongs to
// `certificate` (compared by modulus and public exponent, and the signature
// checked against the certificate afterwards). `signature` is empty on error.
TokenOutcome SignOnToken(const Pkcs11Uri& uri, X509* certificate,
                         std::span<const std::uint8_t> digestInfo,
                         std::vector<std::uint8_t>& signature);

// "PKCS #11 token '<label>', object '<label>'" for a listing, and whether the
// token and a private key matching the URI can be reached now (a PIN, where
// one is needed, taken as for signing). Writes nothing.
std::wstring DescribeTokenKey(const Pkcs11Uri& uri, bool& reachable);

}  // namespace brevick
