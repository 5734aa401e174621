#pragma once

#include <chrono>
#include <cstddef>
#include <stop_token>
#include <string>

#include "config/http_text.h"
#include "ports/types.h"

// One complete HTTP or HTTPS request, synchronous on the caller's thread, over libcurl.
//
// Thread: any thread; calls may run concurrently. The process-wide cookie store (used only
// when the caller omits `cookies`) is shared between calls under a lock. The program makes its
// one call off the GUI thread (see ConfigDownload in config_gate.h).
namespace kestrova::config {

// Any value other than these three is sent as GET.
enum class HttpMethod : int { Get = 0, Post = 1, Head = 2 };

enum class Redirects { Follow, Refuse };

// Transport settings that are not part of the request itself. The defaults are the program's.
struct FetchOptions {
  std::chrono::milliseconds connectTimeout{15'000};
  // The whole request, connect included. A server that is too slow gives what it sent so far.
  std::chrono::milliseconds totalTimeout{30'000};
  // A body that grows beyond this counts as failed: the result is empty.
  std::size_t bodyLimit = 8u * 1024u * 1024u;
  // A PEM file of certificates trusted in addition to the system's (the tests' own CA).
  // Certificate and host name checks are always on.
  std::string extraCaFile;
  // When stop is requested from any thread, the request ends at once with an empty body.
  std::stop_token stopToken;
};

// The parameters in their fixed order. A null pointer is an omitted parameter; an omitted
// `cookies` differs from an empty one (see below), the other pointers simply stand for a
// variable the caller does not keep.
//   cookies          in/out. Supplied: sent as a Cookie line when not empty, the process
//                    cookie store is neither read nor written, and on return it holds the
//                    merge of the old text and the received cookies. Omitted: the process
//                    cookie store sends and keeps cookies, as a browser would.
//   receivedCookies  out. The name=value items of the response's Set-Cookie lines.
//   extraHeaders     in/out. Header lines joined by CR LF, without a final CR LF; on return
//                    the lines actually sent, defaults included.
//   responseHeaders  out. The raw response headers of the final response, lines joined by
//                    CR LF; empty when they are 5000 bytes or more.
//   postBytes        in/out. For POST and HEAD the body; when empty it is filled with the
//                    bytes of `postText`.
//   proxy            "host:port"; empty means a direct connection (proxy variables of the
//                    environment are ignored).
// Returns the response body; empty when the request failed before any of it arrived, when it
// was cancelled or when it exceeded the body limit.
ByteBuffer HttpFetch(const AnsiText& url, HttpMethod method = HttpMethod::Get,
                     const AnsiText& postText = {}, AnsiText* cookies = nullptr,
                     AnsiText* receivedCookies = nullptr, AnsiText* extraHeaders = nullptr,
                     AnsiText* responseHeaders = nullptr, Redirects redirects = Redirects::Follow,
                     ByteBuffer* postBytes = nullptr, const AnsiText& proxy = {});

// The same request with transport settings of the caller's: time-outs, body limit, an extra
// CA file, and a stop token for cancelling from another thread.
ByteBuffer HttpFetch(const FetchOptions& options, const AnsiText& url,
                     HttpMethod method = HttpMethod::Get, const AnsiText& postText = {},
                     AnsiText* cookies = nullptr, AnsiText* receivedCookies = nullptr,
                     AnsiText* extraHeaders = nullptr, AnsiText* responseHeaders = nullptr,
                     Redirects redirects = Redirects::Follow, ByteBuffer* postBytes = nullptr,
                     const AnsiText& proxy = {});

}  // namespace kestrova::config
