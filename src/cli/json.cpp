#include "json.h"

#include <cstdio>

namespace velotag::cli {

namespace {

// The length of the well-formed UTF-8 sequence at text[i] (overlong forms,
// surrogates and code points beyond U+10FFFF are not), 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t i) {
  auto at = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = at(i);
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  char buf[8];
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = Utf8SequenceAt(text, i);
    if (n == 0) {
      // A byte that is not UTF-8 (file names are raw bytes): U+DC80..U+DCFF,
      // which Python's surrogateescape turns back into that byte.
      std::snprintf(buf, sizeof buf, "\\udc%02x", static_cast<unsigned char>(text[i]));
      out += buf;
      ++i;
      continue;
    }
    // C1 controls too: the JSON may be shown on a terminal as it is.
    if (n == 2 && static_cast<unsigned char>(text[i]) == 0xC2 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
      out += buf;
      i += 2;
      continue;
    }
    if (n > 1) {
      out.append(text, i, n);
      i += n;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(text[i++]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += "\"";
  return out;
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ", ";
    first_.back() = false;
  }
}

void JsonWriter::BeginObject() {
  BeforeValue();
  out_ += "{";
  first_.push_back(true);
}

void JsonWriter::EndObject() {
  out_ += "}";
  first_.pop_back();
}

void JsonWriter::BeginArray() {
  BeforeValue();
  out_ += "[";
  first_.push_back(true);
}

void JsonWriter::EndArray() {
  out_ += "]";
  first_.pop_back();
}

void JsonWriter::Key(std::string_view key) {
  BeforeValue();
  out_ += JsonString(key);
  out_ += ": ";
  afterKey_ = true;
}

void JsonWriter::String(std::string_view value) {
  BeforeValue();
  out_ += JsonString(value);
}

void JsonWriter::Number(std::int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

}  // namespace velotag::cli
