#include "json.h"

#include <cstdio>

#include "support/utf8.h"

namespace velotag::cli {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  char buf[8];
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n;
    const std::uint32_t cp =
        DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()) + i, text.size() - i, n);
    if (n == 0) {
      // A byte that is not UTF-8 (file names are raw bytes): U+DC80..U+DCFF,
      // which Python's surrogateescape turns back into that byte.
      std::snprintf(buf, sizeof buf, "\\udc%02x", static_cast<unsigned char>(text[i]));
      out += buf;
      ++i;
      continue;
    }
    // C1 controls too: the JSON may be shown on a terminal as it is.
    if (cp >= 0x80 && cp <= 0x9F) {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      out += buf;
      i += n;
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
