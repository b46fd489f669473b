// manifest/developer_info.cc
#include "manifest/developer_info.h"

#include "base/reporter.h"
#include "manifest/manifest_tree.h"
#include "xml/xmldoc.h"

namespace brevick {
namespace {

// Looked up, never created: the stages after validation must not add a
// package or modules element to a document that lacks them.
xmldoc::Element& PackageElement(xmldoc::Document& document) {
  return document.GetRoot().GetChildElement("package");
}

}  // namespace

bool RemovePackageDeveloperInformation(xmldoc::Document& document, Reporter& reporter) {
  xmldoc::Element& package = PackageElement(document);
  reporter.Progress(L"Removing developer information from <" + WideAttributeValue(package, "name") +
                    L"> package.");
  package.RemoveAttribute("mode");
  return true;
}

bool RemoveModuleDeveloperInformation(xmldoc::Document& document, Reporter& reporter) {
  xmldoc::Element& modules = PackageElement(document).GetChildElement("modules");
  // Whatever their name: an element that validation skipped as no module is
  // released all the same, so it is stripped all the same.
  for (xmldoc::Element* module : ChildElements(modules)) {
    reporter.Progress(L"Removing developer information from <" +
                      WideAttributeValue(*module, "name") + L"> module.");
    module->RemoveAttribute("debugPath");
    module->RemoveAttribute("releasePath");
  }
  return true;
}

}  // namespace brevick
