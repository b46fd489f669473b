// tests/support/signing_run.cc
#include "tests/support/signing_run.h"

namespace brevick::testing {

SigningRunTest::SigningRunTest()
    : certificate(MakeCertificate(TestRsaKey(0), {{"O", "Example"}, {"CN", kRunSigner}})) {
  stores.AddPemWithKey("My", "signer.pem", certificate.get(), TestRsaKey(0));
}

ProcessResult SigningRunTest::Run(const std::vector<std::string>& args,
                                  long addressSpaceLimitBytes) const {
  return RunBrevickIn(work.Path(), stores.Root(), args, addressSpaceLimitBytes);
}

std::string SigningRunTest::FailedWith(const std::string& errors) {
  return Banner() + "\nThere were errors:\n" + errors;
}

}  // namespace brevick::testing
