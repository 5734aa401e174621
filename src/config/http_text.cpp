#include "config/http_text.h"

#include "intake/text.h"

namespace kestrova::config {
namespace {

using intake::Case;
using intake::FindText;
using intake::SplitText;
using intake::TextBetween;
using intake::TrimSpaces;

const AnsiText kCrLf = "\r\n";
const AnsiText kFullWidthSpace = "\xA1\xA1";

// Lower-cases ASCII letters only, stepping over double-byte characters so that a trail byte
// that happens to be a letter keeps its value.
AnsiText LowerAscii(const AnsiText& text) {
  AnsiText out = text;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto byte = static_cast<unsigned char>(out[i]);
    if (byte >= 0x80) {
      ++i;
    } else if (byte >= 'A' && byte <= 'Z') {
      out[i] = static_cast<char>(byte - 'A' + 'a');
    }
  }
  return out;
}

struct HostPart {
  AnsiText host;    // with any ":port"
  int searchStart;  // 1-based position in the URL where the host part begins
};

HostPart FindHostPart(const AnsiText& url) {
  AnsiText work = LowerAscii(url);
  if (work.empty() || work.back() != '/') work += '/';
  if (work.rfind("https://", 0) == 0) {
    return {TextBetween(work, "https://", "/"), 1 + 8};
  }
  int marker = FindText(work, "http://");
  int start = marker == -1 ? 1 : marker + 7;
  if (marker == -1) work = "http://" + work;
  return {TextBetween(work, "http://", "/"), start};
}

AnsiText RemoveAllInsensitive(const AnsiText& text, const AnsiText& needle) {
  AnsiText out;
  int from = 1;
  for (;;) {
    const int at = FindText(text, needle, from, Case::Insensitive);
    if (at == -1) break;
    out.append(text, static_cast<std::size_t>(from - 1), static_cast<std::size_t>(at - from));
    from = at + static_cast<int>(needle.size());
  }
  if (static_cast<std::size_t>(from - 1) < text.size()) out.append(text, static_cast<std::size_t>(from - 1));
  return out;
}

AnsiText RemoveSpaces(const AnsiText& text) {
  AnsiText noFullWidth = intake::ReplaceAll(text, kFullWidthSpace, "");
  AnsiText out;
  out.reserve(noFullWidth.size());
  for (char c : noFullWidth) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

bool EndsWith(const AnsiText& text, std::string_view tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

AnsiText UrlHost(const AnsiText& url, Port port) {
  AnsiText host = FindHostPart(url).host;
  if (port == Port::Strip) {
    const std::size_t colon = host.find(':');
    if (colon != AnsiText::npos) host.resize(colon);
  }
  return host;
}

int UrlPort(const AnsiText& url) {
  const AnsiText host = UrlHost(url, Port::Keep);
  const std::size_t colon = host.rfind(':');
  if (colon == AnsiText::npos) return IsHttpsUrl(url) ? 443 : 80;
  int port = 0;
  for (std::size_t i = colon + 1; i < host.size() && host[i] >= '0' && host[i] <= '9'; ++i) {
    // Anything past five digits is no port at all; stop growing so the value cannot overflow.
    if (port > 99999) break;
    port = port * 10 + (host[i] - '0');
  }
  return port;
}

AnsiText UrlPath(const AnsiText& url) {
  const HostPart part = FindHostPart(url);
  AnsiText host = part.host;
  const std::size_t colon = host.find(':');
  if (colon != AnsiText::npos) host.resize(colon);
  // The host is looked for where it begins, after the scheme, so that a host such as "h" or
  // "tp" is not found inside the word "http" itself.
  int at = FindText(url, host, part.searchStart, Case::Insensitive);
  if (at == -1) at = part.searchStart;
  const int slash = FindText(url, "/", at);
  if (slash == -1) return "/";
  return url.substr(static_cast<std::size_t>(slash - 1));
}

bool IsHttpsUrl(const AnsiText& url) { return LowerAscii(url.substr(0, 5)) == "https"; }

AnsiText ValueAfterColon(const AnsiText& text) {
  const std::size_t colon = text.find(':');
  if (colon == AnsiText::npos) return {};
  return TrimSpaces(text.substr(colon + 1));
}

AnsiText UserAgentFor(const AnsiText& extraHeaders) {
  if (FindText(extraHeaders, "User-Agent:", 0, Case::Insensitive) == -1) return kDefaultUserAgent;
  AnsiText agent = TrimSpaces(TextBetween(extraHeaders, "User-Agent:", kCrLf));
  if (agent.empty()) agent = ValueAfterColon(extraHeaders);
  return agent;
}

AnsiText CompleteRequestHeaders(const AnsiText& extraHeaders, const AnsiText& url,
                                const AnsiText& cookies) {
  AnsiText headers = extraHeaders;
  if (headers.empty()) {
    headers = "Accept: */*";
  } else if (FindText(headers, "Accept:") == -1) {
    headers += kCrLf + "Accept: */*";
  }
  if (FindText(headers, "Referer:") == -1) headers += kCrLf + "Referer: " + url;
  if (FindText(headers, "Accept-Language:") == -1) headers += kCrLf + "Accept-Language: zh-cn";
  if (FindText(headers, "Content-Type:") == -1) {
    headers += kCrLf + "Content-Type: application/x-www-form-urlencoded";
  }
  if (!cookies.empty()) headers += kCrLf + "Cookie: " + cookies;
  return headers;
}

AnsiText ResponseHeaderText(std::string_view rawHeaders) {
  if (rawHeaders.size() + 1 > kResponseHeaderBuffer) return {};
  AnsiText text(rawHeaders);
  static const AnsiText kName = "Set-Cookie";
  int from = 1;
  for (;;) {
    const int at = FindText(text, kName, from, Case::Insensitive);
    if (at == -1) break;
    text.replace(static_cast<std::size_t>(at - 1), kName.size(), kName);
    from = at + static_cast<int>(kName.size());
  }
  return text;
}

AnsiText ReceivedCookies(const AnsiText& responseHeaders) {
  AnsiText received;
  for (const AnsiText& line : SplitText(responseHeaders, kCrLf)) {
    if (FindText(line, "Set-Cookie") == -1) continue;
    AnsiText item;
    if (FindText(line, ";") != -1) {
      item = TrimSpaces(TextBetween(line, "Set-Cookie:", ";"));
    } else {
      item = TrimSpaces(RemoveAllInsensitive(line, "Set-Cookie:"));
    }
    received += item + "; ";
  }
  if (received.size() >= 2) received.resize(received.size() - 2);
  return received;
}

AnsiText CookieName(const AnsiText& item) {
  const std::size_t equals = item.find('=');
  return TrimSpaces(equals == AnsiText::npos ? item : item.substr(0, equals));
}

bool HasCookieName(const std::vector<AnsiText>& items, const AnsiText& name) {
  for (const AnsiText& item : items) {
    if (CookieName(item) == name) return true;
  }
  return false;
}

int IndexOfText(const std::vector<AnsiText>& items, const AnsiText& text) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) return static_cast<int>(i) + 1;
  }
  return -1;
}

AnsiText JoinUnique(const AnsiText& text, const AnsiText& separator) {
  std::vector<AnsiText> kept;
  for (AnsiText& item : SplitText(text, separator)) {
    if (IndexOfText(kept, item) == -1) kept.push_back(std::move(item));
  }
  AnsiText joined;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) joined += separator;
    joined += kept[i];
  }
  return joined;
}

void MergeCookies(AnsiText& cookies, AnsiText& receivedCookies) {
  cookies = RemoveSpaces(cookies);
  receivedCookies = RemoveSpaces(receivedCookies);
  std::vector<AnsiText> items = SplitText(receivedCookies, ";");
  for (AnsiText& old : SplitText(cookies, ";")) {
    if (!HasCookieName(items, CookieName(old))) items.push_back(std::move(old));
  }
  AnsiText merged;
  for (const AnsiText& item : items) {
    if (!EndsWith(item, "=deleted")) merged += item + "; ";
  }
  if (merged.size() >= 2) merged.resize(merged.size() - 2);
  cookies = JoinUnique(merged, "; ");
}

}  // namespace kestrova::config
