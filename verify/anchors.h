// verify/anchors.h: the certificates a recipient trusts, read from files and
// Brevick stores, each remembering where it came from so that a verdict can
// name it. Both the signer's chain and the time-stamp authority's use them.
#pragma once

#include <string>
#include <vector>

#include "pki/openssl_handles.h"

namespace brevick {

struct Anchor {
  X509Ptr certificate;
  std::string source;  // the file as given, or "store NAME"
};

struct AnchorSet {
  std::vector<Anchor> anchors;
  // Sources that yielded nothing usable: a reason for distrust, since the
  // recipient asked for them; never skipped quietly.
  std::vector<std::string> problems;

  bool Empty() const { return anchors.empty() && problems.empty(); }
  std::vector<X509*> Certificates() const;
  // "chains to <subject> (<source>)" for the anchor a chain ended at.
  std::string ChainsTo(X509* anchor) const;
  // "<source>: <subject>" for each anchor.
  std::vector<std::string> Descriptions() const;
};

AnchorSet LoadAnchors(const std::vector<std::string>& files,
                      const std::vector<std::wstring>& stores);

}  // namespace brevick
