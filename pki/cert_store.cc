// pki/cert_store.cc: certificate stores as directories of certificate files.
#include "pki/cert_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "base/file_io.h"
#include "base/utf8.h"
#include "pki/certificate_file.h"

namespace brevick {
namespace {

constexpr char kStoresBelowDataHome[] = "/brevick/certstores";

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  // No HOME (a bare cron job, say): the password database still knows it.
  std::vector<char> buffer(16 * 1024);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr) {
    return {};
  }
  return found->pw_dir;
}

unsigned char AsciiLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(static_cast<unsigned char>(x)) ==
                  AsciiLower(static_cast<unsigned char>(y));
         });
}

// Names in the directory for which `keep(dirFd, name)` holds, in byte order.
template <typename Keep>
std::vector<std::string> SortedEntries(DIR* dir, Keep keep) {
  std::vector<std::string> names;
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (keep(dirfd(dir), name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());  // std::string compares as unsigned bytes
  return names;
}

bool IsStoreEntry(int dirFd, const std::string& name) {
  struct stat status {};
  if (fstatat(dirFd, name.c_str(), &status, 0) == 0) return S_ISDIR(status.st_mode);
  return fstatat(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
}

// The names of the store directories; empty when there is no stores directory.
std::vector<std::string> StoreEntries(DirPtr& root) {
  const std::string directory = CertStoresDirectory();
  if (directory.empty()) return {};
  root.reset(opendir(directory.c_str()));
  if (!root) return {};
  return SortedEntries(root.get(), IsStoreEntry);
}

enum class CertificateFileKind { kNone, kSingle, kPkcs12 };

// File names come from Windows exports too ("SIGNER.PFX"), so the
// extension is compared without regard to ASCII case.
CertificateFileKind StoreFileKindOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return CertificateFileKind::kNone;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(AsciiLower(static_cast<unsigned char>(c)));
  if (extension == "pem" || extension == "crt" || extension == "cer")
    return CertificateFileKind::kSingle;
  if (extension == "p12" || extension == "pfx") return CertificateFileKind::kPkcs12;
  return CertificateFileKind::kNone;
}

// A certificate file read and its certificate decoded; the key of a single
// certificate file is looked for only when asked (AttachKey).
struct CertificateFile {
  StoredCertificate stored;
  std::vector<std::uint8_t> bytes;
  CertificateFileKind kind = CertificateFileKind::kNone;
};

// A key file that names a key on a PKCS #11 token rather than holding one.
bool IsTokenKeyFile(const std::vector<std::uint8_t>& bytes) {
  return LooksLikePkcs11Uri(std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                             std::min<std::size_t>(bytes.size(), 64)));
}

// The URI of a token key file; for a malformed one, what is wrong with it,
// since the operator meant it as a key and would otherwise learn only that
// signing failed.
std::optional<Pkcs11Uri> ReadTokenKey(const std::vector<std::uint8_t>& bytes,
                                      std::string& problem) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  text.remove_prefix(std::min(text.size(), text.find_first_not_of(" \t\r\n")));
  text = text.substr(0, text.find('\n'));  // the URI's one line
  Pkcs11UriParse parsed = ParsePkcs11Uri(text);
  if (parsed.error == Pkcs11UriError::kNone) return std::move(parsed.uri);
  problem = std::string(Pkcs11UriErrorText(parsed.error)) + " '" + parsed.detail + "'";
  return std::nullopt;
}

// Reads a store file of at most kMaxCertificateFileSize bytes; a larger one
// fails with EFBIG before a byte of it is read.
FileResult ReadStoreFile(int dirFd, const std::string& name, std::vector<std::uint8_t>& bytes) {
  return ReadRegularFile(dirFd, name, bytes, kMaxCertificateFileSize);
}

std::optional<CertificateFile> LoadStoreFile(int dirFd, const std::string& name) {
  CertificateFile file;
  file.kind = StoreFileKindOf(name);
  if (file.kind == CertificateFileKind::kNone || !ReadStoreFile(dirFd, name, file.bytes).Ok()) {
    return std::nullopt;
  }
  if (file.kind == CertificateFileKind::kSingle) {
    file.stored.certificate = DecodeStoreCertificate(file.bytes);
    if (!file.stored.certificate) return std::nullopt;
  } else {
    std::optional<Pkcs12Contents> bundle = DecodePkcs12(file.bytes);
    if (!bundle) return std::nullopt;
    file.stored.certificate = std::move(bundle->certificate);
    file.stored.privateKey = std::move(bundle->key);
  }
  file.stored.fileName = name;
  return file;
}

// Finds the key of a single certificate file (in the file, else in
// <stem>.key) and keeps it only when it can sign for the certificate; the
// status says why not.
void AttachKey(int dirFd, CertificateFile& file) {
  StoredCertificate& stored = file.stored;
  KeyStatus& status = stored.keyStatus;
  if (file.kind == CertificateFileKind::kSingle) {
    KeyProblem inFile = KeyProblem::kNoKey;
    if (HoldsPemKey(file.bytes)) stored.privateKey = DecodePemKey(file.bytes, inFile);
    if (!stored.privateKey) {
      status.keyFile = stored.fileName.substr(0, stored.fileName.rfind('.')) + ".key";
      std::vector<std::uint8_t> keyBytes;
      const FileResult read = ReadStoreFile(dirFd, status.keyFile, keyBytes);
      if (read.Ok() && IsTokenKeyFile(keyBytes)) {
        // The key stays on its token; whether it is there and fits the
        // certificate is found out when it signs.
        stored.tokenKey = ReadTokenKey(keyBytes, status.detail);
        status.problem = stored.tokenKey ? KeyProblem::kNone : KeyProblem::kBadTokenUri;
      } else if (read.Ok()) {
        KeyProblem fromKeyFile = KeyProblem::kUndecodable;
        stored.privateKey = DecodePemKey(keyBytes, fromKeyFile);
        status.problem = fromKeyFile;
      } else if (read.error == ENOENT) {
        // A key in the certificate's own file that failed says more.
        status.problem = inFile;
      } else {
        status.problem = KeyProblem::kUnreadable;
        status.error = read.error;
      }
      if (status.problem == KeyProblem::kNone) status.keyFile.clear();
    }
  }
  if (!stored.tokenKey && (stored.privateKey || status.problem == KeyProblem::kNone)) {
    status.problem = CheckSigningKey(stored.certificate.get(), stored.privateKey.get());
  }
  if (status.problem != KeyProblem::kNone) stored.privateKey.reset();
  file.bytes.clear();
}

// The certificate files of the store, in byte order of their names; the
// extension decides, and only regular files (links followed) count.
std::vector<std::string> CandidateFiles(DIR* dir) {
  const auto isCandidate = [](int dirFd, const std::string& name) {
    if (StoreFileKindOf(name) == CertificateFileKind::kNone) return false;
    struct stat status {};
    return fstatat(dirFd, name.c_str(), &status, 0) == 0 && S_ISREG(status.st_mode);
  };
  return SortedEntries(dir, isCandidate);
}

// Simple case folding of the scripts a certificate subject is likely to use;
// outside them a character only matches itself.
wchar_t FoldCase(wchar_t c) {
  if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
  if (c == 0x178) return 0xFF;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

}  // namespace

std::string CertStoresDirectory() {
  // A relative XDG_DATA_HOME is invalid by the base-directory rules and is
  // ignored, as the other XDG tools do.
  if (const char* dataHome = std::getenv("XDG_DATA_HOME");
      dataHome != nullptr && dataHome[0] == '/') {
    return std::string(dataHome) + kStoresBelowDataHome;
  }
  const std::string home = HomeDirectory();
  if (home.empty()) return {};
  return home + "/.local/share" + kStoresBelowDataHome;
}

std::vector<std::string> EnumerateStoreEntries() {
  DirPtr root;
  return StoreEntries(root);
}

std::optional<CertStore> CertStore::Open(const std::wstring& name) {
  DirPtr root;
  const std::vector<std::string> entries = StoreEntries(root);
  const std::string wanted = ToUtf8(name);
  auto found = std::find(entries.begin(), entries.end(), wanted);
  if (found == entries.end()) {
    found = std::find_if(entries.begin(), entries.end(), [&](const std::string& entry) {
      return EqualsIgnoringAsciiCase(entry, wanted);
    });
  }
  if (found == entries.end()) {
    found = std::find_if(entries.begin(), entries.end(),
                         [&](const std::string& entry) { return ToWide(entry) == name; });
  }
  if (found == entries.end()) return std::nullopt;
  return OpenEntry(*found);
}

std::optional<CertStore> CertStore::OpenEntry(const std::string& entry) {
  const std::string directory = CertStoresDirectory();
  if (directory.empty() || entry.empty() || entry.find('/') != std::string::npos || entry == "." ||
      entry == "..") {
    return std::nullopt;
  }
  const int fd = open((directory + "/" + entry).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  DirPtr opened(fdopendir(fd));
  if (!opened) {
    close(fd);
    return std::nullopt;
  }
  return CertStore(std::move(opened));
}

std::vector<StoredCertificate> CertStore::Certificates() const {
  const OpenSslErrorScope errorScope;
  const int dirFd = dirfd(directory.get());
  std::vector<StoredCertificate> certificates;
  for (const std::string& name : CandidateFiles(directory.get())) {
    if (std::optional<CertificateFile> file = LoadStoreFile(dirFd, name)) {
      AttachKey(dirFd, *file);
      certificates.push_back(std::move(file->stored));
    }
  }
  return certificates;
}

CertificateMatch CertStore::Find(const std::function<bool(const X509*)>& matches,
                                 bool readKey) const {
  const OpenSslErrorScope errorScope;
  const int dirFd = dirfd(directory.get());
  CertificateMatch result;
  for (const std::string& name : CandidateFiles(directory.get())) {
    std::optional<CertificateFile> file = LoadStoreFile(dirFd, name);
    if (!file || !matches(file->stored.certificate.get())) continue;
    if (++result.matchCount == 1) {
      if (readKey) AttachKey(dirFd, *file);
      result.chosen = std::move(file->stored);
    }
  }
  return result;
}

bool ContainsIgnoringCase(std::wstring_view text, std::wstring_view part) {
  if (part.empty()) return true;  // std::search finds no empty part in an empty text
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [](wchar_t a, wchar_t b) { return FoldCase(a) == FoldCase(b); }) != text.end();
}

}  // namespace brevick
