// ClassXML: a small, forgiving XML reader. A document becomes a flat list of
// element nodes in the order they are completed (children before their
// parent); paths such as "metadata<track<title" select nodes from the top
// level down. It never validates and never reports malformed input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "online/url.h"

namespace velotag {

struct XmlNode {
  std::vector<NameValue> attributes;
  std::int32_t attributeCount = 0;
  std::string name;
  // Character content with entities decoded; empty when the content holds
  // any "<". For a comment, the comment text.
  std::string text;
  std::int32_t level = 0;         // 1 for a top-level element
  std::int32_t contentStart = 0;  // 1-based, just after the opening tag's ">"
  std::int32_t kind = 0;          // kXmlComplete, kXmlOpening, kXmlClosing
  std::int32_t parent = -1;       // index in the node list, -1 at the top level
};

inline constexpr std::int32_t kXmlComplete = 0;  // empty element, declaration, comment
inline constexpr std::int32_t kXmlOpening = 1;
inline constexpr std::int32_t kXmlClosing = 2;

class ClassXML {
 public:
  // Reads the file one character per byte (ISO-8859-1) and loads it; true
  // when the file was read and at least one node resulted.
  bool XML_file(const std::string& path);
  // True when at least one node resulted.
  bool XML_str(const std::string& text);

  // The texts of every node matching path, concatenated in node order (only
  // the first match with firstOnly).
  std::string GetValue(const std::string& path, const std::string& separator,
                       bool firstOnly) const;
  // The value of the first attribute named attributeName (case ignored) of a
  // matching node; with several matches the last one that has it decides.
  std::string GetAttrib(const std::string& path, const std::string& attributeName,
                        const std::string& separator, bool firstOnly) const;

  const std::vector<XmlNode>& nodes() const { return nodes_; }
  std::int32_t nodeCount() const { return nodeCount_; }

  // Entities in this order, case ignored: &quot; &amp; &apos; &lt; &gt;. An
  // escaped "&amp;lt;" therefore becomes "<". No numeric references.
  static std::string DecodeEntities(const std::string& text);
  // The text between "<" and ">" as a node record (name empty: ignore it).
  static XmlNode ParseTag(const std::string& tagText);

 private:
  std::int32_t ParseDocument(const std::string& text);
  std::vector<std::int32_t> FindNodes(const std::string& path, const std::string& separator,
                                      bool firstOnly) const;

  std::vector<XmlNode> nodes_;
  std::int32_t nodeCount_ = 0;
};

}  // namespace velotag
