// What the self-update tests share: files as text, and archives made by
// Python's zipfile and tarfile (tools/make_archive.py), hostile ones too.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/paths.h"
#include "testutil.h"

namespace velotag::test {

// "" when there is no such file.
inline std::string ReadText(const std::string& path) {
  if (GetPathType(path) != kPathFile) return {};
  Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

inline std::string MakeArchive(const std::string& path, const std::string& kind,
                               const std::vector<std::string>& entries) {
  std::vector<std::string> argv = {PythonPath(), ToolPath("make_archive.py"), path, kind};
  argv.insert(argv.end(), entries.begin(), entries.end());
  ProcessResult r = RunProcess(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return path;
}

}  // namespace velotag::test
