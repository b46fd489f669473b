// Holds Brevick's release text against libxml2, a standard XML parser used
// here as the oracle only. For every input Brevick would sign (it parses,
// validates, loses its developer information and has every module file
// hashed), the written text must parse with libxml2, and there each
// dependency's module path and file name must name the very file Brevick
// hashed, its md5 value must be that file's digest, and no developer
// attribute may be left. Attribute values Brevick keeps unquoted are quoted
// before the text is written, since standard parsers refuse them.
// Module files are created per input, under a scratch directory, at the
// paths the dependencies name; each holds its own relative path.
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/console_reporter.h"
#include "base/report.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "manifest/developer_info.h"
#include "manifest/hashing_step.h"
#include "manifest/manifest_tree.h"
#include "manifest/validation.h"
#include "xml/parser.h"
#include "xml/writer.h"
#include "xml/xmldoc.h"

namespace {

constexpr std::size_t kMaxPathBytes = 2000;
constexpr std::size_t kMaxNameBytes = 200;

struct ScratchDirectory {
  std::filesystem::path path;
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

const std::filesystem::path& Scratch() {
  static ScratchDirectory scratch;
  static const std::filesystem::path& path = [&]() -> const std::filesystem::path& {
    char pattern[] = "/tmp/brevick-differential-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    scratch.path = pattern;
    return scratch.path;
  }();
  return path;
}

[[noreturn]] void Finding(const std::string& what, const std::string& text) {
  std::fprintf(stderr, "differential finding: %s\n--- signed text ---\n%s\n---\n", what.c_str(),
               text.c_str());
  std::abort();
}

std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The file a dependency without signInfo names, relative to the manifest
// directory, as Brevick opens it; empty when it could leave the scratch
// directory or is not a usable name.
std::string RelativeModulePath(const std::string& subPath, const std::string& file) {
  const std::string relative = Slashed(subPath.empty() ? file : subPath + "/" + file);
  if (relative.size() > kMaxPathBytes || relative.find('\0') != std::string::npos) return {};
  for (const auto& part : std::filesystem::path(relative)) {
    if (part == ".." || part.string().size() > kMaxNameBytes) return {};
  }
  return relative;
}

std::string Md5Text(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "0x";
  for (unsigned int i = 0; i < size; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 15]);
  }
  return text;
}

struct Dependency {
  std::string subPath, file, md5;
  bool hasMd5 = false;
  bool throughSignInfo = false;
};

// Brevick's view: the modules and dependencies file hashing walks.
std::vector<Dependency> BrevickDependencies(xmldoc::Document& document) {
  std::vector<Dependency> found;
  xmldoc::Element& modules =
      document.GetRoot().GetChildElement("package").GetChildElement("modules");
  for (xmldoc::Element* module : brevick::ChildElements(modules)) {
    const std::string subPath = module->FindAttribute("subPath").GetText();
    for (xmldoc::Element* dependency :
         brevick::ChildElements(module->GetChildElement("dependencies"))) {
      Dependency entry{subPath, dependency->FindAttribute("file").GetText(), "", false, false};
      entry.throughSignInfo =
          !dependency->GetChildElement("signInfo").FindAttribute("path").GetText().empty();
      const xmldoc::Element& md5 = dependency->GetChildElement("md5");
      entry.hasMd5 = !md5.IsNull();
      entry.md5 = md5.FindAttribute("value").GetText();
      found.push_back(entry);
    }
  }
  return found;
}

// Quotes every unquoted attribute; false when a value could not be quoted.
bool QuoteAttributes(xmldoc::NodeContainer& container) {
  for (const auto& child : container.GetChildren()) {
    if (!child->IsType(xmldoc::kElementType)) continue;
    auto& element = static_cast<xmldoc::Element&>(*child);
    for (const auto& attribute : element.GetAttributes()) {
      if (!attribute->IsUnquoted()) continue;
      if (attribute->GetText().find('"') != std::string::npos) return false;
      attribute->SetUnquoted(false);
    }
    if (!QuoteAttributes(element)) return false;
  }
  return true;
}

// libxml2's view.
xmlNode* FirstChildElement(xmlNode* parent, const char* name) {
  for (xmlNode* child = parent == nullptr ? nullptr : parent->children; child != nullptr;
       child = child->next) {
    if (child->type == XML_ELEMENT_NODE && xmlStrcmp(child->name, BAD_CAST name) == 0) return child;
  }
  return nullptr;
}

std::vector<xmlNode*> ChildElementsOf(xmlNode* parent) {
  std::vector<xmlNode*> found;
  for (xmlNode* child = parent == nullptr ? nullptr : parent->children; child != nullptr;
       child = child->next) {
    if (child->type == XML_ELEMENT_NODE) found.push_back(child);
  }
  return found;
}

std::string Property(xmlNode* node, const char* name) {
  xmlChar* value = node == nullptr ? nullptr : xmlGetProp(node, BAD_CAST name);
  if (value == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return text;
}

bool HasProperty(xmlNode* node, const char* name) {
  return node != nullptr && xmlHasProp(node, BAD_CAST name) != nullptr;
}

void IgnoreXmlErrors(void*, const char*, ...) {}

// Three classes of text Brevick signs and libxml2 refuses are known and kept:
// a version number other than 1.x in the XML declaration, names with a colon
// that break the namespace rules (Brevick reads names as bytes, as the format
// always has), and an encoding other than UTF-8 or ISO-8859-1 (Brevick keeps
// the bytes of any encoding but UTF-8 as they are). They are counted and
// passed over, so that a run looks for every other difference.
std::size_t comparedTexts = 0;  // inputs Brevick would sign, compared in full
std::size_t skippedVersions = 0, skippedNamespaces = 0, skippedEncodings = 0;

void PrintSummary() {
  std::fprintf(stderr,
               "differential: %zu texts compared; passed over %zu with another XML version and "
               "%zu with colons in names and %zu in another encoding\n",
               comparedTexts, skippedVersions, skippedNamespaces, skippedEncodings);
}

// UTF-8 texts are checked by both parsers and every ISO-8859-1 byte is a
// character, so those two compare in full; in any other encoding Brevick
// keeps bytes that libxml2 may find ill-formed for it.
bool IsEncodingComparable(const std::string& encoding) {
  if (encoding.empty()) return true;
  const xmlCharEncoding known = xmlParseCharEncoding(encoding.c_str());
  return known == XML_CHAR_ENCODING_UTF8 || known == XML_CHAR_ENCODING_8859_1;
}

bool IsVersionOne(const std::string& version) {
  return version.size() > 2 && version.compare(0, 2, "1.") == 0 &&
         version.find_first_not_of("0123456789", 2) == std::string::npos;
}

// Whether an element or attribute name in the tree holds a colon.
bool HasPrefixedName(const xmldoc::Element& root) {
  std::vector<const xmldoc::Element*> pending = {&root};
  while (!pending.empty()) {
    const xmldoc::Element* element = pending.back();
    pending.pop_back();
    if (element->GetName().find(':') != std::string::npos) return true;
    for (const auto& attribute : element->GetAttributes()) {
      if (attribute->GetName().find(':') != std::string::npos) return true;
    }
    for (const auto& child : element->GetChildren()) {
      if (child->IsType(xmldoc::kElementType))
        pending.push_back(static_cast<const xmldoc::Element*>(child.get()));
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  xmlInitParser();
  xmlSetGenericErrorFunc(nullptr, IgnoreXmlErrors);
  std::atexit(PrintSummary);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path work = Scratch() / "w";
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
  std::filesystem::create_directories(work / "res");
  std::ofstream(work / "res/c.txt") << "";
  brevick::ConsoleCapture console;
  brevick::ConsoleReporter reporter;

  std::unique_ptr<xmldoc::Document> document;
  try {
    document = xmldoc::Parser().Parse(reinterpret_cast<const char*>(data), size);
  } catch (const xmldoc::ParsingException&) {
    return 0;
  }
  // Entities declared in a DTD are a parser's own business; outside this
  // comparison.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.find("<!DOCTYPE") != std::string_view::npos) return 0;
  if (document->IsEmpty() ||
      brevick::ValidateManifest(*document, reporter) != brevick::StageResult::kGoOn)
    return 0;
  if (!brevick::RemovePackageDeveloperInformation(*document, reporter) ||
      !brevick::RemoveModuleDeveloperInformation(*document, reporter)) {
    return 0;
  }

  const std::vector<Dependency> before = BrevickDependencies(*document);
  for (const Dependency& dependency : before) {
    if (dependency.throughSignInfo) continue;
    const std::string relative = RelativeModulePath(dependency.subPath, dependency.file);
    if (relative.empty()) return 0;
    const std::filesystem::path file = work / relative;
    std::filesystem::create_directories(file.parent_path(), ignored);
    std::ofstream(file, std::ios::binary) << relative;
  }

  const std::wstring directory = brevick::ToWide(work.string());
  if (brevick::GenerateFileHashes(*document, brevick::HashSettings{directory, directory},
                                  reporter) != brevick::StageResult::kGoOn) {
    return 0;
  }
  const std::vector<Dependency> hashed = BrevickDependencies(*document);
  if (hashed.size() != before.size()) std::abort();  // hashing neither adds nor drops one
  if (!QuoteAttributes(*document)) return 0;
  const std::string text = xmldoc::ToText(*document, "    ");

  using XmlDocPtr = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;
  if (!IsVersionOne(document->GetVersion())) return ++skippedVersions, 0;
  if (HasPrefixedName(document->GetRoot())) return ++skippedNamespaces, 0;
  if (!IsEncodingComparable(document->GetEncoding())) return ++skippedEncodings, 0;
  const XmlDocPtr parsed(
      xmlReadMemory(text.data(), static_cast<int>(text.size()), "signed.xml", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE),
      xmlFreeDoc);
  if (!parsed) {
    const xmlError* error = xmlGetLastError();
    if (error != nullptr && error->code == XML_ERR_UNSUPPORTED_ENCODING) return 0;
    Finding("libxml2 refuses the text: " +
                std::string(error != nullptr && error->message != nullptr ? error->message : "?"),
            text);
  }

  xmlNode* package = FirstChildElement(xmlDocGetRootElement(parsed.get()), "package");
  if (HasProperty(package, "mode")) Finding("package keeps mode", text);
  std::size_t index = 0;
  for (xmlNode* module : ChildElementsOf(FirstChildElement(package, "modules"))) {
    if (HasProperty(module, "debugPath") || HasProperty(module, "releasePath"))
      Finding("a module keeps a developer path", text);
    const std::string subPath = Property(module, "subPath");
    for (xmlNode* dependency : ChildElementsOf(FirstChildElement(module, "dependencies"))) {
      if (index >= hashed.size()) Finding("libxml2 sees more dependencies", text);
      // Hashing removed the signInfo: whether one led to the file is known
      // from before.
      const bool throughSignInfo = before[index].throughSignInfo;
      const Dependency& brevick = hashed[index++];
      const std::string file = Property(dependency, "file");
      xmlNode* md5 = FirstChildElement(dependency, "md5");
      const std::string md5Value = Property(md5, "value");
      if (subPath != brevick.subPath || file != brevick.file)
        Finding("module path or file name reads otherwise: '" + subPath + "' '" + file +
                    "' where Brevick hashed '" + brevick.subPath + "' '" + brevick.file + "'",
                text);
      if ((md5 != nullptr) != brevick.hasMd5 || md5Value != brevick.md5)
        Finding("md5 reads otherwise: '" + md5Value + "' where Brevick wrote '" + brevick.md5 + "'",
                text);
      if (throughSignInfo || md5 == nullptr) continue;
      // The file the standard parser's names lead to must be the one hashed.
      const std::string relative = RelativeModulePath(subPath, file);
      std::ifstream in(work / relative, std::ios::binary);
      if (relative.empty() || !in) Finding("no module file at '" + relative + "'", text);
      const std::string content((std::istreambuf_iterator<char>(in)), {});
      if (md5Value != Md5Text(content))
        Finding("md5 of '" + relative + "' is " + Md5Text(content) + ", not " + md5Value, text);
    }
  }
  if (index != hashed.size()) Finding("libxml2 sees fewer dependencies", text);
  ++comparedTexts;
  return 0;
}
