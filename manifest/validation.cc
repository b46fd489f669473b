// manifest/validation.cc
//
// Release scripts match on every text below, odd quotes and spellings
// included, so none of them may change by a character.
#include "manifest/validation.h"

#include <string>

#include "base/reporter.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "manifest/manifest_tree.h"
#include "manifest/uuid_check.h"
#include "xml/xmldoc.h"

namespace brevick {
namespace {

bool IsValidHost(std::string_view host) {
  return host == "Engine" || host == "UI" || host == "All";
}

bool IsValidDestination(std::string_view value) {
  return value == "local" || value == "shared" || value == "system";
}

// One dependency's lines and findings; returns whether it marks an entry point.
bool ValidateDependency(xmldoc::Element& dependency, Reporter& reporter) {
  // Read through get-or-create: a missing attribute comes out of validation
  // present and empty, and is written out that way.
  reporter.Debug(L"Dependency file: " + ToWide(dependency.GetOrCreateAttribute("file").GetText()));
  const bool isEntryPoint = dependency.GetOrCreateAttribute("entryPoint").GetText() == "1";
  reporter.Debug(isEntryPoint ? L"  EntryPoint:YES" : L"  EntryPoint:NO");

  // A missing `destination` is not created; it only reads as empty.
  xmldoc::Element& destination = dependency.GetChildElement("destination");
  const std::string value =
      destination.IsNull() ? std::string() : destination.GetOrCreateAttribute("value").GetText();
  reporter.Debug(L"  File destination type: " + ToWide(value));
  if (!IsValidDestination(value)) {
    reporter.Error(L"Invalid <destination> value. Valid values are 'local' 'system' and 'shared'");
  }
  return isEntryPoint;
}

// One `module` element; returns StageResult::kManifestRejected when its dependency
// list is missing or holds a foreign element, which ends validation.
StageResult ValidateModule(xmldoc::Element& module, const std::wstring& moduleName,
                           Reporter& reporter) {
  reporter.Progress(L"Validating XML for module '" + moduleName + L"'");
  if (!CheckModuleUuid(module.FindAttribute("id").GetText(), reporter)) {
    reporter.Error(L"Invalid UUID for module '" + moduleName + L"'");
  }
  const std::string host = module.FindAttribute("host").GetText();
  reporter.Debug(L"  Host:" + ToWide(host));
  // "All" is accepted although the message names only the other two.
  if (!IsValidHost(host)) {
    reporter.Error(L"Invalid host '" + ToWide(host) + L"' for module '" + moduleName +
                   L"'. Must be 'Engine' or 'UI'");
  }

  xmldoc::Element& dependencies = FirstChildElement(module);
  if (dependencies.GetName() != "dependencies") {
    reporter.Error(L"<dependencies> element not found on module '" + moduleName + L"'");
    return StageResult::kManifestRejected;
  }
  const std::vector<xmldoc::Element*> files = ChildElements(dependencies);
  int entryPointCount = 0;
  for (xmldoc::Element* dependency : files) {
    if (dependency->GetName() != "dependency") {
      reporter.Error(L"Illegal element '" + ToWide(dependency->GetName()) +
                     L"' found within <dependencies> list");
      return StageResult::kManifestRejected;
    }
    if (ValidateDependency(*dependency, reporter)) ++entryPointCount;
  }
  if (files.empty()) reporter.Error(L"No dependencies found for module '" + moduleName + L"'");
  if (entryPointCount == 0) {
    reporter.Error(L"No entry point found for module '" + moduleName + L"'");
  } else if (entryPointCount > 1) {
    reporter.Error(L"Multiple entry point files found for module '" + moduleName + L"'");
  }
  return StageResult::kGoOn;
}

// Every element child of `modules`; a stop inside a module ends the walk.
StageResult ValidateModules(xmldoc::Element& modules, const std::wstring& packageName,
                            Reporter& reporter) {
  bool moduleFound = false;
  for (xmldoc::Element* module : ChildElements(modules)) {
    reporter.Debug(L"");
    const std::wstring moduleName = WideAttributeValue(*module, "name");
    if (module->GetName() != "module") {
      reporter.Error(L"Invalid element <" + ToWide(module->GetName()) +
                     L"> within <modules>. Skipping.");
      continue;
    }
    // Counted before its checks: a module full of errors is still a module.
    moduleFound = true;
    if (ValidateModule(*module, moduleName, reporter) != StageResult::kGoOn)
      return StageResult::kManifestRejected;
  }
  if (!moduleFound) reporter.Error(L"No valid modules found in package '" + packageName + L"'");
  return StageResult::kGoOn;
}

}  // namespace

StageResult ValidateManifest(xmldoc::Document& document, Reporter& reporter) {
  xmldoc::Element& root = document.GetRoot();
  if (root.GetName() != "dravanePackage") {
    reporter.Error(L"Opening <dravanePackage> element not found");
    return StageResult::kManifestRejected;
  }
  reporter.Debug(L"Found root '<dravanePackage>' element'");

  xmldoc::Element& package = FirstChildElement(root);
  if (package.GetName() != "package") {
    reporter.Error(L"<package> element not found");
    return StageResult::kManifestRejected;
  }
  reporter.Debug(L"Found '<package>' element'");
  const std::wstring packageName = WideAttributeValue(package, "name");
  reporter.Debug(L"  Package name:" + packageName);

  xmldoc::Element& modules = FirstChildElement(package);
  if (modules.GetName() != "modules") {
    reporter.Error(L"<modules> element not found");
    return StageResult::kManifestRejected;
  }
  if (!CheckModuleUuid(package.FindAttribute("id").GetText(), reporter)) {
    reporter.Error(L"Invalid UUID for package '" + packageName + L"'");
  }
  reporter.Debug(L"Found <modules> element");
  // Only a truly empty element: a comment or even an empty text node inside
  // counts as content here and leads to "No valid modules" instead.
  if (modules.IsEmpty()) {
    reporter.Error(L"No modules in the <modules> element");
    return StageResult::kGoOn;
  }
  reporter.Progress(L"Validating XML for package '" + packageName + L"'");
  return ValidateModules(modules, packageName, reporter);
}

}  // namespace brevick
