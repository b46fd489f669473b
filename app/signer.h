// app/signer.h: choosing the signing certificate, checking it and
// signing, with the operator told on standard error what was chosen, what is
// doubtful about it and why signing failed. Standard output and the error
// list keep the crypto service's fixed texts.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "app/signer_choice.h"
#include "cms/signed_message.h"
#include "pki/cert_store.h"
#include "pki/crypto_result.h"

namespace brevick {

// Records the operator's text of the result in the error list (the empty
// text included).
void ReportCryptoError(CryptoResult code);

// Searches the store for the certificates the choice names; no output.
// `readKey` false leaves the key of the one chosen unread.
CertificateMatch FindSigner(const CertStore& store, const SignerChoice& choice,
                            bool readKey = true);

// For a dry run: whether the choice finds a certificate that may sign, with
// everything a signing run says about it (its doubts on standard error; the
// crypto service's text, or with `strict` the refusals, recorded). Opens no
// key and no token.
bool SignerWouldBeChosen(const SignerChoice& choice);

// Signs content of `contentSize` bytes as the choice says. On success
// `frame` holds the signed message around the content and "signed by ..." has gone to standard
// error. On failure nothing is signed, false is returned and the failure is recorded: the crypto
// service's text (with the reason on standard error), or with `strict` one
// error per warning about the certificate.
// `digestInfo` is the content's DigestInfo of choice.digest, computed once by
// the caller for the signature and the check after writing alike.
bool SignAsChosen(const SignerChoice& choice, std::uint64_t contentSize,
                  std::span<const std::uint8_t> digestInfo, SignedMessageFrame& frame);
}  // namespace brevick
