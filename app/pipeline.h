// app/pipeline.h: the manifest pipeline, from the input file to the signed
// output, and where a run stops.
#pragma once

#include <string>

namespace brevick {

// Runs every stage in order on one manifest; returns the result of the stage
// that stopped it, or of the last one. Failures are in the error list.
int ProcessManifest(const std::wstring& infile, const std::wstring& outfile,
                    const std::wstring& certSubjectName);

}  // namespace brevick
