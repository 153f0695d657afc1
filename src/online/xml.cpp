#include "online/xml.h"

#include <unordered_map>

#include "support/strutil.h"
#include "support/ini.h"
#include "support/largefile.h"
#include "support/textenc.h"

namespace velotag {

namespace {

bool IsWhite(char c) { return static_cast<unsigned char>(c) < 33; }

std::vector<std::string> SplitPath(const std::string& path, const std::string& separator) {
  std::vector<std::string> names;
  if (separator.empty()) {
    names.push_back(TrimSpaces(path));
    return names;
  }
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = path.find(separator, pos);
    names.push_back(TrimSpaces(path.substr(pos, hit - pos)));
    if (hit == std::string::npos) break;
    pos = hit + separator.size();
  }
  return names;
}

}  // namespace

std::string ClassXML::DecodeEntities(const std::string& text) {
  std::string s = ReplaceAllNoCase(text, "&quot;", "\"");
  s = ReplaceAllNoCase(s, "&amp;", "&");
  s = ReplaceAllNoCase(s, "&apos;", "'");
  s = ReplaceAllNoCase(s, "&lt;", "<");
  return ReplaceAllNoCase(s, "&gt;", ">");
}

XmlNode ClassXML::ParseTag(const std::string& t) {
  XmlNode tag;
  std::size_t i = 0;
  while (i < t.size() && IsWhite(t[i])) ++i;
  std::size_t nameStart = i;
  while (i < t.size() && !IsWhite(t[i])) ++i;
  tag.name = t.substr(nameStart, i - nameStart);
  if (tag.name.empty()) return tag;

  if (tag.name == "!--") {
    tag.kind = kXmlComplete;
    std::string body = i < t.size() ? t.substr(i + 1) : std::string();
    tag.text = body.size() >= 2 ? body.substr(0, body.size() - 2) : std::string();
    return tag;
  }
  if (tag.name.back() == '/') {
    tag.kind = kXmlComplete;
    tag.name.pop_back();
    return tag;
  }
  if (tag.name.front() == '/') {
    tag.kind = kXmlClosing;
    tag.name.erase(0, 1);
    return tag;
  }
  tag.kind = kXmlOpening;
  while (i < t.size()) {
    while (i < t.size() && IsWhite(t[i])) ++i;
    if (i >= t.size()) break;
    if (t[i] == '/' || t[i] == '?') {
      tag.kind = kXmlComplete;
      break;
    }
    std::size_t eq = t.find('=', i);
    // Only up to the "=": a tag of many attributes stays one pass.
    std::size_t end = std::string_view(t).substr(0, eq).find_first_of("/?", i);
    if (end != std::string::npos && (eq == std::string::npos || end < eq)) {
      tag.kind = kXmlComplete;
      break;
    }
    if (eq == std::string::npos) break;  // a bare word with no value ends the attributes
    std::string name = TrimSpaces(t.substr(i, eq - i));
    i = eq + 1;
    while (i < t.size() && IsWhite(t[i])) ++i;
    std::string value;
    if (i < t.size() && (t[i] == '"' || t[i] == '\'')) {
      char quote = t[i];
      std::size_t close = i + 1;
      while (close < t.size() && !(t[close] == quote && t[close - 1] != '\\')) ++close;
      value = t.substr(i + 1, close - i - 1);
      i = close < t.size() ? close + 1 : t.size();
    } else {
      std::size_t start = i;
      while (i < t.size() && !IsWhite(t[i])) ++i;
      value = t.substr(start, i - start);
    }
    tag.attributes.emplace_back(name, DecodeEntities(value));
  }
  tag.attributeCount = static_cast<std::int32_t>(tag.attributes.size());
  return tag;
}

std::int32_t ClassXML::ParseDocument(const std::string& text) {
  nodes_.clear();
  nodeCount_ = 0;
  std::vector<XmlNode> stack;
  // Content holding markup is no text. Asked before anything is copied: an
  // answer full of unclosed elements would otherwise copy its rest once per
  // element (a megabyte took seconds).
  auto contentOf = [&](const XmlNode& open, std::size_t end) {
    std::size_t start = static_cast<std::size_t>(open.contentStart - 1);
    if (start >= end) return std::string();
    std::size_t markup = text.find('<', start);
    if (markup != std::string::npos && markup < end) return std::string();
    return DecodeEntities(text.substr(start, end - start));
  };
  std::size_t pos = 0;
  for (;;) {
    std::size_t lt = text.find('<', pos);
    if (lt == std::string::npos) break;
    std::size_t gt = text.find('>', lt + 1);
    if (gt == std::string::npos) break;
    pos = gt + 1;
    XmlNode tag = ParseTag(text.substr(lt + 1, gt - lt - 1));
    if (tag.name.empty()) continue;
    std::int32_t level = stack.empty() ? 1 : stack.back().level + 1;
    if (tag.kind == kXmlComplete) {
      tag.text = DecodeEntities(tag.text);
      tag.level = level;
      nodes_.push_back(std::move(tag));
    } else if (tag.kind == kXmlOpening) {
      tag.level = level;
      tag.contentStart = static_cast<std::int32_t>(gt + 2);
      stack.push_back(std::move(tag));
    } else if (!stack.empty() && TextEquals(stack.back().name, tag.name)) {
      XmlNode node = std::move(stack.back());
      stack.pop_back();
      node.text = contentOf(node, lt);
      nodes_.push_back(std::move(node));
    }
  }
  // Elements never closed keep what follows them as their content.
  while (!stack.empty()) {
    XmlNode node = std::move(stack.back());
    stack.pop_back();
    node.text = contentOf(node, text.size());
    nodes_.push_back(std::move(node));
  }
  // A node's parent is the first later node one level up; walking backwards,
  // that is the one most recently seen at that level.
  std::unordered_map<std::int32_t, std::int32_t> latestAtLevel;
  for (std::int32_t i = static_cast<std::int32_t>(nodes_.size()) - 1; i >= 0; --i) {
    XmlNode& n = nodes_[static_cast<std::size_t>(i)];
    if (n.level <= 1) {
      n.parent = -1;
    } else {
      auto it = latestAtLevel.find(n.level - 1);
      n.parent = it == latestAtLevel.end() ? -1 : it->second;
    }
    latestAtLevel[n.level] = i;
  }
  nodeCount_ = static_cast<std::int32_t>(nodes_.size());
  return nodeCount_;
}

bool ClassXML::XML_file(const std::string& path) {
  std::string text;
  if (!ReadTextFile(path, text, 0, kTextAnsi)) {
    nodes_.clear();
    nodeCount_ = 0;
    return false;
  }
  return ParseDocument(text) > 0;
}

bool ClassXML::XML_str(const std::string& text) { return ParseDocument(text) > 0; }

std::vector<std::int32_t> ClassXML::FindNodes(const std::string& path,
                                              const std::string& separator,
                                              bool firstOnly) const {
  std::vector<std::int32_t> matches;
  if (TrimSpaces(path).empty() || nodes_.empty()) return matches;
  std::vector<std::string> names = SplitPath(path, separator);
  const std::int32_t depth = static_cast<std::int32_t>(names.size());
  const std::int32_t count = static_cast<std::int32_t>(nodes_.size());
  for (std::int32_t i = 0; i < count; ++i) {
    const XmlNode& candidate = nodes_[static_cast<std::size_t>(i)];
    if (candidate.level != depth || !TextEquals(candidate.name, names.back())) continue;
    bool match = true;
    std::int32_t up = candidate.parent;
    for (std::int32_t k = depth - 2; k >= 0; --k) {
      if (up < 0 || up >= count ||
          !TextEquals(nodes_[static_cast<std::size_t>(up)].name, names[static_cast<std::size_t>(k)])) {
        match = false;
        break;
      }
      up = nodes_[static_cast<std::size_t>(up)].parent;
    }
    if (!match) continue;
    matches.push_back(i);
    if (firstOnly) break;
  }
  return matches;
}

std::string ClassXML::GetValue(const std::string& path, const std::string& separator,
                               bool firstOnly) const {
  std::string value;
  for (std::int32_t i : FindNodes(path, separator, firstOnly))
    value += nodes_[static_cast<std::size_t>(i)].text;
  return value;
}

std::string ClassXML::GetAttrib(const std::string& path, const std::string& attributeName,
                                const std::string& separator, bool firstOnly) const {
  std::string wanted = TrimSpaces(attributeName);
  std::string value;
  for (std::int32_t i : FindNodes(path, separator, firstOnly)) {
    for (const auto& [name, v] : nodes_[static_cast<std::size_t>(i)].attributes) {
      if (TextEquals(name, wanted)) {
        value = v;
        break;
      }
    }
  }
  return value;
}

}  // namespace velotag
