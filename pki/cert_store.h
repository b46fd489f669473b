// pki/cert_store.h: the current user's certificate stores. Each store is a
// directory under $XDG_DATA_HOME/brevick/certstores/ (XDG_DATA_HOME defaults
// to $HOME/.local/share); its name is the store's name, and its files are the
// certificates, read in ascending byte order of file name:
//   *.pem, *.crt, *.cer  one X.509 certificate, PEM or DER; a PEM file may
//                        hold the private key too, else an unencrypted PEM
//                        <stem>.key beside it is the key, or that file
//                        holds one line, a PKCS #11 URI of a key on a token
//   *.p12, *.pfx         PKCS #12 with an empty password: certificate and key
// Other files, files that do not decode and files over kMaxCertificateFileSize
// are passed over without a word. Stores are only ever read.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pki/certificate_info.h"
#include "pki/openssl_handles.h"
#include "pki/pkcs11_uri.h"

namespace brevick {

// No certificate or key file is larger; a bigger file is junk, and reading it
// would cost memory in proportion.
inline constexpr std::uint64_t kMaxCertificateFileSize = 1024 * 1024;

struct StoredCertificate {
  X509Ptr certificate;
  // Null when the certificate has no usable key: none found, encrypted, not
  // RSA, or not the certificate's own. Such a certificate cannot sign.
  EvpPkeyPtr privateKey;
  KeyStatus keyStatus;   // why privateKey is null, when it is
  std::string fileName;  // the certificate's file in the store, as its bytes
  // The key on a PKCS #11 token that <stem>.key names instead. Whether the
  // token is there and the key fits is only found out when signing.
  std::optional<Pkcs11Uri> tokenKey;

  bool HasKey() const { return privateKey || tokenKey; }
};

// The outcome of a search: the first certificate (in file order) that
// matches, with its key, and how many certificates of the store match.
struct CertificateMatch {
  std::optional<StoredCertificate> chosen;
  std::size_t matchCount = 0;
};

// The directory that holds the stores; empty when neither XDG_DATA_HOME nor
// the home directory is known.
std::string CertStoresDirectory();

// The names of the stores as the directory entries' own bytes (which need not
// be UTF-8), in ascending byte order. A symbolic link counts as a store even
// when it leads nowhere: it then fails to open.
std::vector<std::string> EnumerateStoreEntries();

struct DirClose {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirClose>;

class CertStore {
 public:
  // Opens the store of exactly that name, else the first (in byte order)
  // whose name equals it ignoring ASCII letter case, as Windows store names
  // are case-insensitive. Nothing when there is none or it cannot be opened.
  // A name that is no valid UTF-8 on disk also opens by its converted text,
  // as the listing shows it (with U+FFFD).
  static std::optional<CertStore> Open(const std::wstring& name);
  // The store whose directory entry has exactly these bytes.
  static std::optional<CertStore> OpenEntry(const std::string& entry);

  // Every certificate of the store, with its key where it has a usable one.
  std::vector<StoredCertificate> Certificates() const;

  // Every certificate is decoded and tested; only the first that matches has
  // its key read and checked, so junk and other certificates cost little;
  // `readKey` false leaves that key unread too.
  CertificateMatch Find(const std::function<bool(const X509*)>& matches, bool readKey = true) const;

 private:
  explicit CertStore(DirPtr dir) : directory(std::move(dir)) {}

  DirPtr directory;  // held open: the store's files are read relative to it
};

// Whether `text` contains `part`, with letter case folded for ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters.
bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view part);

}  // namespace brevick
