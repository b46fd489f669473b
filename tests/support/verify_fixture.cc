// tests/support/verify_fixture.cc
#include "tests/support/verify_fixture.h"

#include <algorithm>

#include "base/hex_text.h"
#include "cms/signed_message.h"
#include "tests/support/bytes.h"

namespace brevick::testing {

std::string ShaHex(const std::string& bytes, const char* name) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_get_digestbyname(name), nullptr);
  return HexText({digest, size});
}

std::string ManifestFor(const std::vector<PackageFile>& files) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dravanePackage><package "
      "name=\"Test\" id=\"{3F2504E0-4F89-11D3-9A0C-0305E82C3301}\"><modules>";
  const std::string moduleEnd = "</dependencies></module>";
  for (std::size_t i = 0; i < files.size(); ++i) {
    const PackageFile& file = files[i];
    if (i == 0 || files[i - 1].module != file.module) {
      xml += (i == 0 ? "" : moduleEnd) + "<module name=\"" + file.module + "\" subPath=\"" +
             file.subPath + "\"><dependencies>";
    }
    xml += "<dependency file=\"" + file.file +
           "\" entryPoint=\"0\"><destination value=\"local\"/>" +
           (file.digestElements.empty() ? "<md5 value=\"0x" + ShaHex(file.bytes, "MD5") + "\"/>"
                                        : file.digestElements) +
           "</dependency>";
  }
  return xml + (files.empty() ? "" : moduleEnd) + "</modules></package></dravanePackage>\n";
}

VerifyFixture::VerifyFixture() {
  root =
      MakeCertificate(TestRsaKey(1), {{"CN", "Test Root"}},
                      {.basicConstraints = "critical,CA:TRUE", .keyUsage = "keyCertSign,cRLSign"});
  signer = MakeCertificate(TestRsaKey(0), {{"O", "Example"}, {"CN", "Release Signer"}},
                           {.serial = 7,
                            .issuer = root.get(),
                            .issuerKey = TestRsaKey(1),
                            .keyUsage = "critical,digitalSignature",
                            .extendedKeyUsage = "codeSigning"});
  selfSigned = MakeCertificate(TestRsaKey(2), {{"CN", "Self Signer"}}, {.serial = 3});
  otherRoot = MakeCertificate(TestRsaKey(3), {{"CN", "Other Root"}},
                              {.basicConstraints = "critical,CA:TRUE"});
}

std::string VerifyFixture::WriteFile(const std::string& relative, const std::string& bytes) const {
  return temp.WriteFile(relative, bytes).string();
}

std::string VerifyFixture::WriteSigned(const std::string& content, X509* signerCert, EVP_PKEY* key,
                                       X509* carriedExtra) {
  std::vector<std::uint8_t> message = SignedMessage(signerCert, key, BytesOf(content));
  EXPECT_FALSE(message.empty());
  if (carriedExtra != nullptr) {  // the certificate added to those the message carries
    const unsigned char* next = message.data();
    const Pkcs7Ptr decoded(d2i_PKCS7(nullptr, &next, static_cast<long>(message.size())));
    unsigned char* der = nullptr;
    const int size =
        PKCS7_add_certificate(decoded.get(), carriedExtra) ? i2d_PKCS7(decoded.get(), &der) : 0;
    const OpenSslBytesPtr owned(der);
    message.assign(der, der + std::max(size, 0));
  }
  return WriteFile("signed.p7", std::string(message.begin(), message.end()));
}

std::string VerifyFixture::SignPackage(const std::vector<PackageFile>& files, X509* signerCert,
                                       EVP_PKEY* key) {
  for (const PackageFile& file : files) {
    std::string relative = file.subPath.empty() ? file.file : file.subPath + "/" + file.file;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    WriteFile("pkg/" + relative, file.bytes);
  }
  std::filesystem::create_directories(temp.Path() / "pkg");
  return WriteSigned(ManifestFor(files), signerCert, key);
}

}  // namespace brevick::testing
