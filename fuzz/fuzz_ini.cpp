// libFuzzer target: the INI store and its value escapes. The input is INI
// text; its first line is also taken as a value to store.
//
// Promises: a value stored comes back the same after the text is built and
// parsed again (the settings cycle; without escapes, which the program never
// uses, only a value of one line without the "#vbcrlf#" marker can); escaping
// and unescaping give any text back; building what was parsed and parsing it
// again gives the same document.
#include <string>

#include "fuzz_util.h"
#include "support/ini.h"
#include "support/strutil.h"
#include "support/textenc.h"

using namespace velotag;
using velotag::fuzz::Check;

namespace {

// What the store can hold: text as the program makes it (valid UTF-8).
std::string AsText(const std::string& bytes) { return Utf16ToUtf8(Utf8ToUtf16(bytes)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = AsText(std::string(reinterpret_cast<const char*>(data), size));
  const std::string value = text.substr(0, text.find('\n'));
  Check(UnescapeIniValue(EscapeIniValue(text)) == text, "escapes give any text back");
  (void)UnescapeIniValue(text);

  for (bool escapes : {true, false}) {
    IniDocument doc;
    ParseIniText(text, doc, escapes);
    MergeIniDuplicates(doc);
    std::string got;
    for (const IniSection& s : doc)
      for (const IniKey& k : s.Keys) GetIniValue(s.Name, k.Key, got, doc);

    // The settings cycle: values set on a document, built, parsed back.
    // Without escapes only CR LF is encoded: a text with other line breaks
    // or the marker cannot be a value there.
    const bool representable = escapes || !ContainsNoCase(value, "#vbcrlf#");
    const std::string& other = escapes ? text : value;
    IniDocument settings = doc;
    SetIniValue("options", "LastPath", value, settings, true);
    SetIniValue("servers", "cddb", other, settings, true);
    RemoveEmptyIniSections(settings);
    IniDocument back;
    ParseIniText(BuildIniText(settings, escapes), back, escapes);
    MergeIniDuplicates(back);
    Check(GetIniValue("options", "LastPath", got, back), "a stored key is found");
    Check(!representable || got == value, "a stored value comes back");
    Check(GetIniValue("servers", "cddb", got, back), "a stored key is found");
    Check(!representable || got == other, "a stored value comes back, line breaks and all");

    // Parsed, built and parsed again: the same document.
    IniDocument first, second;
    ParseIniText(text, first, escapes);
    std::string built = BuildIniText(first, escapes);
    ParseIniText(built, second, escapes);
    RemoveEmptyIniSections(first);
    RemoveEmptyIniSections(second);
    Check(BuildIniText(second, escapes) == BuildIniText(first, escapes), "a built text parses back");
  }
  return 0;
}
