// app/pipeline.cc: the manifest pipeline.
#include "app/pipeline.h"

#include "app/report.h"
#include "app/stage_results.h"

namespace brevick {

int ProcessManifest(const std::wstring& infile, const std::wstring& /*outfile*/,
                    const std::wstring& /*certSubjectName*/) {
  ProgressLine(L"Reading manifest: " + infile);
  RecordError(L"Manifest processing is not available in this build.");
  return kStageManifestRejected;
}

}  // namespace brevick
