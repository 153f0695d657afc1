#include "json.h"

#include <cstdio>

#include "support/textenc.h"

namespace velotag::cli {

std::string JsonString(std::string_view text) {
  // The lenient decoder turns stray bytes into characters, so the result is
  // always valid UTF-8.
  std::string valid = Utf8BytesToString(reinterpret_cast<const std::uint8_t*>(text.data()),
                                        text.size());
  std::string out = "\"";
  for (unsigned char c : valid) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
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
