// Builds ID3v2 tags byte by byte for the tests, independently of the code
// under test, and opens files the way the callers do.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "tags/id3v2.h"
#include "testutil.h"

namespace velotag::test {

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

// n bytes, most significant first, of 8 bits each or 7 (synchsafe).
inline Bytes BigEndian(std::uint32_t v, int n, bool synchsafe) {
  Bytes out(static_cast<std::size_t>(n));
  for (int i = n - 1; i >= 0; --i, v >>= synchsafe ? 7 : 8)
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v & (synchsafe ? 0x7F : 0xFF));
  return out;
}

// One frame in the layout of the given major version.
inline Bytes Frame(int version, const std::string& id, const Bytes& body, std::uint16_t flags = 0) {
  const auto n = static_cast<std::uint32_t>(body.size());
  if (version == 2) return Cat({ToBytes(id), BigEndian(n, 3, false), body});
  return Cat({ToBytes(id),
              BigEndian(n, 4, version == 4),
              {static_cast<std::uint8_t>(flags & 0xFF), static_cast<std::uint8_t>(flags >> 8)},
              body});
}

// A text frame body: encoding byte, text, zero.
inline Bytes TextBody(const std::string& text, std::uint8_t encoding = 0) {
  return Cat({{encoding}, ToBytes(text), {0}});
}

inline Bytes Header(int version, std::uint8_t flags, std::uint32_t size,
                    const std::string& magic = "ID3") {
  return Cat(
      {ToBytes(magic), {static_cast<std::uint8_t>(version), 0, flags}, BigEndian(size, 4, true)});
}

// Unsynchronisation: a zero byte after every FF that a reader could take
// for the start of a sync pattern (or for an inserted zero).
inline Bytes Unsynchronise(const Bytes& in) {
  Bytes out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    out.push_back(in[i]);
    if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] == 0 || in[i + 1] >= 0xE0))
      out.push_back(0);
  }
  return out;
}

// A whole tag: header + frames + zero padding (+ a footer when flagged).
inline Bytes Tag(int version, const Bytes& frames, std::size_t padding = 0,
                 std::uint8_t flags = 0) {
  const auto n = static_cast<std::uint32_t>(frames.size() + padding);
  const bool footer = version == 4 && (flags & 0x10);
  return Cat({Header(version, flags, n), frames, Bytes(padding, 0),
              footer ? Header(4, flags, n, "3DI") : Bytes{}});
}

// Stands in for audio: MPEG frame headers and a recognisable pattern.
inline Bytes Audio(std::size_t size = 3000) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (std::size_t i = 0; i + 4 <= size; i += 417) std::memcpy(&out[i], "\xFF\xFB\x90\x64", 4);
  return out;
}

// OpenID3v2 + ReadID3v2Frames as the writing callers do them.
inline int OpenAndRead(const std::string& path, ID3v2Tag& tag) {
  int r = OpenID3v2(path, tag, 4);
  if (r != kTagFailed) ReadID3v2Frames(tag);
  return r;
}

// The bytes as the whole file at path, then opened and read.
inline int Load(const std::string& path, const Bytes& bytes, ID3v2Tag& tag) {
  WriteFileBytes(path, bytes);
  return OpenAndRead(path, tag);
}

// Runs body in a forked child under a process limit that must not touch the
// test runner; true when it answers true.
inline bool InChild(int resource, rlim_t limit, const std::function<bool()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past RLIMIT_FSIZE fails instead
    const rlimit both{limit, limit};
    bool ok = false;
    try {
      ok = ::setrlimit(resource, &both) == 0 && body();
    } catch (...) {
    }
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace velotag::test
