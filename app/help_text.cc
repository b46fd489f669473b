// app/help_text.cc
//
// Keep this page, the man page (doc/brevick.1.scd) and the bash completion
// (completion/brevick.bash) in step when an option is added.
#include "app/help_text.h"

#include "base/report.h"

namespace brevick {
namespace {

constexpr const char kTitle[] =
    "brevick " BREVICK_VERSION ": signs package manifests as PKCS #7 signed-data messages";

constexpr const char* kHelp[] = {
    "",
    "Usage:",
    "  brevick [-P | -D] [-S STORE] [-R ROOTDIR] [SIGNING OPTIONS] INFILE OUTFILE SUBJECT",
    "  brevick -L [-S STORE]",
    "  brevick -LS [-S STORE]",
    "  brevick --certificates [-S STORE]",
    "  brevick --verify SIGNED [VERIFYING OPTIONS]",
    "  brevick --add-timestamp SIGNED --timestamp URL... [TIMESTAMP OPTIONS]",
    "  brevick --help",
    "  brevick --version",
    "",
    "Signing: reads the manifest INFILE, checks the package rules, stores the digest of",
    "every module file, and writes OUTFILE signed with the first certificate of the store",
    "whose subject contains SUBJECT (letter case ignored).",
    "  -P                  show progress",
    "  -D                  show debug information (and progress)",
    "  -S STORE            the certificate store to sign from (default My)",
    "  -R ROOTDIR          what %SourceRoot% in a signInfo path stands for (default .)",
    "  --digest NAME       sign with NAME and store each file's NAME digest beside its md5:",
    "                      md2 (the default), sha256, sha384, sha512",
    "  --thumbprint HEX    choose the certificate by its SHA-1 or SHA-256 thumbprint;",
    "                      SUBJECT may then be left out",
    "  --strict            certificate warnings (expired, key usage, weak key, several",
    "                      matches) are errors: nothing is signed",
    "  --confine DIR       every module file must lie inside DIR (repeatable)",
    "  --jobs N            hash module files on N threads, two files side by side on",
    "                      each when N > 1 (default: the CPUs available)",
    "  --progress          show a progress display on standard error",
    "  --no-progress       never show it (the default when standard error is no terminal)",
    "",
    "Timestamps (signing and --add-timestamp): an RFC 3161 time-stamp authority (TSA)",
    "vouches that the signature existed at a time, so it outlives its certificate.",
    "  --timestamp URL     ask this TSA (http or https; repeatable, tried in order);",
    "                      when every try fails, the run fails",
    "  --timestamp-digest NAME",
    "                      the digest of the request: sha256 (default), sha384, sha512",
    "  --timestamp-retries N",
    "                      rounds over the URLs before giving up (default 3)",
    "  --timestamp-wait SECONDS",
    "                      wait between rounds (default 10; 0 allowed)",
    "  --timestamp-timeout SECONDS",
    "                      the longest one request may take (default 30)",
    "  --add-timestamp SIGNED",
    "                      add a timestamp to a signed manifest that has none, replacing",
    "                      SIGNED only once the result verifies",
    "",
    "Listing:",
    "  -L                  list the stores and the display name of every certificate",
    "  -LS                 list the certificate stores",
    "  -S STORE            only this store",
    "  --certificates      every certificate in detail: subject, issuer, serial, SHA-256",
    "                      thumbprint, validity, key and whether it can sign",
    "",
    "Verifying: checks the signature, the signer and, with --package, the files.",
    "  --verify SIGNED     the signed message to check",
    "  --package DIR       hash the module files under DIR and compare them",
    "  --trust FILE        trust anchor certificates, PEM or DER (repeatable)",
    "  --trust-store NAME  trust the certificates of this store (repeatable)",
    "  --signer SHA256     trust the signer with this SHA-256 thumbprint",
    "  --extract FILE      write the signed manifest to FILE, only when every signature",
    "                      is valid and the signer trusted",
    "  --json FILE         write a JSON report to FILE (- for standard output)",
    "  --strict            extra files, files without a digest, an extended key usage",
    "                      without codeSigning and an MD2 signature fail too",
    "  --jobs N            hash N module files at a time (default: the CPUs available)",
    "",
    "Other:",
    "  --help              show this page",
    "  --version           show the version and the OpenSSL version",
    "",
    "Exit codes:",
    "  signing, -L, -LS, --certificates:",
    "                      0 no error; 1 errors (listed after \"There were errors:\") or a",
    "                      command line that fits no mode",
    "  --verify:           0 verified; else the sum of 1 not a valid signed message,",
    "                      2 signer not trusted, 4 a module file differs, is missing or",
    "                      unreadable, 8 the --extract file or the --json report could",
    "                      not be written; 64 a command line that cannot be used",
    "  --add-timestamp:    0 added; 1 every try failed, SIGNED is no valid signed",
    "                      manifest or has a timestamp already; 64 as for --verify",
    "  --help, --version:  0",
    "",
    "Stores: $XDG_DATA_HOME/brevick/certstores/STORE/ (default ~/.local/share/brevick/...).",
    "More in brevick(1).",
};

}  // namespace

void PrintHelp() {
  WriteLineUtf8(kTitle);
  for (const char* line : kHelp) WriteLineUtf8(line);
}

}  // namespace brevick
