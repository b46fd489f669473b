// tests/support/signing_run.cc
#include "tests/support/signing_run.h"

namespace brevick::testing {

SigningRunTest::SigningRunTest()
    : certificate(MakeCertificate(TestRsaKey(0), {{"O", "Example"}, {"CN", kRunSigner}})) {
  stores.AddPemWithKey("My", "signer.pem", certificate.get(), TestRsaKey(0));
}

ProcessResult SigningRunTest::Run(const std::vector<std::string>& args,
                                  ProcessOptions options) const {
  options.workingDirectory = work.Path().string();
  // A proxy in the environment must never stand between a run and 127.0.0.1.
  options.env.insert(options.env.end(),
                     {{"HOME", stores.Root().string()}, {"no_proxy", "*"}, {"NO_PROXY", "*"}});
  return RunBrevick(args, options);
}

std::string SigningRunTest::FailedWith(const std::string& errors) {
  return Banner() + "\nThere were errors:\n" + errors;
}

std::string SigningRunTest::Read(const std::string& name) const {
  const std::filesystem::path file = work.Path() / name;
  return std::filesystem::exists(file) ? ReadFileBytes(file) : "<none>";
}

void SigningRunTest::Package() const {
  work.WriteFile("bin/a.dll", "abc");
  work.WriteFile("m.xml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dravanePackage>\n  <package "
                 "name=\"P\" id=\"{00000000-0000-0000-0000-000000000001}\">\n    <modules>\n"
                 "      <module name=\"A\" id=\"{00000000-0000-0000-0000-000000000002}\" "
                 "host=\"Engine\" subPath=\"bin\">\n        <dependencies>\n          "
                 "<dependency file=\"a.dll\" entryPoint=\"1\"><destination value=\"local\"/>"
                 "<md5/></dependency>\n        </dependencies>\n      </module>\n    "
                 "</modules>\n  </package>\n</dravanePackage>\n");
}

}  // namespace brevick::testing
