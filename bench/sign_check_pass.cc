// bench/sign_check_pass.cc: the signing stage of a run over a large manifest
// against one MD2 pass over the same text, alternating so that load from
// elsewhere falls on both alike. The signing stage is everything after the
// text is written out: the unsigned text written, the digest, the signature,
// the signed message written, read back and checked.
// Usage: sign_check_pass SIGNED_MESSAGE SUBJECT OUTPUT [REPEATS]
//   The text is taken from SIGNED_MESSAGE's content; SUBJECT names a
//   certificate in the store My under $XDG_DATA_HOME. Prints the best time of
//   one MD2 pass in seconds on a line of its own, then both times and their
//   ratio.
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/signed_output.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "digest/md2.h"

namespace {

template <typename Step>
double Seconds(Step step) {
  const auto start = std::chrono::steady_clock::now();
  step();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: sign_check_pass SIGNED_MESSAGE SUBJECT OUTPUT [REPEATS]\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(file)), {});
  const unsigned char* next = der.data();
  PKCS7* message = d2i_PKCS7(nullptr, &next, static_cast<long>(der.size()));
  if (message == nullptr || !PKCS7_type_is_signed(message)) {
    std::fprintf(stderr, "sign_check_pass: not a signed message\n");
    return 1;
  }
  const ASN1_OCTET_STRING* content = message->d.sign->contents->d.data;
  const std::string text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(content)),
                         static_cast<std::size_t>(ASN1_STRING_length(content)));
  PKCS7_free(message);
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size());
  brevick::SignerChoice signer;
  signer.subject = brevick::ToWide(argv[2]);
  signer.storeName = L"My";
  const std::wstring output = brevick::ToWide(argv[3]);
  const int repeats = argc > 4 ? std::atoi(argv[4]) : 3;

  double bestSign = 0;
  double bestMd2 = 0;
  volatile unsigned sink = 0;  // keeps the digest from being optimised away
  for (int i = 0; i < repeats; ++i) {
    brevick::StageResult result = brevick::StageResult::kGoOn;
    const double sign = Seconds([&] { result = brevick::SignAndWriteText(text, output, signer); });
    if (result != brevick::StageResult::kGoOn) {
      std::fprintf(stderr, "sign_check_pass: signing failed\n");
      return 1;
    }
    const double md2 = Seconds([&] { sink = sink + brevick::ComputeMd2(bytes)[0]; });
    if (i == 0 || sign < bestSign) bestSign = sign;
    if (i == 0 || md2 < bestMd2) bestMd2 = md2;
  }
  std::printf("%.4f\n", bestMd2);
  std::printf(
      "text %zu bytes: sign and self-check %.3f s, one MD2 pass %.3f s = %.2fx"
      "  (goal: at most 1.15x)\n",
      text.size(), bestSign, bestMd2, bestSign / bestMd2);
  return 0;
}
