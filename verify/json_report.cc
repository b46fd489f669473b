// verify/json_report.cc
#include "verify/json_report.h"

#include <cstdio>

#include "base/utf8.h"

namespace brevick {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// What a terminal must not get raw, every control JSON itself forbids, and
// U+FFFD, so that a replaced byte stays visible as such.
bool NeedsUnicodeEscape(char32_t c) {
  return c < 0x20 || IsHiddenCharacter(c) || c == kReplacement;
}

// Appends `,"name":` (no comma before the first field of an object).
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& output) : out(output) { out += '{'; }
  std::string& Field(std::string_view name) {
    if (!first) out += ',';
    first = false;
    out += JsonString(name);
    out += ':';
    return out;
  }
  void String(std::string_view name, std::string_view value) { Field(name) += JsonString(value); }
  void Bool(std::string_view name, bool value) { Field(name) += value ? "true" : "false"; }
  void Close() { out += '}'; }

 private:
  std::string& out;
  bool first = true;
};

void StringArray(std::string& out, const std::vector<std::string>& values) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out += ',';
    out += JsonString(values[i]);
  }
  out += ']';
}

void OptionalString(ObjectWriter& object, std::string_view name, const std::string& value) {
  if (value.empty()) {
    object.Field(name) += "null";
  } else {
    object.String(name, value);
  }
}

void SignerFields(ObjectWriter& object, const SignerDetails& signer);

void WriteSigner(std::string& out, const std::optional<SignerDetails>& signer,
                 const std::string& signingTime) {
  if (!signer) {
    out += "null";
    return;
  }
  ObjectWriter object(out);
  SignerFields(object, *signer);
  OptionalString(object, "signing_time", signingTime);
  object.Close();
}

void WriteTimestamp(std::string& out, const std::optional<VerifyReport::Timestamp>& timestamp) {
  if (!timestamp) {
    out += "null";
    return;
  }
  ObjectWriter object(out);
  object.Bool("valid", timestamp->valid);
  object.Bool("trusted", timestamp->trusted);
  OptionalString(object, "time", timestamp->time);
  OptionalString(object, "digest", timestamp->digest);
  OptionalString(object, "policy", timestamp->policy);
  OptionalString(object, "serial", timestamp->serial);
  std::string& tsa = object.Field("tsa");
  if (timestamp->tsa) {
    ObjectWriter details(tsa);
    details.String("subject", timestamp->tsa->subject);
    details.String("issuer", timestamp->tsa->issuer);
    details.String("serial", timestamp->tsa->serial);
    details.String("sha256", timestamp->tsa->sha256);
    details.String("not_before", timestamp->tsa->notBefore);
    details.String("not_after", timestamp->tsa->notAfter);
    details.Close();
  } else {
    tsa += "null";
  }
  OptionalString(object, "reason", timestamp->reason);
  object.Close();
}

void WriteRevocation(std::string& out, const std::optional<VerifyReport::Revocation>& revocation) {
  if (!revocation) {
    out += "null";
    return;
  }
  ObjectWriter object(out);
  object.Bool("checked", revocation->checked);
  object.Bool("revoked", revocation->revoked);
  OptionalString(object, "revoked_at", revocation->revokedAt);
  OptionalString(object, "reason", revocation->reason);
  StringArray(object.Field("crls"), revocation->crls);
  OptionalString(object, "error", revocation->error);
  object.Close();
}

void WriteSigners(std::string& out, const std::vector<VerifyReport::SignerResult>& signers) {
  out += '[';
  for (std::size_t i = 0; i < signers.size(); ++i) {
    if (i != 0) out += ',';
    ObjectWriter object(out);
    object.Bool("valid", signers[i].valid);
    OptionalString(object, "error", signers[i].error);
    OptionalString(object, "digest", signers[i].digest);
    OptionalString(object, "signing_time", signers[i].signingTime);
    WriteSigner(object.Field("certificate"), signers[i].certificate, {});
    object.Close();
  }
  out += ']';
}

void SignerFields(ObjectWriter& object, const SignerDetails& signer) {
  object.String("subject", signer.subject);
  object.String("issuer", signer.issuer);
  object.String("serial", signer.serial);
  object.String("sha256", signer.sha256);
  object.String("sha1", signer.sha1);
  object.String("not_before", signer.notBefore);
  object.String("not_after", signer.notAfter);
  object.String("key", signer.key);
}

void WriteEntry(std::string& out, const FileEntry& entry) {
  ObjectWriter object(out);
  object.String("module", entry.module);
  object.String("path", entry.path);
  object.String("status", FileStatusText(entry.status));
  if (!entry.detail.empty()) object.String("detail", entry.detail);
  std::string& digests = object.Field("digests");
  ObjectWriter digestObject(digests);
  for (const DigestComparison& digest : entry.digests) {
    ObjectWriter pair(digestObject.Field(DigestKindName(digest.kind)));
    pair.String("expected", digest.expected);
    OptionalString(pair, "actual", digest.actual);
    pair.Close();
  }
  digestObject.Close();
  object.Close();
}

void WriteFiles(std::string& out, const VerifyReport::Files& files) {
  ObjectWriter object(out);
  object.Bool("checked", files.checked);
  OptionalString(object, "root", files.root);
  OptionalString(object, "error", files.error);
  OptionalString(object, "skipped", files.skipped);
  std::string& entries = object.Field("entries");
  entries += '[';
  for (std::size_t i = 0; i < files.entries.size(); ++i) {
    if (i != 0) entries += ',';
    WriteEntry(entries, files.entries[i]);
  }
  entries += ']';
  StringArray(object.Field("extra"), files.extra);
  object.Close();
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char decoded = DecodeUtf8(text.substr(i));
    const std::string_view bytes = text.substr(i, decoded.length);
    const char32_t c = decoded.codePoint;
    i += decoded.length;
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (NeedsUnicodeEscape(c)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += bytes;
    }
  }
  out += '"';
  return out;
}

std::string VerifyReportToJson(const VerifyReport& report) {
  std::string out;
  ObjectWriter object(out);
  object.Field("version") += std::to_string(kVerifyJsonVersion);
  object.String("file", report.file);
  {
    ObjectWriter signature(object.Field("signature"));
    signature.Bool("valid", report.signature.valid);
    OptionalString(signature, "digest", report.signature.digest);
    OptionalString(signature, "error", report.signature.error);
    signature.Close();
  }
  WriteSigner(object.Field("signer"), report.signer, report.signature.signingTime);
  WriteSigners(object.Field("signers"), report.signers);
  WriteTimestamp(object.Field("timestamp"), report.timestamp);
  {
    ObjectWriter trust(object.Field("trust"));
    trust.Bool("checked", report.trust.checked);
    trust.Bool("trusted", report.trust.trusted);
    StringArray(trust.Field("anchors"), report.trust.anchors);
    trust.String("reason", report.trust.reason);
    OptionalString(trust, "at", report.trust.at);
    OptionalString(trust, "at_source", report.trust.atSource);
    trust.Close();
  }
  WriteRevocation(object.Field("revocation"), report.revocation);
  WriteFiles(object.Field("files"), report.files);
  if (!report.extractError.empty()) object.String("extract_error", report.extractError);
  object.Field("exit_code") += std::to_string(report.exitCode);
  object.Close();
  out += '\n';
  return out;
}

}  // namespace brevick
