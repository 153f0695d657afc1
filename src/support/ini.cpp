#include "support/ini.h"

#include <cstdio>
#include <unordered_map>

#include "support/strutil.h"
#include "support/textenc.h"

namespace velotag {

namespace {

int HexValue(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A group of hex digits that does not parse yields 0.
char16_t ParseHex(std::u16string_view digits) {
  unsigned v = 0;
  for (char16_t c : digits) {
    int d = HexValue(c);
    if (d < 0) return 0;
    v = v * 16 + static_cast<unsigned>(d);
  }
  return static_cast<char16_t>(v);
}

char16_t Lower(char16_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

int ParseIniText(const std::string& text, IniDocument& doc, bool useEscapes) {
  doc.clear();
  if (text.empty()) return 0;
  std::string normalized = ReplaceAll(text, "\r\n", "\n");
  int created = 0;
  IniSection* current = nullptr;
  std::size_t start = 0;
  while (start <= normalized.size()) {
    std::size_t end = normalized.find('\n', start);
    if (end == std::string::npos) end = normalized.size();
    std::string line = normalized.substr(start, end - start);
    start = end + 1;
    std::size_t lead = line.find_first_not_of(' ');
    if (lead == std::string::npos) continue;
    line.erase(0, lead);
    if (line[0] == '[') {
      std::size_t close = line.find(']', 1);
      if (close == std::string::npos) continue;
      std::string name = line.substr(1, close - 1);
      if (name.empty()) continue;
      doc.push_back(IniSection{name, {}});
      current = &doc.back();
      ++created;
    } else if (line[0] == ';') {
      continue;
    } else if (current != nullptr) {
      std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::string key = TrimSpaces(line.substr(0, eq));
      if (key.empty()) continue;
      std::string value = line.substr(eq + 1);
      value = useEscapes ? UnescapeIniValue(value) : ReplaceAllNoCase(value, "#vbcrlf#", "\r\n");
      current->Keys.push_back(IniKey{key, value});
    }
  }
  return created;
}

std::string BuildIniText(IniDocument& doc, bool useEscapes) {
  std::string out;
  for (IniSection& section : doc) {
    if (section.Name.empty()) continue;
    out += "[" + section.Name + "]\r\n";
    for (IniKey& key : section.Keys) {
      key.Key = TrimSpaces(key.Key);
      if (key.Key.empty()) continue;
      out += key.Key + "=" +
             (useEscapes ? EscapeIniValue(key.Value) : ReplaceAll(key.Value, "\r\n", "#vbcrlf#")) +
             "\r\n";
    }
  }
  if (out.size() > 2) out.resize(out.size() - 2);
  return out;
}

void MergeIniDuplicates(IniDocument& doc) {
  // Each name is folded once and looked up: folding both names of every
  // pair made a file of 20000 sections take a minute.
  std::unordered_map<std::string, std::size_t> firstSection;
  for (std::size_t j = 0; j < doc.size(); ++j) {
    if (doc[j].Name.empty()) continue;
    auto [it, isFirst] = firstSection.emplace(CaseFold(doc[j].Name), j);
    if (isFirst) continue;
    IniSection& into = doc[it->second];
    for (IniKey& k : doc[j].Keys) into.Keys.push_back(std::move(k));
    doc[j].Name.clear();
    doc[j].Keys.clear();
  }
  // The last value of a key wins, at the place of its first occurrence.
  std::unordered_map<std::string, std::size_t> firstKey;
  for (IniSection& section : doc) {
    firstKey.clear();
    std::vector<IniKey>& keys = section.Keys;
    for (std::size_t b = 0; b < keys.size(); ++b) {
      if (keys[b].Key.empty()) continue;
      auto [it, isFirst] = firstKey.emplace(CaseFold(keys[b].Key), b);
      if (isFirst) continue;
      keys[it->second].Value = std::move(keys[b].Value);
      keys[b].Key.clear();
      keys[b].Value.clear();
    }
  }
}

void RemoveEmptyIniSections(IniDocument& doc) {
  for (IniSection& section : doc) {
    if (section.Name.empty()) continue;
    bool anyKey = false;
    for (const IniKey& k : section.Keys) anyKey = anyKey || !k.Key.empty();
    if (!anyKey) {
      section.Name.clear();
      section.Keys.clear();
    }
  }
}

int FindIniSection(const std::string& section, const IniDocument& doc) {
  std::string name = TrimSpaces(section);
  std::string folded = CaseFold(name);
  for (std::size_t i = 0; i < doc.size(); ++i) {
    if (doc[i].Name == name || CaseFold(doc[i].Name) == folded) return static_cast<int>(i);
  }
  return -1;
}

int FindIniKey(const std::string& key, const std::vector<IniKey>& keys) {
  std::string name = TrimSpaces(key);
  std::string folded = CaseFold(name);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    // An empty name never matches a free slot (empty key and value).
    if (name.empty() && keys[i].Value.empty()) continue;
    if (keys[i].Key == name || CaseFold(keys[i].Key) == folded) return static_cast<int>(i);
  }
  return -1;
}

bool GetIniValue(const std::string& section, const std::string& key, std::string& value,
                 const IniDocument& doc) {
  value.clear();
  int s = FindIniSection(section, doc);
  if (s < 0) return false;
  int k = FindIniKey(key, doc[static_cast<std::size_t>(s)].Keys);
  if (k < 0) return false;
  value = doc[static_cast<std::size_t>(s)].Keys[static_cast<std::size_t>(k)].Value;
  return true;
}

bool SetIniValue(const std::string& section, const std::string& key, const std::string& value,
                 IniDocument& doc, bool create) {
  int s = FindIniSection(section, doc);
  if (s < 0) {
    if (!create) return false;
    doc.push_back(IniSection{section, {}});
    s = static_cast<int>(doc.size() - 1);
  }
  return SetIniKey(key, value, doc[static_cast<std::size_t>(s)].Keys, create);
}

bool SetIniKey(const std::string& key, const std::string& value, std::vector<IniKey>& keys,
               bool create) {
  int k = FindIniKey(key, keys);
  if (k < 0) {
    if (!create) return false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i].Key.empty() && keys[i].Value.empty()) {
        k = static_cast<int>(i);
        break;
      }
    }
    if (k < 0) {
      keys.emplace_back();
      k = static_cast<int>(keys.size() - 1);
    }
    keys[static_cast<std::size_t>(k)].Key = key;
  }
  keys[static_cast<std::size_t>(k)].Value = value;
  return true;
}

std::string EscapeIniValue(const std::string& text) {
  std::u16string out;
  for (char16_t u : Utf8ToUtf16(text)) {
    char buf[8];
    switch (u) {
      case u'\\': out += u"\\\\"; break;
      case u'\r': out += u"\\r"; break;
      case u'\n': out += u"\\n"; break;
      case u'\0': out += u"\\0"; break;
      case u'\t': out += u"\\t"; break;
      default:
        if (u < 32) {
          std::snprintf(buf, sizeof buf, "\\h%02X", static_cast<unsigned>(u));
        } else if (u > 255) {
          std::snprintf(buf, sizeof buf, "\\x%04X", static_cast<unsigned>(u));
        } else {
          out.push_back(u);
          break;
        }
        for (const char* p = buf; *p; ++p) out.push_back(static_cast<char16_t>(*p));
    }
  }
  // Surrogates were escaped one by one above, so the result is plain text.
  return Utf16ToUtf8(out);
}

std::string UnescapeIniValue(const std::string& text) {
  std::u16string in = Utf8ToUtf16(text);
  std::u16string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    if (in[i] != u'\\') {
      out.push_back(in[i++]);
      continue;
    }
    if (i + 1 >= in.size()) break;  // a final backslash produces nothing
    char16_t c = Lower(in[i + 1]);
    switch (c) {
      case u'n': out.push_back(u'\n'); i += 2; break;
      case u'r': out.push_back(u'\r'); i += 2; break;
      case u't': out.push_back(u'\t'); i += 2; break;
      case u'0': out.push_back(u'\0'); i += 2; break;
      case u'\\': out.push_back(u'\\'); i += 2; break;
      case u'h':
        out.push_back(ParseHex(std::u16string_view(in).substr(i + 2, 2)));
        i += 4;
        break;
      case u'x':
        out.push_back(ParseHex(std::u16string_view(in).substr(i + 2, 4)));
        i += 6;
        break;
      default: out.push_back(in[i + 1]); i += 2; break;
    }
  }
  return Utf16ToUtf8(out);
}

}  // namespace velotag
