// Fuzzes the whole recipient's check on arbitrary bytes as the signed
// message: signature, signer details, trust against a pin and a trust file,
// the package check over a small directory, and the JSON report. The seeds
// are real signed manifests, so mutations reach every field of the message
// and, when the signature still holds, the manifest parser and file checks.
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "verify/json_report.h"
#include "verify/verify.h"

namespace {

struct Scratch;
const Scratch& GetScratch();

struct Scratch {
  int messageFd = -1;
  std::string messagePath;
  std::string packageDirectory;
  std::string trustFile;
};

const Scratch& GetScratch() {
  // Never destroyed: the exit handler below still reads it.
  static const Scratch& scratch = *[] {
    auto* made = new Scratch;
    made->messageFd = memfd_create("verify-fuzz", MFD_CLOEXEC);
    if (made->messageFd < 0) __builtin_trap();
    made->messagePath = "/proc/self/fd/" + std::to_string(made->messageFd);
    char directory[] = "/tmp/brevick-verify-fuzz-XXXXXX";
    if (mkdtemp(directory) == nullptr) __builtin_trap();
    made->packageDirectory = directory;
    // A module file the seeds name, and a trust file that holds no certificate.
    FILE* file = fopen((made->packageDirectory + "/harbour.cfg").c_str(), "w");
    if (file != nullptr) fclose(file);
    made->trustFile = made->packageDirectory + "/empty.pem";
    file = fopen(made->trustFile.c_str(), "w");
    if (file != nullptr) fclose(file);
    std::atexit([] {
      const Scratch& done = GetScratch();
      unlink((done.packageDirectory + "/harbour.cfg").c_str());
      unlink(done.trustFile.c_str());
      rmdir(done.packageDirectory.c_str());
    });
    return made;
  }();
  return scratch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> content;
  const brevick::CryptoResult code = brevick::VerifySignedMessage(std::span(data, size), content);
  // Content is handed out exactly with success and with a failed signature.
  const bool gaveContent =
      code == brevick::CryptoResult::kOk || code == brevick::CryptoResult::kSignatureMismatch;
  if (!gaveContent && !content.empty()) __builtin_trap();

  const Scratch& scratch = GetScratch();
  if (ftruncate(scratch.messageFd, 0) != 0 ||
      pwrite(scratch.messageFd, data, size, 0) != static_cast<ssize_t>(size)) {
    return 0;
  }
  brevick::VerifyOptions options;
  options.signedPath = scratch.messagePath;
  options.packageDirectory = scratch.packageDirectory;
  options.trustFiles = {scratch.trustFile};
  options.pinnedSha256 = std::string(64, '0');
  options.strict = (size % 2) == 0;
  const brevick::VerifyReport report = brevick::VerifySignedManifest(options);
  // The checks agree with the signature check above, and an invalid
  // message is never trusted nor has its files checked.
  if (report.signature.valid != (code == brevick::CryptoResult::kOk)) __builtin_trap();
  if (!report.signature.valid &&
      (report.trust.trusted || report.files.checked || report.exitCode != 1)) {
    __builtin_trap();
  }
  if (VerifyReportToJson(report).empty()) __builtin_trap();
  return 0;
}
