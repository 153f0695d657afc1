#include "update/mirror.h"

#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <cstring>
#include <memory>

#include "support/largefile.h"
#include "support/paths.h"

namespace velotag {

namespace {

constexpr std::size_t kBlock = 1 << 20;
constexpr std::size_t kMaxStampVersion = 32;

struct DigestFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

DownloadKind DetectDownloadKind(const std::string& file) {
  FileHandle f = OpenRead(file);
  std::array<char, 4> head{};
  if (!f.valid() || LargeFileRead(f.get(), head.data(), head.size()) < 2)
    return DownloadKind::Other;
  if (std::memcmp(head.data(), "Rar!", 4) == 0) return DownloadKind::Rar;
  if (head[0] == 'P' && head[1] == 'K') return DownloadKind::Zip;
  if (std::memcmp(head.data(), "\x7F" "ELF", 4) == 0) return DownloadKind::Executable;
  return DownloadKind::Other;
}

std::string FileSha256(const std::string& file) {
  Offset64 size = 0;
  FileHandle f = OpenRead(file, &size);
  std::unique_ptr<EVP_MD_CTX, DigestFree> ctx(EVP_MD_CTX_new());
  if (!f.valid() || !ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return {};
  std::vector<unsigned char> buf(kBlock);
  Offset64 done = 0;
  while (done < size) {
    std::size_t n = LargeFileRead(f.get(), buf.data(), buf.size());
    if (n == 0) return {};
    if (EVP_DigestUpdate(ctx.get(), buf.data(), n) != 1) return {};
    done += static_cast<Offset64>(n);
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdSize = 0;
  if (EVP_DigestFinal_ex(ctx.get(), md, &mdSize) != 1) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < mdSize; ++i) {
    hex.push_back(kHex[md[i] >> 4]);
    hex.push_back(kHex[md[i] & 15]);
  }
  return hex;
}

std::string DownloadFirstMirror(std::string& localPath, const std::vector<std::string>& urls,
                                int timeoutMs, const DownloadFn& download,
                                const std::string& sha256,
                                const std::function<void(const std::string&)>& note) {
  const std::string target = localPath;
  for (const std::string& address : urls) {
    if (address.empty()) continue;
    std::string url = address, file = target;
    if (!download(url, file, timeoutMs, kMaxArchiveBytes)) continue;
    if (DetectDownloadKind(file) == DownloadKind::Other) {
      FileDelete(file);
      continue;
    }
    // Anyone on the way could have swapped the file: only the one the home
    // page vouches for is kept.
    if (sha256.empty() || FileSha256(file) != sha256) {
      if (note) note("SHA-256 mismatch: " + url);
      FileDelete(file);
      continue;
    }
    localPath = file;
    return file;
  }
  return {};
}

std::string ReadVersionStamp(const std::string& file) {
  FileHandle f = OpenRead(file);
  if (!f.valid()) return {};
  const std::string prefix = kVersionStampPrefix;
  const std::size_t keep = prefix.size() + kMaxStampVersion;
  std::string window;
  std::vector<char> buf(kBlock);
  for (;;) {
    std::size_t n = LargeFileRead(f.get(), buf.data(), buf.size());
    window.append(buf.data(), n);
    bool end = n == 0;
    std::size_t at = window.find(prefix);
    // The prefix also stands alone in the program (this very constant):
    // only an occurrence followed by a version counts.
    for (; at != std::string::npos; at = window.find(prefix, at + 1)) {
      if (!end && window.size() - at < keep) break;  // its version is still to come
      std::string version;
      for (std::size_t i = at + prefix.size();
           i < window.size() && version.size() < kMaxStampVersion; ++i) {
        char c = window[i];
        bool part = std::isalnum(static_cast<unsigned char>(c)) ||
                    (c != '\0' && std::strchr(".+-~", c) != nullptr);
        if (!part) break;
        version.push_back(c);
      }
      if (!version.empty()) return version;
    }
    if (end) return {};
    std::size_t cut = at != std::string::npos ? at : window.size() > keep ? window.size() - keep : 0;
    window.erase(0, cut);
  }
}

std::string OfferDownloadedText(const std::string& path, DownloadKind& kind) {
  kind = DetectDownloadKind(path);
  std::string text = "File: " + GetFileNamePart(path) + "\r\n";
  switch (kind) {
    case DownloadKind::Zip:
    case DownloadKind::Rar: return text + "Open archived file?";
    case DownloadKind::Executable:
      return text + "Ver: " + ReadVersionStamp(path) + "\r\nOpen Directory?";
    default: return text + "\r\nOpen Directory?";
  }
}

}  // namespace velotag
