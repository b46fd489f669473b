// xml/document.h: the document node, the root of a parsed or built tree.
//
// Writing a document as the signed manifest is written (four blanks, no
// flags; see writer.h):
//   const std::string text = xmldoc::ToText(document, "    ");
#pragma once

#include <memory>
#include <string>

#include "xml/node.h"

namespace xmldoc {

// Named "#document". Its children are the comments and PIs around the root
// and the root element itself. Owned by whoever built it (the parser hands a
// new one to its caller).
class Document : public NodeContainer {
 public:
  // Version "1.0", encoding "UTF-8", standalone true, no root; the parent is
  // the null element.
  Document();
  ~Document() override;

  // Empty.
  std::string GetValue() const override;
  // The children's text joined in order, always with whitespace collapsed and
  // the ends trimmed, whatever the root's preserveSpace.
  std::string GetText() const override;
  bool IsType(int typeId) const override { return typeId == kDocumentType; }
  // A document with the construction defaults (the parent is not used), the
  // children copied; the copy's root is the copy of the source's root.
  std::unique_ptr<Node> Clone(NodeContainer* parent) const override;
  // The XML declaration (unless OmitDeclaration) and the children.
  void Write(WriteContext& context) const override;
  // The children only: no declaration, atLineStart left as it is.
  void WriteContent(WriteContext& context) const;

  // The root element; the null element when there is none.
  const Element& GetRoot() const;
  Element& GetRoot();
  // Appends `element` as a child and records it as the root element; returns it.
  Element& AddRoot(std::unique_ptr<Element> element);

  // From the XML declaration; the standalone value is kept but never written.
  const std::string& GetVersion() const { return version; }
  void SetVersion(std::string newVersion) { version = std::move(newVersion); }
  const std::string& GetEncoding() const { return encoding; }
  void SetEncoding(std::string newEncoding) { encoding = std::move(newEncoding); }
  bool IsStandalone() const { return standalone; }
  void SetStandalone(bool isStandalone) { standalone = isStandalone; }

 protected:
  // Removing the root element leaves the document without one.
  void ForgetChild(const Node& child) override;
  void NormaliseText(std::string& text) const override;
  std::unique_ptr<NodeContainer> CloneEmpty(NodeContainer* parent) const override;

 private:
  friend class NodeContainer;

  std::string version = "1.0";
  std::string encoding = "UTF-8";
  bool standalone = true;
  // One of the children, or none.
  Element* root = nullptr;
};

}  // namespace xmldoc
