#include "library/renamer.h"

#include "support/numtext.h"
#include "support/paths.h"
#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

// ".mp3" takes four bytes of a file name.
constexpr std::size_t kMaxNameBytes = kMaxFileNameBytes - 4;

std::string FirstCodePoint(const std::string& s) {
  if (s.empty()) return {};
  std::size_t n = 1;
  while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
  return s.substr(0, n);
}

// `limit` is the most characters the whole name keeps: padding beyond it
// would be cut off anyway, and a width such as 2000000000 from a pattern or
// a hand-edited settings file must not cost gigabytes first.
std::string Shape(const std::string& value, const std::string& parameters, std::size_t limit) {
  int minLength = LeadingInteger(parameters);
  int maxLength = 0;
  std::string fill = " ";
  std::size_t colon = parameters.find(':');
  if (colon != std::string::npos) {
    std::string afterMin = parameters.substr(colon + 1);
    maxLength = LeadingInteger(afterMin);
    std::size_t colon2 = afterMin.find(':');
    if (colon2 != std::string::npos) {
      std::string c = FirstCodePoint(afterMin.substr(colon2 + 1));
      if (!c.empty() && c != "%") fill = c;
    }
  }
  std::string shaped = value;
  std::size_t length = Utf8Length(shaped);
  if (minLength > 0 && length < static_cast<std::size_t>(minLength)) {
    std::string pad;
    const std::size_t padCount = std::min(static_cast<std::size_t>(minLength) - length, limit);
    for (std::size_t i = 0; i < padCount; ++i) pad += fill;
    shaped = pad + shaped;
    length = static_cast<std::size_t>(minLength);
  }
  if (maxLength >= 1 && maxLength >= minLength && length > static_cast<std::size_t>(maxLength))
    shaped = Utf8Left(shaped, static_cast<std::size_t>(maxLength));
  return shaped;
}

}  // namespace

std::string ApplyRenamePattern(const std::string& pattern, const std::vector<std::string>& variables,
                               const std::vector<std::string>& values, std::size_t maxLength) {
  std::string rest = EndsWithNoCase(pattern, ".mp3") ? pattern.substr(0, pattern.size() - 4) : pattern;
  if (rest.empty() || variables.empty() || values.empty()) return {};
  std::vector<std::string> folded;
  for (const std::string& v : variables) folded.push_back(CaseFold(v));

  std::string out;
  int counted = 0;
  std::size_t pos = 0;
  while (true) {
    std::size_t open = rest.find('%', pos);
    if (open == std::string::npos) {
      out += rest.substr(pos);
      break;
    }
    std::size_t close = rest.find('%', open + 1);
    if (close == std::string::npos) {
      out += rest.substr(pos);
      break;
    }
    std::string token = rest.substr(open, close - open + 1);
    std::string foldedToken = CaseFold(token);
    std::size_t colon = token.find(':', 1);
    std::string foldedHead = colon == std::string::npos ? std::string()
                                                        : CaseFold(token.substr(0, colon) + "%");
    std::size_t match = variables.size();
    bool modifier = false;
    for (std::size_t k = 0; k < variables.size(); ++k) {
      if (foldedToken == folded[k]) {
        match = k;
        break;
      }
      if (!foldedHead.empty() && foldedHead == folded[k]) {
        match = k;
        modifier = true;
        break;
      }
    }
    if (match == variables.size()) {
      out += rest.substr(pos, open - pos + 1);
      pos = open + 1;
      continue;
    }
    const std::string value = match < values.size() ? values[match] : std::string();
    // A name cannot be made from a tag that is not there.
    if (value.empty()) return {};
    out += rest.substr(pos, open - pos);
    out += modifier ? Shape(value, token.substr(colon + 1), maxLength) : value;
    ++counted;
    pos = close + 1;
  }
  if (counted == 0) return {};
  out = Utf8CutToBytes(Utf8Left(out, maxLength), kMaxNameBytes);
  return out + ".mp3";
}

std::string RenamedFileName(const std::string& engineName) {
  // Made safe without the extension: a value of "." must not turn the "."
  // of ".mp3" into part of a defused "..".
  const bool mp3 = EndsWithNoCase(engineName, ".mp3");
  const std::string stem = mp3 ? engineName.substr(0, engineName.size() - 4) : engineName;
  return MakeValidFileName(SafeFileNameComponent(stem)) + (mp3 ? engineName.substr(stem.size()) : "");
}

std::string IsValidRenamePattern(const std::string& pattern,
                                 const std::vector<std::string>& variables) {
  std::string text = CaseFold(pattern);
  for (const std::string& v : variables) {
    std::string name = CaseFold(v);
    if (name.empty()) continue;
    if (text.find(name) != std::string::npos) return pattern;
    std::string head = name.substr(0, name.size() - 1) + ":";
    std::size_t at = text.find(head);
    if (at != std::string::npos && text.find('%', at + head.size()) != std::string::npos)
      return pattern;
  }
  return {};
}

const std::array<const char*, 12> kRenamePresets = {
    "(%track:2::0%) - %artist% - %title%",
    "(%track:2::0%) - %artist% - %title% - (%year:4::0%)",
    "(%track:2::0%) - %album% - %artist% - %title%",
    "(%track:2::0%) - %album% (%year:4::0%) - %artist% - %title%",
    "[ %track:2::0% ][ %artist% ][ %title% ]",
    "[ %track:2::0% ][ %artist% ][ %title% ][ %year:4::0% ]",
    "[ %track:2::0% ][ %album% ][ %artist% ][ %title% ]",
    "[ %track:2::0% ][ %album% (%year:4::0%) ][ %artist% ][ %title% ]",
    "{ %track:2::0% }{ %artist% }{ %title% }",
    "{ %track:2::0% }{ %artist% }{ %title% }{ %year:4::0% }",
    "{ %track:2::0% }{ %album% }{ %artist% }{ %title% }",
    "{ %track:2::0% }{ %album% (%year:4::0%) }{ %artist% }{ %title% }",
};

FormRenamer::FormRenamer(const std::string& currentPattern,
                         const std::vector<std::string>& variables, std::mt19937& random)
    : variables_(variables) {
  std::uniform_int_distribution<int> track(0, 9), year(100, 2012);
  examples_ = {std::to_string(track(random)), "Title", "Artist", "Album",
               std::to_string(year(random)), "Rock"};
  std::string names = "Usable variable names: ";
  for (const std::string& v : variables_) names += v + " ";
  help_ = names + "\r\n" +
          "Variable modifiers: %variablename[:MinimumLength:MaximumLength:FillCharacter]%\r\n"
          "MinimumLength,MaximumLength default value=0\r\n"
          "FillCharacter default value=<space>\r\n"
          "Example1: ID3 track tag = '9', Pattern = %track:3::0% => '009'\r\n"
          "Example2: ID3 artist tag = 'Harbor Lights Orchestra', Pattern = %artist::10:% => "
          "'Harbor Lig'";
  SetPattern(currentPattern);
}

void FormRenamer::SetPattern(const std::string& pattern) {
  pattern_ = pattern;
  std::string name = ApplyRenamePattern(pattern_, variables_, examples_, kMaxRenameLength);
  example_ = name.empty() ? std::string() : RenamedFileName(name);
}

void FormRenamer::Preset(int number) {
  if (number >= 1 && number <= static_cast<int>(kRenamePresets.size()))
    SetPattern(kRenamePresets[static_cast<std::size_t>(number - 1)]);
}

std::string FormRenamer::SavePattern() const { return IsValidRenamePattern(pattern_, variables_); }

}  // namespace velotag
