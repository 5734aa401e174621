#pragma once

#include <string_view>
#include <vector>

#include "ports/types.h"

// The text side of HttpFetch: URL splitting, header completion, the reading of response headers
// and the cookie merge. Pure functions over code page 936 texts, safe on any thread; the
// transport in http_fetch.cpp only moves bytes between these and the network.
namespace kestrova::config {

inline constexpr const char* kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
// Raw response headers that do not fit this buffer (with its terminating zero) are not read.
inline constexpr std::size_t kResponseHeaderBuffer = 5000;

enum class Port { Strip, Keep };

// The host, lower-cased, with or without ":port". A URL without a scheme counts as http.
AnsiText UrlHost(const AnsiText& url, Port port = Port::Strip);
// The explicit port (leading decimal digits after the last ":" of the host, 0 when there are
// none), else 443 for a URL beginning "https", else 80.
int UrlPort(const AnsiText& url);
// From the first "/" after the host to the end, query included, in the caller's letter case;
// "/" when there is none.
AnsiText UrlPath(const AnsiText& url);
// True exactly when the first five characters, in any case, are "https".
bool IsHttpsUrl(const AnsiText& url);

// The trimmed text after the first ":", or an empty text.
AnsiText ValueAfterColon(const AnsiText& text);

// The agent named by a User-Agent line of `extraHeaders`, else the default agent.
AnsiText UserAgentFor(const AnsiText& extraHeaders);

// Adds what the caller's header lines lack, in this order: Accept, Referer (the URL as given),
// Accept-Language, Content-Type, and a Cookie line when `cookies` is not empty.
AnsiText CompleteRequestHeaders(const AnsiText& extraHeaders, const AnsiText& url,
                                const AnsiText& cookies);

// The response headers as the caller receives them: empty when they would not fit the
// response-header buffer, else the text with every "set-cookie", in any case, spelt
// "Set-Cookie".
AnsiText ResponseHeaderText(std::string_view rawHeaders);

// The name=value items of the Set-Cookie lines of `responseHeaders`, joined by "; ".
AnsiText ReceivedCookies(const AnsiText& responseHeaders);

// The trimmed text before the first "=", or the whole trimmed item.
AnsiText CookieName(const AnsiText& item);
bool HasCookieName(const std::vector<AnsiText>& items, const AnsiText& name);
// 1-based index of the first item equal to `text`, or -1.
int IndexOfText(const std::vector<AnsiText>& items, const AnsiText& text);
// Splits at `separator`, keeps each item at its first occurrence only, and joins again.
AnsiText JoinUnique(const AnsiText& text, const AnsiText& separator);

// Rewrites both variables: spaces are removed from both, and `cookies` becomes the received
// items followed by the earlier items the server did not set again, with "=deleted" items
// dropped and repeats removed.
void MergeCookies(AnsiText& cookies, AnsiText& receivedCookies);

}  // namespace kestrova::config
