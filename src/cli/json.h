// Just enough JSON output for the CLI: escaped strings and a writer that
// places commas.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velotag::cli {

// A JSON string literal. A byte that is not part of valid UTF-8 (file names
// are raw bytes) is written as the escape \udc80..\udcff, the convention of
// Python's surrogateescape, so that the caller gets the name's bytes back.
std::string JsonString(std::string_view text);

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(std::string_view key);
  void String(std::string_view value);
  void Number(std::int64_t value);
  void Bool(bool value);
  void Null();
  const std::string& str() const { return out_; }

 private:
  void BeforeValue();
  std::string out_;
  std::vector<bool> first_;  // per open container: no item written yet
  bool afterKey_ = false;
};

}  // namespace velotag::cli
