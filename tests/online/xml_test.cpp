#include "online/xml.h"

#include <gtest/gtest.h>

#include "testutil.h"

namespace velotag {
namespace {

// Texts (no attribute named) and attribute values of the nodes a path
// selects from the top level down.
TEST(Xml, ValuesByPath) {
  struct Case {
    std::string doc, path;
    bool firstOnly;
    std::string value, attribute = "";
  } const cases[] = {
      {"<a><b>x</b><b>y</b></a>", "a<b", false, "xy"},
      {"<a><b>x</b><b>y</b></a>", "a<b", true, "x"},
      {"<A><B>up</B></A>", " a < b ", true, "up"},
      {"<r><a><b>deep</b></a></r>", "a<b", false, ""},  // level 3 never matches 2 names
      {"<r><a><b>1</b></a><c><b>2</b></c></r>", "r<c<b", false, "2"},
      {"<?xml version=\"1.0\"?><!-- note --><m><t>v</t></m>", "m<t", false, "v"},
      {"<a>x &amp;lt; y &AMP; &quot;q&quot; &#60;</a>", "a", false, "x < y & \"q\" &#60;"},
      {"<a>&amp;quot;</a>", "a", false, "&quot;"},  // &quot; was already done
      {"<a>one</b>two</a>", "a", false, ""},  // a stray closing tag is skipped, "<" inside
      {"<a><b>open", "a<b", false, "open"},   // never closed: the rest of the input
      {"<a>text<b", "a", false, ""},          // "<" with no ">" ends the document
      {"<!--x--><a>1</a>", "a", false, ""},   // a comment needs a blank after "<!--" ...
      {"<!--x--><a>1</a>", "!--x--<a", false, "1"},  // ... else it is an element
      {"<x a=\"1 &amp; 2\"/>", "x", true, "1 & 2", "a"},
      {"<x a='single'>t</x>", "x", true, "single", " A "},
      {"<x a=\"say \\\"hi\\\"\">t</x>", "x", true, "say \\\"hi\\\"", "a"},
      {"<x a=bare b=2>t</x>", "x", true, "2", "b"},
      {"<x a=\"1\" a=\"2\"/>", "x", true, "1", "a"},  // the first of a name
      {"<r><x a=\"1\"/><x/><x a=\"3\"/></r>", "r<x", false, "3", "a"},  // the last that has it
      {"<r><x a=\"1\"/><x a=\"3\"/></r>", "r<x", true, "1", "a"},
  };
  for (const Case& c : cases) {
    ClassXML xml;
    xml.XML_str(c.doc);
    EXPECT_EQ(c.attribute.empty() ? xml.GetValue(c.path, "<", c.firstOnly)
                                  : xml.GetAttrib(c.path, c.attribute, "<", c.firstOnly),
              c.value)
        << c.doc << " @ " << c.path;
  }
  ClassXML xml;
  ASSERT_TRUE(xml.XML_str("<metadata><track><title>T</title></track></metadata>"));
  EXPECT_EQ(xml.GetValue("metadata::track::title", "::", true), "T");
  // Files are read one character per byte: UTF-8 bytes come as ISO-8859-1.
  test::TempDir dir;
  test::WriteFileText(dir.file("a.xml"), "<n>Bj\xc3\xb6rk</n>");
  test::WriteFileText(dir.file("text.xml"), "no tags at all");
  ASSERT_TRUE(xml.XML_file(dir.file("a.xml")));
  EXPECT_EQ(xml.GetValue("n", "<", true), "Bj\xc3\x83\xc2\xb6rk");
  EXPECT_FALSE(xml.XML_file(dir.file("text.xml")));
  EXPECT_FALSE(xml.XML_file(dir.file("missing.xml")));
  EXPECT_EQ(xml.nodeCount(), 0);
}

}  // namespace
}  // namespace velotag
