#include "online/webtext.h"

#include "online/http.h"
#include "support/largefile.h"
#include "support/tempfiles.h"

namespace velotag {

WebText FetchWebText(const std::string& url, const std::string& postBody,
                     const std::string& userAgent, int timeoutMs, std::int64_t maxBytes,
                     bool& keepGoing, const PumpFn& pump) {
  WebText answer;
  TempFile answerFile = TempFile::Create(TempFolder(), "QRN", "");
  const std::string file = answerFile.path();
  if (file.empty()) return answer;
  std::string cookies;
  HttpResult r = HttpRequestOnce(url, file, timeoutMs, keepGoing, maxBytes, postBody, cookies,
                                 userAgent, pump);
  Offset64 size = -1;
  FileHandle in = OpenRead(file, &size);
  answerFile.reset();
  if (!keepGoing || r.status == 0 || r.bodyIncomplete || !in.valid() || size < 0 ||
      size >= maxBytes || (r.contentLength >= 0 && size != r.contentLength))
    return answer;
  answer.body.resize(static_cast<std::size_t>(size));
  if (LargeFileReadAt(in.get(), answer.body.data(), answer.body.size(), 0) != answer.body.size())
    return answer;
  answer.received = true;
  answer.status = r.status;
  answer.contentType = r.contentType;
  return answer;
}

}  // namespace velotag
