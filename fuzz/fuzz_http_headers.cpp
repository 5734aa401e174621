// The text side of HttpFetch after the transport: raw response headers, the received cookies,
// the merge with a caller's cookie text, and the URL and request-header helpers.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "config/http_text.h"
#include "intake/text.h"

using kestrova::AnsiText;
using namespace kestrova::config;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string raw = input.ConsumeRandomLengthString(8000);
  AnsiText cookies = input.ConsumeRandomLengthString(1000);
  const AnsiText url = input.ConsumeRemainingBytesAsString();

  const AnsiText headers = ResponseHeaderText(raw);
  if (headers.size() >= kResponseHeaderBuffer) std::abort();
  AnsiText received = ReceivedCookies(headers);
  MergeCookies(cookies, received);
  if (received.find(' ') != AnsiText::npos) std::abort();
  // The merged text holds each item once and no item that the server deleted.
  std::set<AnsiText> seen;
  for (const AnsiText& item : kestrova::intake::SplitText(cookies, "; ")) {
    if (!seen.insert(item).second) std::abort();
    if (item.size() >= 8 && item.compare(item.size() - 8, 8, "=deleted") == 0) std::abort();
  }

  (void)UrlHost(url);
  (void)UrlHost(url, Port::Keep);
  if (UrlPort(url) < 0) std::abort();
  const AnsiText path = UrlPath(url);
  if (path.empty() || path[0] != '/') std::abort();
  (void)UserAgentFor(url);
  (void)CompleteRequestHeaders(url, url, cookies);
  (void)ValueAfterColon(url);
  return 0;
}
