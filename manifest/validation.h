// manifest/validation.h: the package rules a manifest must meet before it is
// prepared and signed.
#pragma once

#include "base/stage_result.h"

namespace xmldoc {
class Document;
}

namespace brevick {

class Reporter;

// Checks the manifest and reports every violation found as an error, with
// progress and debug lines on the way. Returns StageResult::kManifestRejected, always with an
// error recorded, when the skeleton (dravanePackage / package / modules, a
// module's dependencies) is broken; otherwise StageResult::kGoOn, possibly with
// errors recorded that still fail the run. Adds an empty `file` and
// `entryPoint` to each dependency, and `value` to each `destination`, that
// lacks them; those stay in the document that is written out.
StageResult ValidateManifest(xmldoc::Document& document, Reporter& reporter);

}  // namespace brevick
