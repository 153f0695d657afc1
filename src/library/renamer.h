// Rename patterns: "(%track:2::0%) - %artist% - %title%" and the pattern
// editor's logic (help text, example values, the twelve presets).
#pragma once

#include <array>
#include <random>
#include <string>
#include <vector>

namespace velotag {

inline constexpr std::size_t kMaxRenameLength = 250;

// The new file name ending in ".mp3", or "" when the pattern names no
// variable or a variable it uses has an empty value (the file cannot be named
// from its tags then).
std::string ApplyRenamePattern(const std::string& pattern, const std::vector<std::string>& variables,
                               const std::vector<std::string>& values,
                               std::size_t maxLength = kMaxRenameLength);
// The engine's name as a file name in the file's own folder: "/" and the
// reserved characters replaced, a leading ".." defused, and ".mp3" kept
// whatever the tags made of the part before it.
std::string RenamedFileName(const std::string& engineName);

// The pattern when valid, else "".
std::string IsValidRenamePattern(const std::string& pattern,
                                 const std::vector<std::string>& variables);

extern const std::array<const char*, 12> kRenamePresets;

// FormRenamer: the pattern editor's state, without widgets.
class FormRenamer {
 public:
  // Draws the example values (track 0..9, year 100..2012) and takes the
  // current pattern into the pattern box.
  FormRenamer(const std::string& currentPattern, const std::vector<std::string>& variables,
              std::mt19937& random);

  const std::string& HelpText() const { return help_; }
  const std::string& Pattern() const { return pattern_; }
  const std::vector<std::string>& ExampleValues() const { return examples_; }
  // The pattern box changed: the example box follows.
  void SetPattern(const std::string& pattern);
  const std::string& Example() const { return example_; }
  // "Profil 1" .. "Profil 12".
  void Preset(int number);
  // "Save pattern": the new current pattern ("" when the box is not valid).
  std::string SavePattern() const;

 private:
  std::vector<std::string> variables_;
  std::vector<std::string> examples_;
  std::string help_;
  std::string pattern_;
  std::string example_;
};

}  // namespace velotag
