// ModuleIni: an INI document in memory, parsed from and built back to text.
// Lookups trim spaces from the searched name and compare case-insensitively.
#pragma once

#include <string>
#include <vector>

#include "support/strutil.h"  // TrimSpaces: how every lookup trims a name

namespace velotag {

struct IniKey {
  std::string Key;
  std::string Value;
};

// A section with an empty Name, and a key with an empty Key, count as deleted.
struct IniSection {
  std::string Name;
  std::vector<IniKey> Keys;
};

using IniDocument = std::vector<IniSection>;

int ParseIniText(const std::string& text, IniDocument& doc, bool useEscapes);
std::string BuildIniText(IniDocument& doc, bool useEscapes);
void MergeIniDuplicates(IniDocument& doc);
void RemoveEmptyIniSections(IniDocument& doc);
int FindIniSection(const std::string& section, const IniDocument& doc);
int FindIniKey(const std::string& key, const std::vector<IniKey>& keys);
bool GetIniValue(const std::string& section, const std::string& key, std::string& value,
                 const IniDocument& doc);
bool SetIniValue(const std::string& section, const std::string& key, const std::string& value,
                 IniDocument& doc, bool create);
bool SetIniKey(const std::string& key, const std::string& value, std::vector<IniKey>& keys,
               bool create);
std::string EscapeIniValue(const std::string& text);
std::string UnescapeIniValue(const std::string& text);

}  // namespace velotag
