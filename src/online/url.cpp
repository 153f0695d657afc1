#include "online/url.h"

#include <cstdint>
#include <cstring>

#include "support/strutil.h"
#include "support/ini.h"
#include "support/numtext.h"
#include "support/textenc.h"

namespace velotag {


std::string UrlEncode(const std::string& text, bool encodeReserved, bool encodeMarks,
                      bool encodeUnsafe) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : StringToAnsi(text)) {
    bool encode = b < 32 || b >= 127;
    if (!encode) {
      char c = static_cast<char>(b);
      encode = (encodeMarks && std::strchr("!$'()*+,-._", c)) ||
               (encodeReserved && std::strchr("$&+,/:;=?@", c)) ||
               (encodeUnsafe && (c == ' ' || std::strchr("\"#%<>[\\]^`{|}~", c)));
    }
    if (encode) {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    } else {
      out.push_back(static_cast<char>(b));
    }
  }
  return out;
}

std::string BuildQueryString(const std::vector<NameValue>& pairs, bool encode) {
  std::string out;
  for (const auto& [rawName, value] : pairs) {
    std::string name = TrimSpaces(rawName);
    if (name.empty()) continue;
    if (!out.empty()) out.push_back('&');
    if (encode) {
      out += UrlEncode(name, true, false, true) + "=" + UrlEncode(value, true, false, true);
    } else {
      out += name + "=" + value;
    }
  }
  return out;
}

std::string UrlFileName(const std::string& url) {
  std::string s = ReplaceAll(url, "&#63;", "?");
  s = ReplaceAllNoCase(s, "%3F", "?");
  s = ReplaceAll(s, "&#35;", "#");
  s = ReplaceAllNoCase(s, "%23", "#");
  s = ReplaceAll(s, "\\", "/");
  if (std::size_t q = s.find('?'); q != std::string::npos) s.erase(q);
  if (std::size_t h = s.find('#'); h != std::string::npos) s.erase(h);
  std::size_t start = s.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  if (s.find('/', start) == std::string::npos) return {};
  return s.substr(s.rfind('/') + 1);
}

std::string UrlOrigin(const std::string& url) {
  std::string s = ReplaceAll(url, "&#63;", "?");
  s = ReplaceAllNoCase(s, "%3F", "?");
  if (std::size_t q = s.find('?'); q != std::string::npos) s.erase(q);
  std::size_t start = s.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  if (std::size_t slash = s.find('/', start); slash != std::string::npos) s.erase(slash);
  return s;
}

std::string Base64Encode(const std::string& text) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes in = StringToAnsi(text);
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    std::uint32_t v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kAlphabet[(v >> shift) & 63]);
  }
  std::size_t rest = in.size() - i;
  if (rest > 0) {
    std::uint32_t v = in[i] << 16;
    if (rest == 2) v |= in[i + 1] << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

namespace {

bool HasControlCharacter(const std::string& text) {
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b < 32 || b == 127) return true;
  }
  return false;
}

}  // namespace

bool ParseRequestUrl(const std::string& urlIn, RequestTarget& target) {
  target = RequestTarget{};
  std::string url = TrimSpaces(urlIn);
  url = ReplaceAll(url, "&amp;", "&");
  url = ReplaceAll(url, "&#63;", "?");
  if (url.find('?') == std::string::npos) url = ReplaceAllNoCase(url, "%3F", "?");
  if (url.find('=') == std::string::npos) url = ReplaceAllNoCase(url, "%3D", "=");
  if (url.find('&') == std::string::npos) url = ReplaceAllNoCase(url, "%26", "&");
  url = ReplaceAll(url, "\\", "/");
  if (HasControlCharacter(url)) return false;

  std::size_t sep = url.find("://");
  std::string scheme = sep == std::string::npos ? "http" : AsciiLower(url.substr(0, sep));
  std::string rest = sep == std::string::npos ? url : url.substr(sep + 3);
  target.https = scheme == "https";
  if ((!target.https && scheme != "http") || rest.empty()) return false;
  std::size_t slash = rest.find('/');
  target.path = slash == std::string::npos ? "/" : rest.substr(slash);
  std::string authority = rest.substr(0, slash);
  target.urlFileName = UrlFileName(target.path);

  target.hostPart = authority;
  if (std::size_t at = authority.rfind('@'); at != std::string::npos) {
    target.credentials = authority.substr(0, at);
    target.hostPart = authority.substr(at + 1);
  }
  target.port = target.https ? 443 : 80;
  target.hostName = target.hostPart;
  if (std::size_t colon = target.hostPart.find(':'); colon != std::string::npos) {
    double number = LeadingNumber(target.hostPart.substr(colon + 1));
    // Whole ports only: ".6" is above 0 but names port 0.
    if (number >= 1 && number < 65536) target.port = static_cast<int>(number);
    target.hostName = target.hostPart.substr(0, colon);
  }
  return !target.hostName.empty();
}

std::string RedirectUrl(const std::string& url, const std::string& location) {
  if (location.find("://") != std::string::npos) return location;
  std::string origin = UrlOrigin(url);
  std::string target = !location.empty() && location[0] == '/' ? location.substr(1) : location;
  return origin + (!origin.empty() && origin.back() == '/' ? "" : "/") + target;
}

std::string ServiceBaseUrl(const std::string& setting, const std::string& fallback,
                           const std::string& scheme) {
  std::string base = TrimSpaces(setting);
  if (base.empty()) base = fallback;
  if (base.find("://") == std::string::npos) base = scheme + "://" + base;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

}  // namespace velotag
