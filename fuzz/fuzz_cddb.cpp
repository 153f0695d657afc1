// libFuzzer target: CDDB answers as a server sends them, and the disc IDs
// and commands made from a table of contents. The input is the answer; its
// bytes also make a table of contents and the greeting's e-mail address.
//
// Promises: the answer's lines are counted, hold no line break, and a key
// comes back once; the disc ID is 8 hex digits; no command or greeting
// made from foreign text holds a line break.
#include <set>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "online/cddb.h"
#include "support/textenc.h"

using namespace velotag;
using velotag::fuzz::Check;

namespace {

// A lone CR is the server's text; a LF would be a line of its own.
bool OneLine(const std::string& s) { return s.find('\n') == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CddbResponse r = ParseCddbResponse(text);
  Check(r.lineCount == static_cast<std::int32_t>(r.lines.size()), "lines counted");
  Check(OneLine(r.message), "the status is one line");
  std::set<std::string> keys;
  for (const auto& [key, value] : r.lines) {
    Check(OneLine(key) && OneLine(value), "a line is one line");
    if (!key.empty()) Check(keys.insert(CaseFold(key)).second, "a key comes back once");
  }

  std::vector<TocEntry> toc;
  for (std::size_t i = 0; i + 4 <= size && toc.size() < 100; i += 4)
    toc.push_back({data[i], data[i + 1], data[i + 2], data[i + 3]});
  const std::string id = CddbDiscId(toc);
  Check(id.empty() == (toc.size() < 2), "a disc of tracks has an ID");
  Check(id.empty() || (id.size() == 8 && id.find_first_not_of("0123456789abcdef") == std::string::npos),
        "a disc ID is 8 hex digits");
  Check(OneLine(CddbQueryText(toc)), "a query is one line");
  const std::string line = text.substr(0, text.find('\n'));
  Check(OneLine(CddbReadCommand(id, line)) || !OneLine(line), "a read command is one line");
  (void)CddbHello(line, 6, "0.1");
  (void)CddbServerUrl(line);
  return 0;
}
