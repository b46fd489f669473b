// manifest/developer_info.h: strips the attributes that only matter on a
// developer's machine before the manifest is released.
#pragma once

namespace xmldoc {
class Document;
}

namespace brevick {

class Reporter;

// Removes `mode` from the package element, after its progress line. Always
// true; a validated document is expected (otherwise nothing is removed).
bool RemovePackageDeveloperInformation(xmldoc::Document& document, Reporter& reporter);

// Removes `debugPath`, then `releasePath`, from every element child of
// `modules`, whatever its name, each after its progress line. Always true.
bool RemoveModuleDeveloperInformation(xmldoc::Document& document, Reporter& reporter);

}  // namespace brevick
