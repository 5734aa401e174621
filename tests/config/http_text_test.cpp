#include "config/http_text.h"

#include <gtest/gtest.h>

namespace kestrova::config {
namespace {

TEST(Url, HostPortPath) {
  struct Case {
    AnsiText url;
    AnsiText host;
    AnsiText hostWithPort;
    int port;
    AnsiText path;
  };
  const Case cases[] = {
      {"1.2.3.4/config", "1.2.3.4", "1.2.3.4", 80, "/config"},
      {"127.0.0.1:8680/config", "127.0.0.1", "127.0.0.1:8680", 8680, "/config"},
      {"https://Example.COM/A/b?Q=1#f", "example.com", "example.com", 443, "/A/b?Q=1#f"},
      {"HTTPS://example.com:8443", "example.com", "example.com:8443", 8443, "/"},
      {"HTTP://Host.Example/Path", "host.example", "host.example", 80, "/Path"},
      {"http://host", "host", "host", 80, "/"},
      {"http://host:/x", "host", "host:", 0, "/x"},
      {"http://host:12ab/x", "host", "host:12ab", 12, "/x"},
      // A one-letter host that also occurs in the scheme's name keeps its own path.
      {"http://h/x", "h", "h", 80, "/x"},
      {"http://tp:81/Y", "tp", "tp:81", 81, "/Y"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UrlHost(c.url), c.host) << c.url;
    EXPECT_EQ(UrlHost(c.url, Port::Keep), c.hostWithPort) << c.url;
    EXPECT_EQ(UrlPort(c.url), c.port) << c.url;
    EXPECT_EQ(UrlPath(c.url), c.path) << c.url;
  }
  EXPECT_TRUE(IsHttpsUrl("HttpS://x"));
  EXPECT_FALSE(IsHttpsUrl("http://x"));
  EXPECT_LT(UrlPort("http://h:99999999999999/"), 1000000);  // no overflow
}

TEST(ValueAfterColon, Cases) {
  EXPECT_EQ(ValueAfterColon("Name:  v a "), "v a");
  EXPECT_EQ(ValueAfterColon("a:b:c"), "b:c");
  EXPECT_EQ(ValueAfterColon("none"), "");
  EXPECT_EQ(ValueAfterColon("x:\t1\r\n"), "\t1\r\n");  // only spaces are trimmed
}

TEST(UserAgent, FromExtraHeaders) {
  EXPECT_EQ(UserAgentFor(""), kDefaultUserAgent);
  EXPECT_EQ(UserAgentFor("Accept: */*"), kDefaultUserAgent);
  // A lone line without a trailing CR LF: the value after its colon.
  EXPECT_EQ(UserAgentFor("User-Agent: Probe/2"), "Probe/2");
  EXPECT_EQ(UserAgentFor("User-Agent:  Probe/2 \r\nAccept: x"), "Probe/2");
  EXPECT_EQ(UserAgentFor("user-agent: lower"), "lower");
}

TEST(RequestHeaders, Completion) {
  EXPECT_EQ(CompleteRequestHeaders("", "1.2.3.4/config", ""),
            "Accept: */*\r\nReferer: 1.2.3.4/config\r\nAccept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(CompleteRequestHeaders("User-Agent: P\r\nReferer: r", "http://h/", "a=1"),
            "User-Agent: P\r\nReferer: r\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nCookie: a=1");
  // The tests are case-sensitive: a lower-case line does not count as present.
  EXPECT_EQ(CompleteRequestHeaders("accept: x\r\nAccept-Language: de\r\nContent-Type: t", "u", ""),
            "accept: x\r\nAccept-Language: de\r\nContent-Type: t\r\nAccept: */*\r\nReferer: u");
}

TEST(ResponseHeaders, SetCookieSpellingAndBufferRule) {
  EXPECT_EQ(ResponseHeaderText("HTTP/1.1 200 OK\r\nset-cookie: a=1\r\nSET-COOKIE: b=2\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n");
  const std::string fits(4999, 'x');
  EXPECT_EQ(ResponseHeaderText(fits).size(), 4999u);
  EXPECT_EQ(ResponseHeaderText(std::string(5000, 'x')), "");
}

TEST(ReceivedCookies, ItemsFromSetCookieLines) {
  EXPECT_EQ(ReceivedCookies("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Path=/; HttpOnly\r\n"
                            "Set-Cookie:  b=2 \r\nX: y\r\n\r\n"),
            "a=1; b=2");
  EXPECT_EQ(ReceivedCookies("HTTP/1.1 200 OK\r\n\r\n"), "");
  EXPECT_EQ(ReceivedCookies(""), "");
  // A line that names Set-Cookie without its colon gives an empty item.
  EXPECT_EQ(ReceivedCookies("X-Set-Cookie-Note; y\r\nSet-Cookie: c=3\r\n"), "; c=3");
}

TEST(CookieHelpers, NamesIndexAndUnique) {
  EXPECT_EQ(CookieName(" a =1"), "a");
  EXPECT_EQ(CookieName("flag"), "flag");
  EXPECT_EQ(CookieName("=v"), "");
  EXPECT_TRUE(HasCookieName({"x=1", "a=2"}, "a"));
  EXPECT_FALSE(HasCookieName({"ab=2"}, "a"));
  EXPECT_EQ(IndexOfText({"a", "b", "b"}, "b"), 2);
  EXPECT_EQ(IndexOfText({"a"}, "c"), -1);
  EXPECT_EQ(IndexOfText({}, ""), -1);
  EXPECT_EQ(JoinUnique("a; b; a; c; b", "; "), "a; b; c");
  EXPECT_EQ(JoinUnique("", "; "), "");
  EXPECT_EQ(JoinUnique("a; a; ", "; "), "a");
}

TEST(MergeCookies, Table) {
  struct Row {
    AnsiText before;
    AnsiText received;
    AnsiText after;
    AnsiText receivedAfter;
  };
  const Row rows[] = {
      {"a=0; c=3", "a=1; b=deleted", "a=1; c=3", "a=1;b=deleted"},
      {"a=0; a=5", "", "a=0", ""},
      {"", "x=9", "x=9", "x=9"},
      {"old=deleted; k=1", "", "k=1", ""},
      {"a=1\xA1\xA1; b = 2", "b=3", "b=3; a=1", "b=3"},  // full-width and ASCII spaces go
      {"", "", "", ""},
  };
  for (const Row& r : rows) {
    AnsiText cookies = r.before;
    AnsiText received = r.received;
    MergeCookies(cookies, received);
    EXPECT_EQ(cookies, r.after) << r.before << " + " << r.received;
    EXPECT_EQ(received, r.receivedAfter) << r.before << " + " << r.received;
  }
}

}  // namespace
}  // namespace kestrova::config
