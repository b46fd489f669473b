// app/pipeline.cc: the manifest pipeline.
#include "app/pipeline.h"

#include <cstdint>
#include <vector>

#include "app/file_io.h"
#include "app/report.h"
#include "app/stage_results.h"
#include "app/utf8.h"
#include "manifest/developer_info.h"
#include "manifest/file_hashes.h"
#include "manifest/validation.h"
#include "signing/signed_output.h"
#include "xml/document.h"
#include "xml/exception.h"
#include "xml/parser.h"

namespace brevick {
namespace {

bool IsSeparator(wchar_t ch) { return ch == L'/' || ch == L'\\'; }

// Removes the developer attributes, then hashes every module file.
int Prepare(xmldoc::Document& document, const std::wstring& manifestDirectory) {
  if (!RemovePackageDeveloperInformation(document)) return kStageManifestRejected;
  if (!RemoveModuleDeveloperInformation(document)) return kStageManifestRejected;
  return GenerateFileHashes(document, manifestDirectory);
}

}  // namespace

int ProcessManifest(const std::wstring& infile, const std::wstring& outfile,
                    const std::wstring& certSubjectName) {
  ProgressLine(L"Reading manifest: " + infile);
  const std::unique_ptr<xmldoc::Document> document = ReadManifest(infile);
  if (!document) return kStageManifestRejected;
  if (document->IsEmpty()) {
    RecordError(L"No nodes found in the XML file.");
    return kStageManifestRejected;
  }
  const int validation = ValidateManifest(*document);
  if (validation != kStageGoOn) return validation;

  const int preparation = Prepare(*document, ManifestDirectory(infile));
  if (preparation != kStageGoOn) {
    ProgressLine(L"Not generating new manifest due to errors");
    return preparation;
  }
  ProgressLine(L"Signing and writing manifest: " + outfile);
  return SignAndWrite(*document, outfile, certSubjectName);
}

std::unique_ptr<xmldoc::Document> ReadManifest(const std::wstring& path) {
  std::vector<std::uint8_t> buffer;
  const FileResult read = ReadRegularFile(AT_FDCWD, OpenablePath(path), buffer);
  if (!read.opened) {
    RecordError(L"Failed to open " + path + L". " + ToWide(FileErrorText(read.error)));
    return nullptr;
  }
  DebugLine(L"  Length of file: " + std::to_wstring(read.sizeInBytes) + L" bytes");
  if (!read.Ok()) {
    RecordError(ReadErrorMessage(path, read.error));
    return nullptr;
  }

  try {
    std::unique_ptr<xmldoc::Document> document = xmldoc::Parser().Parse(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    return document;
  } catch (const xmldoc::ParsingException& e) {
    RecordError(L"XML parse error in file " + path + L" [" + ToWide(e.GetErrorText()) + L"]");
  }
  return nullptr;
}

std::wstring ManifestDirectory(const std::wstring& path) {
  std::size_t last = path.size();
  while (last > 0 && IsSeparator(path[last - 1])) --last;
  // `last` is now one past the last character that is not a trailing separator.
  std::size_t cut = last;
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0) return std::wstring();
  std::size_t separator = cut - 1;
  if (separator > 0 && path[separator - 1] == L'\\') --separator;
  return path.substr(0, separator);
}

}  // namespace brevick
