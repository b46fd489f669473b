// token/pkcs11_token.cc: the PKCS #11 calls: loading the module, finding
// the token and the key, logging in, signing.
#include "token/pkcs11_token.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "base/file_io.h"
#include "base/utf8.h"

namespace brevick {
namespace {

// Keys are looked at up to this many per URI; a URI that matches more is
// too loose to be meant for one signing key anyway.
constexpr CK_ULONG kMaxKeysLooked = 64;
// Slots past this many are not looked at (a proxy over many readers has dozens).
constexpr CK_ULONG kMaxSlots = 1024;

// The proxy p11-kit installs; its library exports the same entry point, for
// systems where the proxy's own file is not installed.
constexpr const char* kProxyModules[] = {BREVICK_P11_KIT_PROXY, "libp11-kit.so.0"};

TokenOutcome Fail(TokenError error, std::string reason) { return {error, std::move(reason)}; }

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The names of the results an operator is likely to meet; others in hex.
std::string ResultName(CK_RV rv) {
  switch (rv) {
    case CKR_GENERAL_ERROR:
      return "CKR_GENERAL_ERROR";
    case CKR_FUNCTION_FAILED:
      return "CKR_FUNCTION_FAILED";
    case CKR_ARGUMENTS_BAD:
      return "CKR_ARGUMENTS_BAD";
    case CKR_DEVICE_ERROR:
      return "CKR_DEVICE_ERROR";
    case CKR_DEVICE_REMOVED:
      return "CKR_DEVICE_REMOVED";
    case CKR_TOKEN_NOT_PRESENT:
      return "CKR_TOKEN_NOT_PRESENT";
    case CKR_PIN_INCORRECT:
      return "CKR_PIN_INCORRECT";
    case CKR_PIN_LOCKED:
      return "CKR_PIN_LOCKED";
    case CKR_PIN_EXPIRED:
      return "CKR_PIN_EXPIRED";
    case CKR_PIN_LEN_RANGE:
      return "CKR_PIN_LEN_RANGE";
    case CKR_MECHANISM_INVALID:
      return "CKR_MECHANISM_INVALID";
    case CKR_MECHANISM_PARAM_INVALID:
      return "CKR_MECHANISM_PARAM_INVALID";
    case CKR_KEY_FUNCTION_NOT_PERMITTED:
      return "CKR_KEY_FUNCTION_NOT_PERMITTED";
    case CKR_KEY_TYPE_INCONSISTENT:
      return "CKR_KEY_TYPE_INCONSISTENT";
    case CKR_DATA_LEN_RANGE:
      return "CKR_DATA_LEN_RANGE";
    case CKR_USER_NOT_LOGGED_IN:
      return "CKR_USER_NOT_LOGGED_IN";
    case CKR_TOKEN_NOT_RECOGNIZED:
      return "CKR_TOKEN_NOT_RECOGNIZED";
    default:
      break;
  }
  std::array<char, 32> hex{};
  std::snprintf(hex.data(), hex.size(), "CKR 0x%08lx", static_cast<unsigned long>(rv));
  return hex.data();
}

// Fixed-width, blank-padded fields of the token information.
template <std::size_t size>
std::string PaddedText(const unsigned char (&field)[size]) {
  std::string text(reinterpret_cast<const char*>(field), size);
  const std::size_t end = text.find_last_not_of(std::string_view(" \0", 2));
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string DlError() {
  const char* text = dlerror();
  return text != nullptr ? text : "unknown reason";
}

struct OpenedLibrary {
  void* handle = nullptr;
  std::string name;
};

// The library that p11-kit's configuration gives for the module `name`
// ("module: PATH" in <name>.module; a relative path lies in the module
// directory); empty when it has none.
std::string ConfiguredModule(const std::string& name) {
  if (name.find('/') != std::string::npos) return {};
  for (const std::string directory : {"/etc/pkcs11/modules", BREVICK_P11_MODULE_CONFIGS}) {
    std::vector<std::uint8_t> bytes;
    std::string configFile = directory;
    configFile += '/';
    configFile += name;
    configFile += ".module";
    if (!ReadRegularFile(AT_FDCWD, configFile, bytes).Ok()) continue;
    const std::string text(bytes.begin(), bytes.end());
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      std::string line = text.substr(start, end - start);
      start = end + 1;
      if (line.rfind("module:", 0) != 0) continue;
      line.erase(0, line.find_first_not_of(" \t", 7));
      line.erase(line.find_last_not_of(" \t\r") + 1);
      if (line.empty()) continue;
      return line[0] == '/' ? line : std::string(BREVICK_P11_MODULE_DIR) + "/" + line;
    }
  }
  return {};
}

// The libraries to try, in order, and what to call the module in messages.
std::vector<std::string> ModuleCandidates(const Pkcs11Uri& uri) {
  if (uri.modulePath) return {*uri.modulePath};
  if (uri.moduleName) {
    const std::string& name = *uri.moduleName;
    if (std::string configured = ConfiguredModule(name); !configured.empty()) return {configured};
    return {std::string(BREVICK_P11_MODULE_DIR) + "/" + name + ".so",
            std::string(BREVICK_P11_MODULE_DIR) + "/lib" + name + ".so", name + ".so",
            "lib" + name + ".so"};
  }
  return {std::begin(kProxyModules), std::end(kProxyModules)};
}

std::optional<OpenedLibrary> OpenLibrary(const Pkcs11Uri& uri, TokenOutcome& outcome) {
  std::string reasons;
  for (const std::string& candidate : ModuleCandidates(uri)) {
    if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      return OpenedLibrary{handle, candidate};
    }
    reasons += (reasons.empty() ? "" : "; ") + DlError();
  }
  const std::string what = uri.modulePath   ? "the PKCS #11 module " + Quoted(*uri.modulePath)
                           : uri.moduleName ? "the PKCS #11 module named " + Quoted(*uri.moduleName)
                                            : std::string("p11-kit's proxy PKCS #11 module");
  outcome = Fail(TokenError::kModuleNotLoaded, "cannot load " + what + ": " + reasons);
  return std::nullopt;
}

// The certificate's RSA modulus and exponent, big-endian without leading zeros.
bool CertificateRsaKey(X509* certificate, std::vector<std::uint8_t>& modulus,
                       std::vector<std::uint8_t>& exponent) {
  EVP_PKEY* key = X509_get0_pubkey(certificate);
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return false;
  BIGNUM* n = nullptr;
  BIGNUM* e = nullptr;
  const bool got = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
                   EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1;
  if (got) {
    modulus.resize(static_cast<std::size_t>(BN_num_bytes(n)));
    exponent.resize(static_cast<std::size_t>(BN_num_bytes(e)));
    BN_bn2bin(n, modulus.data());
    BN_bn2bin(e, exponent.data());
  }
  BN_free(n);
  BN_free(e);
  return got;
}

std::vector<std::uint8_t> WithoutLeadingZeros(std::vector<std::uint8_t> number) {
  const auto first = std::find_if(number.begin(), number.end(), [](std::uint8_t b) { return b; });
  number.erase(number.begin(), first);
  return number;
}

// One attribute's bytes; nothing when the token will not give it.
std::optional<std::vector<std::uint8_t>> Attribute(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session,
                                                   CK_OBJECT_HANDLE object,
                                                   CK_ATTRIBUTE_TYPE type) {
  CK_ATTRIBUTE query{type, nullptr, 0};
  if (f->C_GetAttributeValue(session, object, &query, 1) != CKR_OK ||
      query.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> value(query.ulValueLen);
  query.pValue = value.data();
  if (f->C_GetAttributeValue(session, object, &query, 1) != CKR_OK) return std::nullopt;
  value.resize(query.ulValueLen);
  return value;
}

std::string LabelOf(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object) {
  const auto label = Attribute(f, session, object, CKA_LABEL);
  return label ? std::string(label->begin(), label->end()) : std::string();
}

bool TrueAttribute(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                   CK_ATTRIBUTE_TYPE type) {
  const auto value = Attribute(f, session, object, type);
  return value && value->size() == sizeof(CK_BBOOL) && (*value)[0] == CK_TRUE;
}

bool TokenMatches(const Pkcs11Uri& uri, CK_SLOT_ID slot, const CK_TOKEN_INFO& info) {
  return (!uri.token || *uri.token == PaddedText(info.label)) &&
         (!uri.manufacturer || *uri.manufacturer == PaddedText(info.manufacturerID)) &&
         (!uri.model || *uri.model == PaddedText(info.model)) &&
         (!uri.serial || *uri.serial == PaddedText(info.serialNumber)) &&
         (!uri.slotId || *uri.slotId == slot);
}

struct FoundToken {
  CK_SLOT_ID slot = 0;
  CK_TOKEN_INFO info{};
};

// The first token that matches, in the module's slot order.
std::optional<FoundToken> FindToken(const Pkcs11Module& module, const Pkcs11Uri& uri,
                                    TokenOutcome& outcome) {
  CK_FUNCTION_LIST* f = module.Functions();
  CK_ULONG count = 0;
  CK_RV rv = f->C_GetSlotList(CK_TRUE, nullptr, &count);
  std::vector<CK_SLOT_ID> slots(std::min(count, kMaxSlots));
  if (rv == CKR_OK) {
    count = slots.size();
    rv = f->C_GetSlotList(CK_TRUE, slots.data(), &count);
  }
  if (rv != CKR_OK) {
    outcome = Fail(TokenError::kModuleFailed, "the PKCS #11 module " + Quoted(module.Name()) +
                                                  " cannot list its tokens: " + ResultName(rv));
    return std::nullopt;
  }
  std::string seen;
  for (CK_ULONG i = 0; i < count; ++i) {
    FoundToken found{slots[i], {}};
    // A slot's blank token (SoftHSM always offers one) holds no keys yet.
    if (f->C_GetTokenInfo(found.slot, &found.info) != CKR_OK ||
        (found.info.flags & CKF_TOKEN_INITIALIZED) == 0) {
      continue;
    }
    if (TokenMatches(uri, found.slot, found.info)) return found;
    seen += (seen.empty() ? "" : ", ") + Quoted(PaddedText(found.info.label)) + " in slot " +
            std::to_string(found.slot);
  }
  outcome = Fail(TokenError::kNoToken,
                 "no PKCS #11 token matches the key's URI" +
                     (uri.token ? " (token " + Quoted(*uri.token) + ")" : std::string()) +
                     "; tokens seen: " + (seen.empty() ? std::string("none") : seen));
  return std::nullopt;
}

constexpr std::size_t kMaxPinBytes = 4096;

// The PIN from the pin-source file, the environment or the URI, in that order.
std::optional<std::string> FindPin(const Pkcs11Uri& uri, TokenOutcome& outcome) {
  if (uri.pinSource) {
    // Only the first line is read, however large the file: a PIN is short.
    std::string pin;
    const FileResult read = ReadFirstLine(*uri.pinSource, kMaxPinBytes, pin);
    if (!read.Ok()) {
      outcome = Fail(TokenError::kPinUnreadable,
                     "cannot read the PIN file " + Quoted(*uri.pinSource) + ": " +
                         (read.error == EFBIG ? std::string("its first line is longer than 4 KiB")
                                              : FileErrorText(read.error)));
      return std::nullopt;
    }
    return pin;
  }
  if (const char* pin = std::getenv(kPkcs11PinVariable); pin != nullptr) return std::string(pin);
  if (uri.pinValue) return *uri.pinValue;
  return std::nullopt;
}

TokenOutcome LoginFailure(CK_RV rv, const std::string& label) {
  switch (rv) {
    case CKR_PIN_INCORRECT:
      return Fail(TokenError::kPinIncorrect,
                  "login to PKCS #11 token " + Quoted(label) +
                      " failed: wrong PIN (tokens lock the PIN after a few wrong tries)");
    case CKR_PIN_LOCKED:
      return Fail(TokenError::kPinLocked,
                  "login to PKCS #11 token " + Quoted(label) + " failed: the PIN is locked");
    default:
      return Fail(TokenError::kLoginFailed,
                  "login to PKCS #11 token " + Quoted(label) + " failed: " + ResultName(rv));
  }
}

// Logs the session in where the token asks for it. `login` stays empty when
// no login was needed or the session was logged in already.
TokenOutcome LogIn(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, const FoundToken& token,
                   const Pkcs11Uri& uri, std::unique_ptr<Pkcs11Login>& login) {
  const std::string label = PaddedText(token.info.label);
  if ((token.info.flags & CKF_LOGIN_REQUIRED) == 0) return {};
  if ((token.info.flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0) {
    return Fail(TokenError::kPinPad,
                "PKCS #11 token " + Quoted(label) +
                    " takes its PIN on a PIN pad or its own dialogue; an unattended signer "
                    "cannot wait for it");
  }
  if ((token.info.flags & CKF_USER_PIN_LOCKED) != 0) return LoginFailure(CKR_PIN_LOCKED, label);
  TokenOutcome outcome;
  std::optional<std::string> pin = FindPin(uri, outcome);
  if (outcome.error != TokenError::kNone) return outcome;
  if (!pin) {
    return Fail(TokenError::kNoPin, "PKCS #11 token " + Quoted(label) +
                                        " needs a PIN: give pin-source=file:PATH in the URI or "
                                        "set " +
                                        kPkcs11PinVariable);
  }
  const CK_RV rv = f->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin->data()),
                              static_cast<CK_ULONG>(pin->size()));
  OPENSSL_cleanse(pin->data(), pin->size());
  if (rv == CKR_USER_ALREADY_LOGGED_IN) return {};
  if (rv != CKR_OK) return LoginFailure(rv, label);
  login = std::make_unique<Pkcs11Login>(f, session);
  return {};
}

std::vector<CK_OBJECT_HANDLE> FindPrivateKeys(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session,
                                              const Pkcs11Uri& uri) {
  CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
  std::vector<CK_ATTRIBUTE> wanted = {{CKA_CLASS, &keyClass, sizeof keyClass}};
  std::string label = uri.object.value_or("");
  std::vector<std::uint8_t> id = uri.id.value_or(std::vector<std::uint8_t>());
  if (uri.object) wanted.push_back({CKA_LABEL, label.data(), label.size()});
  if (uri.id) wanted.push_back({CKA_ID, id.data(), id.size()});
  std::vector<CK_OBJECT_HANDLE> keys(kMaxKeysLooked);
  CK_ULONG count = 0;
  if (f->C_FindObjectsInit(session, wanted.data(), wanted.size()) != CKR_OK) return {};
  if (f->C_FindObjects(session, keys.data(), keys.size(), &count) != CKR_OK) count = 0;
  f->C_FindObjectsFinal(session);
  keys.resize(count);
  return keys;
}

std::string ObjectText(const Pkcs11Uri& uri) {
  std::string text;
  if (uri.object) text += " object " + Quoted(*uri.object);
  if (uri.id) text += " with the given id";
  return text;
}

// Of the keys that match the URI, the one that is the certificate's.
std::optional<CK_OBJECT_HANDLE> ChooseKey(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session,
                                          const FoundToken& token, const Pkcs11Uri& uri,
                                          X509* certificate, TokenOutcome& outcome) {
  const std::string label = PaddedText(token.info.label);
  if (uri.type && *uri.type != "private") {
    outcome = Fail(TokenError::kNoKey,
                   "the key's URI names type=" + *uri.type + ", but signing needs a private key");
    return std::nullopt;
  }
  const std::vector<CK_OBJECT_HANDLE> keys = FindPrivateKeys(f, session, uri);
  if (keys.empty()) {
    outcome = Fail(TokenError::kNoKey, "PKCS #11 token " + Quoted(label) + " holds no private key" +
                                           ObjectText(uri) + " that this login can see");
    return std::nullopt;
  }
  std::vector<std::uint8_t> modulus, exponent;
  if (!CertificateRsaKey(certificate, modulus, exponent)) {
    outcome = Fail(TokenError::kKeyMismatch, "the certificate's key is not an RSA key");
    return std::nullopt;
  }
  for (const CK_OBJECT_HANDLE key : keys) {
    const auto type = Attribute(f, session, key, CKA_KEY_TYPE);
    CK_KEY_TYPE keyType = CKK_RSA;
    if (type && type->size() == sizeof keyType) std::memcpy(&keyType, type->data(), sizeof keyType);
    if (keyType != CKK_RSA) continue;
    // A token that keeps these to itself is let through: the signature is
    // checked against the certificate afterwards.
    const auto n = Attribute(f, session, key, CKA_MODULUS);
    const auto e = Attribute(f, session, key, CKA_PUBLIC_EXPONENT);
    if ((!n || WithoutLeadingZeros(*n) == modulus) && (!e || WithoutLeadingZeros(*e) == exponent))
      return key;
  }
  outcome =
      Fail(TokenError::kKeyMismatch,
           "the private key" +
               (keys.size() == 1 ? " " + Quoted(LabelOf(f, session, keys[0]))
                                 : std::string("s") + ObjectText(uri)) +
               " on PKCS #11 token " + Quoted(label) + (keys.size() == 1 ? " is not" : " are not") +
               " the RSA key of the certificate (modulus or public exponent differ)");
  return std::nullopt;
}

bool IsMechanismRefusal(CK_RV rv) {
  return rv == CKR_MECHANISM_INVALID || rv == CKR_MECHANISM_PARAM_INVALID ||
         rv == CKR_KEY_FUNCTION_NOT_PERMITTED || rv == CKR_KEY_TYPE_INCONSISTENT;
}

TokenOutcome Sign(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                  const FoundToken& token, const Pkcs11Uri& uri,
                  std::span<const std::uint8_t> digestInfo, std::vector<std::uint8_t>& signature) {
  const std::string label = PaddedText(token.info.label);
  const std::string keyLabel = Quoted(LabelOf(f, session, key));
  CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
  if (const CK_RV rv = f->C_SignInit(session, &mechanism, key); rv != CKR_OK) {
    if (IsMechanismRefusal(rv)) {
      return Fail(TokenError::kMechanismRefused,
                  "PKCS #11 token " + Quoted(label) + " refuses to sign with key " + keyLabel +
                      " by raw RSA PKCS #1 v1.5 (CKM_RSA_PKCS): " + ResultName(rv));
    }
    return Fail(TokenError::kSignFailed,
                "PKCS #11 token " + Quoted(label) + " cannot start signing: " + ResultName(rv));
  }
  // Some keys want the PIN again for every signature.
  if (TrueAttribute(f, session, key, CKA_ALWAYS_AUTHENTICATE)) {
    TokenOutcome outcome;
    std::optional<std::string> pin = FindPin(uri, outcome);
    if (!pin)
      return outcome.error != TokenError::kNone
                 ? outcome
                 : Fail(
                       TokenError::kNoPin,
                       "key " + keyLabel + " needs the PIN for each signature, and none was given");
    const CK_RV rv = f->C_Login(session, CKU_CONTEXT_SPECIFIC,
                                reinterpret_cast<CK_UTF8CHAR*>(pin->data()), pin->size());
    OPENSSL_cleanse(pin->data(), pin->size());
    if (rv != CKR_OK) return LoginFailure(rv, label);
  }
  std::vector<std::uint8_t> data(digestInfo.begin(), digestInfo.end());
  CK_ULONG size = 0;
  CK_RV rv = f->C_Sign(session, data.data(), data.size(), nullptr, &size);
  if (rv == CKR_OK) {
    signature.resize(size);
    rv = f->C_Sign(session, data.data(), data.size(), signature.data(), &size);
  }
  if (rv != CKR_OK) {
    signature.clear();
    return Fail(TokenError::kSignFailed, "PKCS #11 token " + Quoted(label) +
                                             " failed to sign with key " + keyLabel + ": " +
                                             ResultName(rv));
  }
  signature.resize(size);
  return {};
}

// Whether the signature recovers to the DigestInfo under the certificate's key.
bool SignatureFitsCertificate(X509* certificate, std::span<const std::uint8_t> digestInfo,
                              const std::vector<std::uint8_t>& signature) {
  const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(X509_get0_pubkey(certificate), nullptr));
  std::size_t size = 0;
  if (!context || EVP_PKEY_verify_recover_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_verify_recover(context.get(), nullptr, &size, signature.data(), signature.size()) !=
          1) {
    return false;
  }
  std::vector<std::uint8_t> recovered(size);
  if (EVP_PKEY_verify_recover(context.get(), recovered.data(), &size, signature.data(),
                              signature.size()) != 1) {
    return false;
  }
  recovered.resize(size);
  return std::equal(recovered.begin(), recovered.end(), digestInfo.begin(), digestInfo.end());
}

// A session on the token the URI names, logged in where needed.
struct TokenAccess {
  std::unique_ptr<Pkcs11Module> module;
  FoundToken token;
  std::unique_ptr<Pkcs11Session> session;
  std::unique_ptr<Pkcs11Login> login;  // declared last: logged out before the session closes
};

TokenOutcome OpenToken(const Pkcs11Uri& uri, TokenAccess& access) {
  TokenOutcome outcome;
  access.module = Pkcs11Module::Load(uri, outcome);
  if (!access.module) return outcome;
  const std::optional<FoundToken> token = FindToken(*access.module, uri, outcome);
  if (!token) return outcome;
  access.token = *token;
  CK_FUNCTION_LIST* f = access.module->Functions();
  CK_SESSION_HANDLE handle = CK_INVALID_HANDLE;
  if (const CK_RV rv = f->C_OpenSession(token->slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle);
      rv != CKR_OK) {
    return Fail(TokenError::kModuleFailed, "cannot open a session with PKCS #11 token " +
                                               Quoted(PaddedText(token->info.label)) + ": " +
                                               ResultName(rv));
  }
  access.session = std::make_unique<Pkcs11Session>(f, handle);
  return LogIn(f, handle, access.token, uri, access.login);
}

}  // namespace

std::unique_ptr<Pkcs11Module> Pkcs11Module::Load(const Pkcs11Uri& uri, TokenOutcome& outcome) {
  const std::optional<OpenedLibrary> opened = OpenLibrary(uri, outcome);
  if (!opened) return nullptr;
  using GetFunctionList = CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR);
  const auto entry = reinterpret_cast<GetFunctionList>(dlsym(opened->handle, "C_GetFunctionList"));
  CK_FUNCTION_LIST* list = nullptr;
  if (entry == nullptr || entry(&list) != CKR_OK || list == nullptr) {
    dlclose(opened->handle);
    outcome = Fail(TokenError::kModuleNotLoaded,
                   Quoted(opened->name) + " is not a PKCS #11 module (no C_GetFunctionList)");
    return nullptr;
  }
  std::unique_ptr<Pkcs11Module> module(new Pkcs11Module(opened->handle, list, opened->name));
  // The module may make threads of its own, with the system's locks.
  CK_C_INITIALIZE_ARGS arguments{};
  arguments.flags = CKF_OS_LOCKING_OK;
  const CK_RV rv = list->C_Initialize(&arguments);
  if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
    outcome = Fail(TokenError::kModuleFailed, "the PKCS #11 module " + Quoted(opened->name) +
                                                  " fails to start: " + ResultName(rv));
    return nullptr;
  }
  // Someone else in the process started it: it is theirs to finalise.
  module->finalize = rv == CKR_OK;
  return module;
}

Pkcs11Module::~Pkcs11Module() {
  if (finalize) functions->C_Finalize(nullptr);
  dlclose(library);
}

TokenOutcome SignOnToken(const Pkcs11Uri& uri, X509* certificate,
                         std::span<const std::uint8_t> digestInfo,
                         std::vector<std::uint8_t>& signature) {
  signature.clear();
  TokenAccess access;
  TokenOutcome outcome = OpenToken(uri, access);
  if (outcome.error != TokenError::kNone) return outcome;
  CK_FUNCTION_LIST* f = access.module->Functions();
  const CK_SESSION_HANDLE session = access.session->Handle();
  const std::optional<CK_OBJECT_HANDLE> key =
      ChooseKey(f, session, access.token, uri, certificate, outcome);
  if (!key) return outcome;
  outcome = Sign(f, session, *key, access.token, uri, digestInfo, signature);
  if (outcome.error != TokenError::kNone) return outcome;
  if (!SignatureFitsCertificate(certificate, digestInfo, signature)) {
    signature.clear();
    return Fail(TokenError::kKeyMismatch, "the signature made on PKCS #11 token " +
                                              Quoted(PaddedText(access.token.info.label)) +
                                              " does not verify with the certificate's key");
  }
  return {};
}

std::wstring DescribeTokenKey(const Pkcs11Uri& uri, bool& reachable) {
  reachable = false;
  std::string tokenLabel = uri.token.value_or("");
  std::string objectLabel = uri.object.value_or("");
  TokenAccess access;
  if (OpenToken(uri, access).error == TokenError::kNone) {
    tokenLabel = PaddedText(access.token.info.label);
    const std::vector<CK_OBJECT_HANDLE> keys =
        uri.type && *uri.type != "private"
            ? std::vector<CK_OBJECT_HANDLE>()
            : FindPrivateKeys(access.module->Functions(), access.session->Handle(), uri);
    reachable = !keys.empty();
    if (reachable && !uri.object) {
      objectLabel = LabelOf(access.module->Functions(), access.session->Handle(), keys[0]);
    }
  }
  return L"PKCS #11 token '" + ToWide(tokenLabel) + L"', object '" + ToWide(objectLabel) + L"'";
}

}  // namespace brevick
