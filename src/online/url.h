// ModURL and BASE64: the URL helpers of the HTTP client.
//
// Every operation works on the characters' codes in the single-byte code page
// (ISO-8859-1); a character beyond it counts as "?".
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velotag {

using NameValue = std::pair<std::string, std::string>;

// Percent-encodes, with upper-case hex digits. Control characters and codes of
// 127 and above are always encoded; the three flags add the mark characters
// ! $ ' ( ) * + , - . _, the reserved ones $ & + , / : ; = ? @ and the unsafe
// ones (blank " # % < > [ \ ] ^ ` { | } ~). A blank becomes "%20", never "+".
std::string UrlEncode(const std::string& text, bool encodeReserved, bool encodeMarks,
                      bool encodeUnsafe);

// name=value pairs joined by "&"; names are trimmed and empty names skipped.
// With encode, both sides go through UrlEncode(reserved, no marks, unsafe).
std::string BuildQueryString(const std::vector<NameValue>& pairs, bool encode);

// The last path segment of a URL without its query and fragment; empty when
// the URL has no path or ends in "/".
std::string UrlFileName(const std::string& url);

// Scheme and authority of a URL ("http://host:81"), query and path dropped.
std::string UrlOrigin(const std::string& url);

// A web service's base address from a setting: blanks trimmed, `fallback`
// when empty, `scheme` + "://" when it names no scheme (a bare host), and no
// trailing "/" so that paths can be appended.
std::string ServiceBaseUrl(const std::string& setting, const std::string& fallback,
                           const std::string& scheme);

// Standard Base64 with "=" padding over the single-byte codes of text.
std::string Base64Encode(const std::string& text);

// What a request URL names, after the client's normalisation: entities and
// encoded separators decoded, backslashes made slashes.
struct RequestTarget {
  bool https = false;
  std::string credentials;  // "user:password" before "@", sent as basic authorisation
  std::string hostPart;     // the Host header: the host with its port as written
  std::string hostName;     // hostPart without the port
  int port = 80;            // 80 or 443 unless the URL names one in 1..65535
  std::string path;         // from the first "/" on; "/" when there is none
  std::string urlFileName;  // UrlFileName of the path
};
// False for a URL that cannot be requested: another scheme, no host, or a
// control character (a line break would write request headers of its own).
bool ParseRequestUrl(const std::string& url, RequestTarget& target);

// Where a redirect from url to location leads: an absolute location as it
// is, any other relative to url's origin.
std::string RedirectUrl(const std::string& url, const std::string& location);

}  // namespace velotag
