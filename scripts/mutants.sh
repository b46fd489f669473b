#!/usr/bin/env bash
# Measures how many plausible faults the test suite catches. Each fault below
# is seeded alone into its source file (one exact text replaced by another),
# the test binaries named with it are rebuilt and run, and the fault counts as
# killed when a test fails (or hangs past the time limit). The source is put
# back after every fault, so the tree ends as it began.
#
# Usage: scripts/mutants.sh [FILTER]      (FILTER: only faults whose line holds it)
# BREVICK_BUILD sets the configured build directory (default build/ci).
# A fault whose text is not found exactly once, or whose build fails, is
# reported as such and not counted: fix its line below.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BREVICK_BUILD:-build/ci}
filter=${1:-}
[ -f "$build/build.ninja" ] || { echo "no configured build in $build" >&2; exit 2; }

# file @@ text as it stands @@ text seeded in its place @@ test binaries (comma-separated)
faults=$(cat <<'EOF'
xml/parser.cc @@ if (depth > kMaxElementDepth) @@ if (depth >= kMaxElementDepth) @@ brevick_xml_tests
xml/writer.cc @@ {'<', '>', '&', '\'', '"'}) classes @@ {'<', '>', '&', '"'}) classes @@ brevick_xml_tests
xml/writer.cc @@ kHexDigits[] = "0123456789ABCDEF" @@ kHexDigits[] = "0123456789abcdef" @@ brevick_xml_tests
xml/node.cc @@ if (!inRun) text[out++] = ' '; @@ if (!inRun || out > 0) text[out++] = ' '; @@ brevick_xml_tests
base/utf8.cc @@ return codePoint == 0x7F || @@ return @@ brevick_base_tests
xml/utf8.cc @@ if (lead == 0xE0) return {3, 0xA0, 0xBF}; @@ if (lead == 0xE0) return {3, 0x80, 0xBF}; @@ brevick_xml_tests,brevick_base_tests
xml/utf8.cc @@ if (lead == 0xED) return {3, 0x80, 0x9F}; @@ if (lead == 0xED) return {3, 0x80, 0xBF}; @@ brevick_xml_tests,brevick_base_tests
xml/utf8.cc @@ if (byte < low || byte > high) return {U'\uFFFD', i, false}; @@ if (byte < low || byte > high) return {U'\uFFFD', 1, false}; @@ brevick_xml_tests,brevick_base_tests
xml/utf8.cc @@ (codePoint < 0xD800 || codePoint > 0xDFFF) @@ (codePoint < 0xD800 || codePoint >= 0xDFFF) @@ brevick_xml_tests,brevick_base_tests
xml/parser.cc @@ if (decoded.codePoint == 0xFFFE || decoded.codePoint == 0xFFFF) { @@ if (decoded.codePoint == 0xFFFE) { @@ brevick_xml_tests
xml/parser.cc @@ if (MatchString("]>")) Error(ParseError::kCDataEndInText); @@ if (MatchString("]")) Error(ParseError::kCDataEndInText); @@ brevick_xml_tests
xml/parser.cc @@ const ClearOnExit<decltype(attributeNames)> clearNames(attributeNames); @@ ; @@ brevick_xml_tests
xml/parser.cc @@ if (attributeNames.empty()) { @@ if (attributeNames.size() > 1) { @@ brevick_xml_tests
xml/node.cc @@ if (position == siblings.size()) return NullElement(); @@ ; @@ brevick_xml_tests
xml/node.cc @@ for (; existing <= index; ++existing) { @@ for (; existing < index; ++existing) { @@ brevick_xml_tests
base/utf8.cc @@ (codePoint >= 0x2066 && codePoint <= 0x2069) @@ (codePoint >= 0x2066 && codePoint <= 0x2068) @@ brevick_base_tests
base/utf8.cc @@ value <= kFirstEscapedByte + 0xFF @@ value < kFirstEscapedByte + 0xFF @@ brevick_base_tests
base/report.cc @@ if (!decoded.wellFormed || IsHiddenCharacter(decoded.codePoint)) { @@ if (IsHiddenCharacter(decoded.codePoint)) { @@ brevick_base_tests
base/report.cc @@ ProgressLine(text); @@ ; @@ brevick_base_tests
base/file_io.cc @@ if (mode && ::fchmod(fd, *mode) != 0) return errno; @@ if (mode && ::fchmod(fd, *mode & 0600) != 0) return errno; @@ brevick_base_tests,brevick_app_tests
digest/md5.cc @@ (pendingSizeInBytes < 56 ? 56 : 120) @@ (pendingSizeInBytes <= 56 ? 56 : 120) @@ brevick_digest_tests
digest/md2.cc @@ checksum[j] ^= kPiSubstitution[block[j] ^ last]; @@ checksum[j] = kPiSubstitution[block[j] ^ last]; @@ brevick_digest_tests
digest/digest_algorithm.cc @@ {"sha384", NID_sha384, EVP_sha384} @@ {"sha512", NID_sha384, EVP_sha384} @@ brevick_digest_tests,brevick_cms_tests
digest/md5.cc @@ for (Md5* md5 : digests) md5->messageSizeInBytes += done; @@ for (Md5* md5 : digests.first(1)) md5->messageSizeInBytes += done; @@ brevick_digest_tests
digest/md5_lanes.cc @@ _mm256_srli_epi32(value, 32 - Bits) @@ _mm256_srli_epi32(value, 31 - Bits) @@ brevick_digest_tests
digest/md5_lanes.cc @@ kMixTables[4] = {0xCA, 0xE4, 0x96, 0x39}; @@ kMixTables[4] = {0xCA, 0xE4, 0x96, 0x93}; @@ brevick_digest_tests
digest/sha256_lanes.cc @@ _mm512_ternarylogic_epi32(a, b, c, 0xE8) @@ _mm512_ternarylogic_epi32(a, b, c, 0xE9) @@ brevick_digest_tests
digest/sha256_lanes.cc @@ _mm_alignr_epi8(previous, words[(G + 2) % 4][s], 4) @@ _mm_alignr_epi8(previous, words[(G + 2) % 4][0], 4) @@ brevick_digest_tests
digest/sha256_lanes.cc @@ digests[first + i]->messageSizeInBytes += done; @@ digests[first]->messageSizeInBytes += done; @@ brevick_digest_tests
manifest/file_hasher.cc @@ starts[count++] = lane->Next(); @@ starts[count++] = members[0]->Next(); @@ brevick_manifest_tests
manifest/file_hasher.cc @@ resolved[directory.size()] == '/') @@ resolved[directory.size()] != '\0') @@ brevick_manifest_tests
manifest/file_hasher.cc @@ if (after != hashing.before || hashing.total != hashing.before.sizeInBytes) @@ if (hashing.total != hashing.before.sizeInBytes) @@ brevick_manifest_tests
manifest/file_hasher.cc @@ nextToClaim >= delivered + window) @@ nextToClaim > delivered + window) @@ brevick_manifest_tests
manifest/file_hasher.cc @@ left == 0 ? buffer.size() @@ left == 0 ? 0 @@ brevick_manifest_tests
manifest/file_hasher.cc @@ if (hashing.wantsMd5) result.md5 = hashing.md5.Final(); @@ result.md5 = hashing.md5.Final(); @@ brevick_manifest_tests
manifest/file_hasher.cc @@ extra.Restart(); @@ ; @@ brevick_manifest_tests
manifest/uuid_check.cc @@ if (value.size() < 3) { @@ if (value.size() < 2) { @@ brevick_manifest_tests
manifest/developer_info.cc @@ module->RemoveAttribute("releasePath"); @@ ; @@ brevick_manifest_tests
manifest/validation.cc @@ GetOrCreateAttribute("entryPoint").GetText() == "1"; @@ GetOrCreateAttribute("entryPoint").GetText() != "0"; @@ brevick_manifest_tests
manifest/source_path.cc @@ const std::size_t token = resolved.find(kSourceRootToken); @@ const std::size_t token = resolved.rfind(kSourceRootToken); @@ brevick_manifest_tests
manifest/hashing_step.cc @@ dependency->RemoveChildElement("signInfo", 0); @@ ; @@ brevick_manifest_tests,brevick_app_tests
pki/cert_store.cc @@ return ReadRegularFile(dirFd, name, bytes, kMaxCertificateFileSize); @@ return ReadRegularFile(dirFd, name, bytes, kMaxCertificateFileSize - 1); @@ brevick_pki_tests,brevick_app_tests
pki/cert_store.cc @@ return FoldCase(a) == FoldCase(b); @@ return FoldCase(a) == b; @@ brevick_pki_tests,brevick_app_tests
base/hex_text.cc @@ if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10; @@ if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a'); @@ brevick_pki_tests
pki/certificate_info.cc @@ (X509_get_extended_key_usage(certificate) & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0; @@ (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN) != 0; @@ brevick_pki_tests,brevick_verify_tests
base/file_io.cc @@ if (!line.empty() && line.back() == '\r') line.pop_back(); @@ ; @@ brevick_base_tests,brevick_token_tests
token/pkcs11_token.cc @@ if (uri.pinSource) { @@ if (uri.pinSource && std::getenv(kPkcs11PinVariable) == nullptr) { @@ brevick_token_tests
pki/certificate_file.cc @@ if (!object || next != bytes.data() + bytes.size()) return PkiFileResult::kCannotDecode; @@ if (!object) return PkiFileResult::kCannotDecode; @@ brevick_pki_tests
pki/certificate_file.cc @@ return result == PkiFileResult::kEmpty ? "holds no CRL" : CertificateFileResultText(result); @@ return CertificateFileResultText(result); @@ brevick_pki_tests,brevick_verify_tests
pki/certificate_info.cc @@ if (c == L':' || c == L' ' || c == L'\t') continue; @@ if (c == L':' || c == L' ') continue; @@ brevick_pki_tests
pki/certificate_info.cc @@ if ((X509_get_extension_flags(certificate) & EXFLAG_KUSAGE) == 0) return true; @@ if ((X509_get_extension_flags(certificate) & EXFLAG_KUSAGE) != 0) return true; @@ brevick_pki_tests
pki/certificate_info.cc @@ return " " + std::string(group, groupSize); @@ return std::string(group, groupSize); @@ brevick_pki_tests
pki/trust.cc @@ return X509_verify_cert_error_string(X509_V_ERR_CERT_NOT_YET_VALID); @@ return X509_verify_cert_error_string(X509_V_ERR_CERT_HAS_EXPIRED); @@ brevick_pki_tests
pki/cert_store.cc @@ status.problem = stored.tokenKey ? KeyProblem::kNone : KeyProblem::kBadTokenUri; @@ status.problem = KeyProblem::kNone; @@ brevick_pki_tests
pki/pkcs11_uri.cc @@ {"module-path", true, StoreText<&Pkcs11Uri::modulePath>}, @@ {"module-path", true, StoreText<&Pkcs11Uri::moduleName>}, @@ brevick_pki_tests
pki/revocation.cc @@ const bool atAnchor = depth > 0 && depth == top; @@ const bool atAnchor = depth == top; @@ brevick_pki_tests,brevick_verify_tests
token/pkcs11_token.cc @@ if (uri.pinValue) return *uri.pinValue; @@ if (uri.pinValue && uri.pinSource) return *uri.pinValue; @@ brevick_token_tests
token/pkcs11_token.cc @@ if (uri.object) wanted.push_back({CKA_LABEL, label.data(), label.size()}); @@ ; @@ brevick_token_tests
cms/signed_message.cc @@ return !recovered.empty() && recovered == DigestInfo(*algorithm, content); @@ return !recovered.empty() && recovered.size() == DigestInfo(*algorithm, content).size(); @@ brevick_cms_tests,brevick_verify_tests
cms/signed_data.cc @@ ASN1_INTEGER_cmp(X509_get0_serialNumber(candidate), wanted->serial) == 0) @@ true) @@ brevick_cms_tests,brevick_verify_tests
cms/signed_data.cc @@ next != der.data() + der.size() || @@ false || @@ brevick_cms_tests
cms/message_check.cc @@ if (check.result == CryptoResult::kOk) check.result = @@ check.result = @@ brevick_cms_tests,brevick_verify_tests
cms/timestamp_token.cc @@ value != *expected.nonce) @@ false) @@ brevick_cms_tests
verify/package_check.cc @@ if (value.starts_with(kHexPrefix)) value.erase(0, kHexPrefix.size()); @@ ; @@ brevick_verify_tests
verify/verify.cc @@       return strict; @@       return strict && false; @@ brevick_verify_tests,brevick_app_tests
verify/json_report.cc @@ out += "\\\""; @@ out += "\""; @@ brevick_verify_tests,brevick_app_tests
verify/package_check.cc @@ if (path.empty() || path[0] == '/' || IsDriveLetterPath(path) || @@ if (path.empty() || IsDriveLetterPath(path) || @@ brevick_verify_tests
verify/verify.cc @@ (strict && !files.extra.empty()) @@ (!files.extra.empty()) @@ brevick_verify_tests
verify/verify.cc @@ if (header->indefinite || header->totalSize == fileSize) return {}; @@ if (header->indefinite || header->totalSize <= fileSize) return {}; @@ brevick_verify_tests
verify/verify.cc @@ if (!report.trust.trusted) { @@ if (false) { @@ brevick_verify_tests
verify/verify.cc @@ "signer " + std::to_string(i + 1) + " of " @@ "signer " + std::to_string(i) + " of " @@ brevick_verify_tests
verify/signer_trust.cc @@ if (!anchors.problems.empty()) { @@ if (false) { @@ brevick_verify_tests
verify/signer_trust.cc @@ if (md2 && options.strict) return @@ if (md2 && !options.strict) return @@ brevick_verify_tests
verify/revocation_check.cc @@ if (signedAt && *signedAt < finding.revokedAt) { @@ if (signedAt) { @@ brevick_verify_tests
cms/timestamp_token.cc @@ (X509_get_extended_key_usage(certificate) & XKU_TIMESTAMP) != 0; @@ true; @@ brevick_cms_tests
base/http_client.cc @@ } else if (response.status < 200 || response.status > 299) { @@ } else if (response.status >= 500) { @@ brevick_base_tests
base/http_client.cc @@ if (bytes > exchange->maxBodyBytes - exchange->body.size()) { @@ if (bytes > exchange->maxBodyBytes) { @@ brevick_base_tests
base/http_client.cc @@ if (!urls.empty() && !Curl().problem.empty()) { @@ if (false) { @@ brevick_app_tests
verify/revocation_check.cc @@ if (unknown == nullptr) unknown = FirstUnknown(tsaFindings); @@ if (unknown != nullptr) unknown = FirstUnknown(tsaFindings); @@ brevick_verify_tests
verify/revocation_check.cc @@ revocation.afterTimestamp = true; @@ ; @@ brevick_verify_tests
verify/timestamp_check.cc @@ if (!reason.empty()) return false; @@ ; @@ brevick_verify_tests
pki/revocation.cc @@ finding.revokedAt = TimeOf(X509_REVOKED_get0_revocationDate(entry)).value_or(0); @@ finding.revokedAt = TimeOf(X509_CRL_get0_lastUpdate(crl)).value_or(0); @@ brevick_pki_tests,brevick_verify_tests
pki/revocation.cc @@ if (since && *since < finding.revokedAt) finding.revokedAt = *since; @@ if (since && *since > finding.revokedAt) finding.revokedAt = *since; @@ brevick_pki_tests,brevick_verify_tests
verify/anchors.cc @@ kMaxTrustFileBytes = 16u << 20; @@ kMaxTrustFileBytes = 16u << 24; @@ brevick_verify_tests
verify/package_hashes.cc @@ extraTaken = true; @@ extraTaken = false; @@ brevick_verify_tests
manifest/hashing_step.cc @@ if (!base.empty()) base += L'\\'; @@ base += L'\\'; @@ brevick_manifest_tests
manifest/hashing_step.cc @@ if (!utf8Document && (HasNonAscii(file) || HasNonAscii(subPath))) @@ if (!utf8Document && HasNonAscii(file)) @@ brevick_manifest_tests
manifest/validation.cc @@ } else if (entryPointCount > 1) { @@ } else if (entryPointCount > 2) { @@ brevick_manifest_tests
base/file_io.cc @@ return ::fsync(file.Get()) == 0 ? 0 : errno; @@ return 0; @@ brevick_base_tests
base/file_io.cc @@ if (line.size() > maxLineBytes) { @@ if (line.size() > maxLineBytes + 1) { @@ brevick_base_tests,brevick_token_tests
base/utf8.cc @@ (codePoint >= 0x202A && codePoint <= 0x202E) @@ (codePoint >= 0x202A && codePoint < 0x202E) @@ brevick_base_tests
xml/parser.cc @@ if (before->GetName() == name) ErrorAt(name.data(), ParseError::kDuplicateAttribute); @@ if (before->GetName() == name) Error(ParseError::kDuplicateAttribute); @@ brevick_xml_tests
xml/writer.cc @@ for (int level = 1; level < depth; ++level) output.append(indent); @@ for (int level = 2; level < depth; ++level) output.append(indent); @@ brevick_xml_tests
cms/signed_message.cc @@ if (!contentMatches || !algorithm || !IsDigestInfoOf(*algorithm, expectedDigestInfo)) @@ if (!contentMatches || !algorithm || (false && !IsDigestInfoOf(*algorithm, expectedDigestInfo))) @@ brevick_cms_tests,brevick_app_tests
cms/signed_message.cc @@ if (!contentMatches || !algorithm || !IsDigestInfoOf(*algorithm, expectedDigestInfo)) @@ if (!contentMatches || (false && !algorithm && !IsDigestInfoOf(*algorithm, expectedDigestInfo))) @@ brevick_cms_tests,brevick_app_tests
cms/timestamp_token.cc @@ if (expected.digest && *expected.digest != *digest) { @@ if (false) { @@ brevick_cms_tests
pki/certificate_file.cc @@ if (ERR_GET_LIB(last) != ERR_LIB_PEM || ERR_GET_REASON(last) != PEM_R_NO_START_LINE) { @@ if (ERR_GET_LIB(last) != ERR_LIB_PEM) { @@ brevick_pki_tests,brevick_verify_tests
verify/signer_trust.cc @@ problems.push_back("pinned, but " + problem); @@ vouched.by = "pinned"; @@ brevick_verify_tests
manifest/validation.cc @@ return host == "Engine" || host == "UI" || host == "All"; @@ return host == "Engine" || host == "UI" || host == "All" || host == "Both"; @@ brevick_manifest_tests
app/signer.cc @@ if (outcome.error != TokenError::kNone) NoticeLine(ToWide(outcome.reason)); @@ ; @@ brevick_token_tests,brevick_app_tests
app/signer.cc @@ if (signer.tokenKey) { @@ if (false) { @@ brevick_token_tests,brevick_app_tests
app/signer.cc @@ if (!signer.tokenKey) { @@ if (true) { @@ brevick_token_tests,brevick_app_tests
app/options.cc @@ if (!valid || count == 0) @@ if (!valid) @@ brevick_app_tests
app/output_guard.cc @@ (output && AnyFileBelowIs(guard.certStoresDirectory, *output, kStoreDepth)) || @@ false || @@ brevick_app_tests
app/pipeline.cc @@ if (validation != StageResult::kGoOn) return validation; @@ if (validation == StageResult::kHashingFailed) return validation; @@ brevick_app_tests
app/options.cc @@ const long least = name == L"--crl-wait" ? 0 : 1; @@ const long least = name == L"--crl-wait" ? 0 : 0; @@ brevick_app_tests
app/options.cc @@ if (!valid || number < least || number > most) { @@ if (!valid || number < least || number >= most) { @@ brevick_app_tests
app/options.cc @@ std::size_t bestDistance = 3; @@ std::size_t bestDistance = 2; @@ brevick_app_tests
app/options.cc @@ (arg == L"-R" ? settings.rootDirectory : settings.storeName.emplace()) @@ (arg == L"-S" ? settings.rootDirectory : settings.storeName.emplace()) @@ brevick_app_tests
app/options.cc @@ value = arg.substr(name.size() + 1); @@ value = arg.substr(name.size()); @@ brevick_app_tests
app/options.cc @@ if (arg == L"--verify" && !result.verifySeen) { @@ if (arg == L"--verify") { @@ brevick_app_tests
app/options.cc @@ if (!result.signedPathSeen && result.usageErrors.empty()) @@ if (!result.signedPathSeen) @@ brevick_app_tests
app/run.cc @@ if (argCount > 4 && hasStore) return false; @@ if (argCount > 5 && hasStore) return false; @@ brevick_app_tests
app/verify_mode.cc @@ if (commandLine.jsonPath != kJsonToStandardOutput) PresentReport(report); @@ PresentReport(report); @@ brevick_app_tests
app/verify_mode.cc @@ exitCode |= static_cast<int>(VerifyFailure::kOutputFailed); @@ exitCode |= 0; @@ brevick_app_tests
app/verify_mode.cc @@ if (!report.reportError.empty()) NoticeLine @@ if (report.reportError.empty()) NoticeLine @@ brevick_app_tests
app/store_listing.cc @@ WriteLine(L"Store contained " + std::to_wstring(certificates.size()) + L" certificate(s)"); @@ WriteLine(L"Store contained " + std::to_wstring(certificates.size() - 1) + L" certificate(s)"); @@ brevick_app_tests
app/timestamping.cc @@ return url.substr(0, start) + url.substr(at + 1); @@ return url; @@ brevick_app_tests
app/timestamping.cc @@ if (settings.tuned && !settings.Wanted()) @@ if (false && !settings.Wanted()) @@ brevick_app_tests
app/timestamping.cc @@ if (!reply.failure.empty()) return reply.failure; @@ ; @@ brevick_app_tests
app/signer.cc @@ if (match.matchCount > 1) { @@ if (match.matchCount > 2) { @@ brevick_app_tests
app/signer.cc @@ if (choice.strict && !doubts.empty()) return std::nullopt; @@ if (choice.strict && doubts.size() > 1) return std::nullopt; @@ brevick_app_tests
app/output_guard.cc @@ if (depth > 1 && it->is_directory(error) @@ if (depth > 2 && it->is_directory(error) @@ brevick_app_tests
app/verify_mode.cc @@ if (signers.size() < 2) return; @@ if (signers.size() < 1) return; @@ brevick_app_tests
app/verify_mode.cc @@ if (entry.status == FileStatus::kOk) continue; @@ ; @@ brevick_app_tests
app/verify_mode.cc @@ if (commandLine.jsonPath && report.reportError.empty() && @@ if (commandLine.jsonPath && @@ brevick_app_tests
app/verify_mode.cc @@ (report.trust.trusted ? "trusted: " : "not trusted: ") @@ (report.trust.trusted ? "trusted: " : "trusted: ") @@ brevick_app_tests
app/timestamping.cc @@ (count == 1 ? L"" : L"s") @@ (count == 0 ? L"" : L"s") @@ brevick_app_tests
app/add_timestamp.cc @@ if (!signer->tokens.empty()) return L"already has a timestamp"; @@ ; @@ brevick_app_tests
app/store_listing.cc @@ if (storeFilter && *storeFilter != ToWide(entry)) continue; @@ ; @@ brevick_app_tests
app/progress_meter.cc @@ WriteToTerminal(kEraseLine); @@ ; @@ brevick_app_tests
app/run.cc @@ if (!quiet) { @@ if (quiet) { @@ brevick_app_tests
app/options.cc @@ c.verify.pinnedSha256 = HexText(*thumbprint); @@ c.verify.pinnedSha256.reset(); @@ brevick_app_tests
xml/writer.cc @@ owned.RemoveAllChildren(); @@ ; @@ brevick_xml_tests
pki/cert_store.cc @@ auto found = std::find(entries.begin(), entries.end(), wanted); @@ auto found = entries.end(); @@ brevick_pki_tests,brevick_app_tests
pki/crypto_result.h @@ kDefaultStoreName[] = L"MY"; @@ kDefaultStoreName[] = L"My"; @@ brevick_pki_tests,brevick_app_tests
manifest/hashing_step.cc @@ if (file.extraFirst) std::swap(md5Offset, extraOffset); @@ ; @@ brevick_manifest_tests
manifest/hashing_step.cc @@ extraOffset = placeholderOffsets[filled++]; @@ extraOffset = placeholderOffsets[filled]; @@ brevick_manifest_tests,brevick_app_tests
digest/md2.cc @@ p = base | ((p + (round + 1) * kScale) & kEntryBits); @@ p = base | ((p + round * kScale) & kEntryBits); @@ brevick_digest_tests
digest/sha256_lanes.cc @@ const std::uint32_t* constants = kRoundConstants; @@ const std::uint32_t* constants = kRoundConstants + 1; @@ brevick_digest_tests
app/pipeline.cc @@ TextDigest digest(text, settings.extraDigest, ownThread); @@ TextDigest digest(text, DigestAlgorithm::kSha256, ownThread); @@ brevick_app_tests
EOF
)

# Replaces the one occurrence of $2 in file $1 by $3; fails unless it is there exactly once.
seed() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(3)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
}

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }

killed=0 survived=0 broken=0
survivors=()
declare -A used=()
backup=$(mktemp)
trap 'rm -f "$backup"' EXIT
while IFS= read -r line; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  [[ -n "$filter" && "$line" != *"$filter"* ]] && continue
  IFS=$'\x01' read -r file old new targets <<<"${line//@@/$'\x01'}"
  file=$(trim "$file") old=$(trim "$old") new=$(trim "$new") targets=$(trim "$targets")
  cp "$file" "$backup"
  if ! seed "$file" "$old" "$new"; then
    echo "NOT FOUND  $file: $old"
    broken=$((broken + 1))
    continue
  fi
  outcome=survived
  IFS=, read -ra binaries <<<"$targets"
  for binary in "${binaries[@]}"; do used[$binary]=1; done
  if ! cmake --build "$build" --target "${binaries[@]}" -j2 >/dev/null 2>&1; then
    outcome=broken
  else
    for binary in "${binaries[@]}"; do
      if ! timeout 300 "$build/tests/$binary" --gtest_brief=1 >/dev/null 2>&1; then
        outcome=killed
        break
      fi
    done
  fi
  cp "$backup" "$file"
  touch "$file"  # newer than the mutant's objects, so the next build redoes them
  case $outcome in
    killed) killed=$((killed + 1)); echo "killed     $file: $old" ;;
    survived) survived=$((survived + 1)); survivors+=("$file: $old -> $new"); echo "SURVIVED   $file: $old" ;;
    broken) broken=$((broken + 1)); echo "NO BUILD   $file: $old" ;;
  esac
done <<<"$faults"

# Leave every binary built from the sources as they stand again.
[ ${#used[@]} -gt 0 ] && cmake --build "$build" --target "${!used[@]}" brevick -j2 >/dev/null 2>&1
total=$((killed + survived))
echo "killed $killed of $total ($((total ? 100 * killed / total : 0))%); $broken not usable"
for s in "${survivors[@]}"; do echo "  survived: $s"; done
[ "$survived" -eq 0 ]
