// tests/support/verify_fixture.h: packages, manifests and signed messages for
// the verify tests: a throwaway CA (root -> signer) and a self-signed signer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pki/openssl_handles.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"
#include "verify/verify.h"

namespace brevick::testing {

struct PackageFile {
  std::string module;
  std::string subPath;
  std::string file;  // as the manifest spells it
  std::string bytes;
  std::string digestElements;  // empty: one md5 of `bytes`
};

// The release manifest text for `files`, one module for each run of files
// with one module name.
std::string ManifestFor(const std::vector<PackageFile>& files);
// The OpenSSL digest `name` ("MD5", "SHA256", ...) of `bytes`, lowercase
// hexadecimal.
std::string ShaHex(const std::string& bytes, const char* name);

class VerifyFixture : public ::testing::Test {
 protected:
  VerifyFixture();

  // Writes each file under the package directory (subPath/file, "\" read
  // as "/") and returns the signed manifest's path, signed by `signer`.
  std::string SignPackage(const std::vector<PackageFile>& files, X509* signer, EVP_PKEY* key);
  std::string WriteSigned(const std::string& content, X509* signer, EVP_PKEY* key,
                          X509* carriedExtra = nullptr);
  std::string WriteFile(const std::string& relative, const std::string& bytes) const;
  std::string PackageDir() const { return (temp.Path() / "pkg").string(); }

  TempDir temp;
  X509Ptr root;        // CA, self-signed
  X509Ptr signer;      // issued by root: digitalSignature, codeSigning
  X509Ptr selfSigned;  // its own issuer
  X509Ptr otherRoot;   // a CA that issued nothing here
};

}  // namespace brevick::testing
