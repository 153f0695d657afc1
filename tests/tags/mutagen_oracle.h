// Runs tests/tools/mutagen_id3v2.py: mutagen as a second opinion on tags.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testutil.h"

namespace velotag::test {

inline Json RunMutagen(const std::string& command, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {PythonPath(), ToolPath("mutagen_id3v2.py"), command};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult r = RunProcess(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  if (r.exitCode != 0) return Json{};
  return ParseJson(r.out);
}

// The frames mutagen read with that identifier.
inline std::vector<Json> FramesWithId(const Json& tag, const std::string& id) {
  std::vector<Json> out;
  for (const Json& f : tag["frames"].array)
    if (f["id"].string == id) out.push_back(f);
  return out;
}

// A canonical text of a JSON value, for comparing two of them.
inline std::string Dump(const Json& j) {
  switch (j.type) {
    case Json::Type::Null: return "null";
    case Json::Type::Bool: return j.boolean ? "true" : "false";
    case Json::Type::Number: return std::to_string(j.number);
    case Json::Type::String: return "\"" + j.string + "\"";
    case Json::Type::Array: {
      std::string out = "[";
      for (const Json& v : j.array) out += Dump(v) + ",";
      return out + "]";
    }
    case Json::Type::Object: {
      std::string out = "{";
      for (const auto& [k, v] : j.object) out += k + ":" + Dump(v) + ",";
      return out + "}";
    }
  }
  return {};
}

inline std::string Hex(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

}  // namespace velotag::test
