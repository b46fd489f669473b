// bench/md2_pass.cc: the time of one MD2 pass over the content of a signed
// manifest, with the same MD2 code brevick runs, for the whole-run scripts.
// Usage: md2_pass SIGNED_MESSAGE [REPEATS]  -> prints the best time in seconds
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
#include <vector>

#include "signing/md2.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: md2_pass SIGNED_MESSAGE [REPEATS]\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(file)), {});
  const unsigned char* next = der.data();
  PKCS7* message = d2i_PKCS7(nullptr, &next, static_cast<long>(der.size()));
  if (message == nullptr || !PKCS7_type_is_signed(message)) {
    std::fprintf(stderr, "md2_pass: not a signed message\n");
    return 1;
  }
  const ASN1_OCTET_STRING* content = message->d.sign->contents->d.data;
  const std::span<const std::uint8_t> text(ASN1_STRING_get0_data(content),
                                           static_cast<std::size_t>(ASN1_STRING_length(content)));
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  double best = 0;
  volatile unsigned sink = 0;  // keeps the digest from being optimised away
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    sink = sink + brevick::ComputeMd2(text)[0];
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (i == 0 || took.count() < best) best = took.count();
  }
  std::printf("%.4f\n", best);
  PKCS7_free(message);
  return 0;
}
