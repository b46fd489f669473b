// app/pipeline.h: the manifest pipeline, from the input file to the signed
// output, and where a run stops.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/run_settings.h"
#include "base/stage_result.h"

namespace xmldoc {
class Document;
}

namespace brevick {

// Runs every stage in order on one manifest; returns the result of the stage
// that stopped it, or of the last one. Failures are in the error list, and no
// output file is touched unless every stage before signing went on. A dry
// run (settings.dryRun) stops before signing: the signer is looked up
// without its key, `outfile` is never written, and the prepared text goes
// to --text's file and, with --print, to `preparedText`.
StageResult ProcessManifest(const std::wstring& infile, const std::wstring& outfile,
                            const RunSettings& settings, std::string* preparedText = nullptr);

// Reads and parses the file; every failure is recorded before null is
// returned. `sizeInBytes`, when given, is set to the file's size.
std::unique_ptr<xmldoc::Document> ReadManifest(const std::wstring& path,
                                               std::uint64_t* sizeInBytes = nullptr);

// The directory part of a path, the base for a module's subPath. A doubled
// backslash before the file name is cut as one separator.
std::wstring ManifestDirectory(const std::wstring& path);

}  // namespace brevick
