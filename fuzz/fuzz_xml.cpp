// libFuzzer target: the XML reader on arbitrary text, with the lookups the
// web answers are read by.
//
// Promises beyond the sanitizers: a node's parent is a node one level up,
// and a lookup of the first match is the start of the
// lookup of all.
#include <string>

#include "fuzz_util.h"
#include "online/xml.h"

using namespace velotag;
using velotag::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ClassXML xml;
  xml.XML_str(text);
  const auto& nodes = xml.nodes();
  Check(xml.nodeCount() == static_cast<std::int32_t>(nodes.size()), "the count is the list's");
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const XmlNode& n = nodes[i];
    Check(n.attributeCount == static_cast<std::int32_t>(n.attributes.size()), "attributes counted");
    if (n.parent >= 0) {
      Check(static_cast<std::size_t>(n.parent) < nodes.size() &&
                nodes[static_cast<std::size_t>(n.parent)].level == n.level - 1,
            "a parent is one level up");
    }
  }
  for (const char* path : {"metadata<track<title", "metadata<track<artist<name",
                           "metadata<track<puid-list<puid", "a<b", "a", "?xml"}) {
    const std::string all = xml.GetValue(path, "|", false);
    const std::string first = xml.GetValue(path, "|", true);
    Check(all.compare(0, first.size(), first) == 0, "the first match starts the list");
    (void)xml.GetAttrib(path, "id", "|", false);
    (void)xml.GetAttrib(path, "ID", "", true);
  }
  (void)ClassXML::DecodeEntities(text);
  return 0;
}
