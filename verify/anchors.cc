// Reading trust anchors. A file or store that gives nothing is a problem
// rather than an empty set, so that a typo in a path never turns into a
// check against fewer anchors than the recipient meant.
#include "verify/anchors.h"

#include <cerrno>
#include <cstdint>
#include <optional>

#include "base/file_io.h"
#include "base/utf8.h"
#include "pki/cert_store.h"
#include "pki/certificate_file.h"
#include "pki/certificate_info.h"
#include "pki/trust.h"

namespace brevick {
namespace {

// Trust files are certificates: anything larger is refused unread.
constexpr std::uint64_t kMaxTrustFileBytes = 16u << 20;

}  // namespace

std::vector<X509*> AnchorSet::Certificates() const {
  std::vector<X509*> certificates;
  certificates.reserve(anchors.size());
  for (const Anchor& anchor : anchors) certificates.push_back(anchor.certificate.get());
  return certificates;
}

std::string AnchorSet::ChainsTo(X509* anchor) const {
  std::string source;
  for (const Anchor& candidate : anchors) {
    if (anchor != nullptr && X509_cmp(candidate.certificate.get(), anchor) == 0) {
      source = candidate.source;
      break;
    }
  }
  return "chains to " + DescribeCertificate(anchor).subject +
         (source.empty() ? "" : " (" + source + ")");
}

std::vector<std::string> AnchorSet::Descriptions() const {
  std::vector<std::string> descriptions;
  for (const Anchor& anchor : anchors)
    descriptions.push_back(anchor.source + ": " +
                           DescribeCertificate(anchor.certificate.get()).subject);
  return descriptions;
}

AnchorSet LoadAnchors(const std::vector<std::string>& files,
                      const std::vector<std::wstring>& stores) {
  AnchorSet set;
  for (const std::string& path : files) {
    std::vector<X509Ptr> certificates;
    int error = 0;
    const CertificateFileResult result =
        ReadCertificateFile(path, certificates, error, kMaxTrustFileBytes);
    if (result != CertificateFileResult::kOk) {
      std::string problem = "trust file " + path + " " + CertificateFileResultText(result);
      if (error == EFBIG) {
        problem = "trust file " + path + " is larger than 16 MiB";
      } else if (error != 0) {
        problem += " (" + FileErrorText(error) + ")";
      }
      set.problems.push_back(problem);
      continue;
    }
    for (X509Ptr& certificate : certificates) set.anchors.push_back({std::move(certificate), path});
  }
  for (const std::wstring& name : stores) {
    const std::optional<CertStore> store = CertStore::Open(name);
    const std::string source = "store " + ToUtf8(name);
    if (!store) {
      set.problems.push_back("trust " + source + " cannot be opened");
      continue;
    }
    std::vector<StoredCertificate> certificates = store->Certificates();
    if (certificates.empty()) set.problems.push_back("trust " + source + " holds no certificate");
    for (StoredCertificate& stored : certificates)
      set.anchors.push_back({std::move(stored.certificate), source});
  }
  return set;
}

}  // namespace brevick
