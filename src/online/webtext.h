// One request to a web service whose answer is a small text (JSON, XML):
// the body comes back in memory, whatever status the server gave.
#pragma once

#include <cstdint>
#include <string>

#include "online/socket.h"

namespace velotag {

struct WebText {
  // A whole answer arrived (any status); false for no connection, a time-out,
  // a stop, a broken or an oversized body.
  bool received = false;
  int status = 0;
  std::string contentType;
  std::string body;  // the bytes as sent
};

// GET, or POST of a form body when postBody is not empty. No redirects are
// followed: the services answer where they are asked.
WebText FetchWebText(const std::string& url, const std::string& postBody,
                     const std::string& userAgent, int timeoutMs, std::int64_t maxBytes,
                     bool& keepGoing, const PumpFn& pump);

}  // namespace velotag
