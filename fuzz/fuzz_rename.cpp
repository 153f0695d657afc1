// libFuzzer target: the rename pattern engine. The input is a pattern and
// six tag values separated by zero bytes.
//
// Promises: a name, when there is one, ends in ".mp3" and fits a Linux file
// name; made a file name it stays a name in its folder ("/" never, "." and
// ".." never) and keeps ".mp3"; a valid pattern is the pattern itself.
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "library/renamer.h"
#include "support/paths.h"

using namespace velotag;
using velotag::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::string> kVariables = {"%track%", "%title%", "%artist%",
                                                      "%album%", "%year%",  "%genre%"};
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 7) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  const std::string pattern = parts[0];
  std::vector<std::string> values(parts.begin() + 1, parts.end());
  values.resize(6);

  const std::string valid = IsValidRenamePattern(pattern, kVariables);
  Check(valid.empty() || valid == pattern, "a valid pattern is itself");
  for (std::size_t max : {kMaxRenameLength, std::size_t{5}, std::size_t{0}}) {
    const std::string name = ApplyRenamePattern(pattern, kVariables, values, max);
    if (name.empty()) continue;
    Check(name.size() >= 4 && name.compare(name.size() - 4, 4, ".mp3") == 0, "the name ends in .mp3");
    Check(name.size() <= kMaxFileNameBytes, "the name fits a file name");
    const std::string file = RenamedFileName(name);
    Check(file.find('/') == std::string::npos && file != "." && file != ".." &&
              file.rfind("..", 0) != 0,
          "the name stays in its folder");
    Check(file.size() >= 4 && file.compare(file.size() - 4, 4, ".mp3") == 0, "the file keeps .mp3");
  }
  return 0;
}
