#include "config/http_fetch.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>

#include <unistd.h>

#include "loopback_http.h"

namespace kestrova::config {
namespace {

using testing::HttpResponse;
using testing::LoopbackHttpServer;
using testing::UnusedPort;

std::string Text(const ByteBuffer& bytes) { return std::string(bytes.begin(), bytes.end()); }

LoopbackHttpServer::Responder Always(std::string response) {
  return [response](const std::string&) { return response; };
}

// The value of the request's only Cookie line; empty when there is none, "(several)" when
// there are more.
std::string CookieLine(const std::string& request) {
  const std::size_t at = request.find("\r\nCookie: ");
  if (at == std::string::npos) return {};
  if (request.find("\r\nCookie: ", at + 1) != std::string::npos) return "(several)";
  const std::size_t start = at + 10;
  return request.substr(start, request.find("\r\n", start) - start);
}

std::string Local(int port) { return "127.0.0.1:" + std::to_string(port); }

const std::string kDefaultHeaders =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n";

TEST(HttpFetch, ConfigurationRequestIsExactlyTheDescribedOne) {
  LoopbackHttpServer server(Always(HttpResponse("200 OK", {}, "body")));
  const AnsiText url = Local(server.Port()) + "/config";
  EXPECT_EQ(Text(HttpFetch(url)), "body");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /config HTTP/1.1\r\n"
            "Host: " + url.substr(0, url.find('/')) + "\r\n" + kDefaultHeaders +
                "Accept: */*\r\n"
                "Referer: " + url + "\r\n"
                "Accept-Language: zh-cn\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\n"
                "\r\n");
}

TEST(HttpFetch, PostSendsPostTextAndFillsPostBytes) {
  LoopbackHttpServer server(Always(HttpResponse("200 OK", {}, "ok")));
  const AnsiText url = "http://" + Local(server.Port()) + "/Submit?Q=1";
  AnsiText headers;
  ByteBuffer postBytes;
  const ByteBuffer body = HttpFetch(url, HttpMethod::Post, "a=1&b=2", nullptr, nullptr, &headers,
                                    nullptr, Redirects::Follow, &postBytes);
  EXPECT_EQ(Text(body), "ok");
  EXPECT_EQ(Text(postBytes), "a=1&b=2");
  EXPECT_EQ(headers, "Accept: */*\r\nReferer: " + url +
                         "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "POST /Submit?Q=1 HTTP/1.1\r\nHost: " + Local(server.Port()) +
                                      "\r\n" + kDefaultHeaders + headers +
                                      "\r\nContent-Length: 7\r\n\r\na=1&b=2");
}

TEST(HttpFetch, PostBytesWinOverPostText) {
  LoopbackHttpServer server(Always(HttpResponse("200 OK", {}, "")));
  ByteBuffer postBytes{'x', 0, 'y'};
  HttpFetch(Local(server.Port()) + "/p", HttpMethod::Post, "ignored", nullptr, nullptr, nullptr,
            nullptr, Redirects::Follow, &postBytes);
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string request = server.Requests()[0];
  EXPECT_EQ(request.substr(request.size() - 3), std::string("x\0y", 3));
  EXPECT_NE(request.find("Content-Length: 3\r\n"), std::string::npos);
}

TEST(HttpFetch, HeadReadsNoBodyAndMayCarryOne) {
  LoopbackHttpServer server(Always("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Probe: 1\r\n\r\n"));
  AnsiText responseHeaders;
  EXPECT_TRUE(HttpFetch(Local(server.Port()) + "/h", HttpMethod::Head, "", nullptr, nullptr, nullptr,
                        &responseHeaders)
                  .empty());
  EXPECT_EQ(responseHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Probe: 1\r\n\r\n");

  ByteBuffer postBytes;
  HttpFetch(Local(server.Port()) + "/h", HttpMethod::Head, "q=1", nullptr, nullptr, nullptr, nullptr,
            Redirects::Follow, &postBytes);
  EXPECT_EQ(Text(postBytes), "q=1");
  ASSERT_TRUE(server.WaitForRequests(2));
  EXPECT_EQ(server.Requests()[0].rfind("HEAD /h HTTP/1.1\r\n", 0), 0u);
  EXPECT_EQ(server.Requests()[0].find("Content-Length"), std::string::npos);
  EXPECT_EQ(server.Requests()[1].rfind("HEAD /h HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(server.Requests()[1].find("Content-Length: 3\r\n\r\nq=1"), std::string::npos);
}

TEST(HttpFetch, UnknownMethodIsGetAndAgentComesFromExtraHeaders) {
  LoopbackHttpServer server(Always(HttpResponse("200 OK", {}, "")));
  AnsiText headers = "User-Agent: Probe/2";
  HttpFetch(Local(server.Port()) + "/m", static_cast<HttpMethod>(7), "", nullptr, nullptr, &headers);
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string request = server.Requests()[0];
  EXPECT_EQ(request.rfind("GET /m HTTP/1.1\r\nHost: " + Local(server.Port()) +
                              "\r\nUser-Agent: Probe/2\r\nAccept: */*\r\n",
                          0),
            0u);
  EXPECT_EQ(request.find("Mozilla"), std::string::npos);
  EXPECT_EQ(request.find("User-Agent", request.find("User-Agent") + 1), std::string::npos);
}

TEST(HttpFetch, RedirectsFollowedUnlessRefused) {
  LoopbackHttpServer server([](const std::string& request) {
    if (request.rfind("GET /start ", 0) == 0) {
      return HttpResponse("302 Found", {"Location: /final", "Set-Cookie: hop=1"}, "moved");
    }
    return HttpResponse("200 OK", {"X-Final: yes"}, "final");
  });
  const AnsiText url = Local(server.Port()) + "/start";
  AnsiText responseHeaders;
  EXPECT_EQ(Text(HttpFetch(url, HttpMethod::Get, "", nullptr, nullptr, nullptr, &responseHeaders)), "final");
  ASSERT_TRUE(server.WaitForRequests(2));
  EXPECT_EQ(server.Requests()[1].rfind("GET /final HTTP/1.1\r\n", 0), 0u);
  // Only the final response's headers are reported.
  EXPECT_EQ(responseHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_NE(responseHeaders.find("X-Final: yes"), AnsiText::npos);
  EXPECT_EQ(responseHeaders.find("302"), AnsiText::npos);

  AnsiText received;
  AnsiText cookies;
  const ByteBuffer refused = HttpFetch(url, HttpMethod::Get, "", &cookies, &received, nullptr,
                                       &responseHeaders, Redirects::Refuse);
  EXPECT_EQ(Text(refused), "moved");
  EXPECT_EQ(responseHeaders.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
  EXPECT_EQ(received, "hop=1");
  EXPECT_FALSE(server.WaitForRequests(4, std::chrono::seconds(0)));
  EXPECT_EQ(server.Requests().size(), 3u);
}

TEST(HttpFetch, SetCookieLinesAndTheMergeOfSuppliedCookies) {
  LoopbackHttpServer server(Always(HttpResponse(
      "200 OK", {"set-cookie: a=1; Path=/; HttpOnly", "SET-COOKIE: b=deleted", "X-Other: 1"}, "")));
  AnsiText cookies = "a=0; c=3";
  AnsiText received;
  AnsiText headers;
  AnsiText responseHeaders;
  HttpFetch(Local(server.Port()) + "/c", HttpMethod::Get, "", &cookies, &received, &headers,
            &responseHeaders);
  EXPECT_EQ(cookies, "a=1; c=3");
  EXPECT_EQ(received, "a=1;b=deleted");
  EXPECT_NE(responseHeaders.find("\r\nSet-Cookie: a=1; Path=/; HttpOnly\r\nSet-Cookie: b=deleted\r\n"),
            AnsiText::npos);
  // The caller's cookies travel as the last extra header line.
  EXPECT_EQ(headers.substr(headers.rfind("\r\n") + 2), "Cookie: a=0; c=3");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].find("\r\nCookie: a=0; c=3\r\n\r\n"), std::string::npos);
}

TEST(HttpFetch, OmittedCookiesUseTheProcessStoreSuppliedOnesBypassIt) {
  LoopbackHttpServer server([](const std::string& request) {
    if (request.rfind("GET /set ", 0) == 0) return HttpResponse("200 OK", {"Set-Cookie: storeprobe=7"}, "");
    return HttpResponse("200 OK", {}, "");
  });
  const AnsiText base = Local(server.Port());
  HttpFetch(base + "/set");
  HttpFetch(base + "/again");
  AnsiText empty;
  HttpFetch(base + "/own", HttpMethod::Get, "", &empty);
  AnsiText mine = "m=1";
  HttpFetch(base + "/mine", HttpMethod::Get, "", &mine);
  ASSERT_TRUE(server.WaitForRequests(4));
  const auto requests = server.Requests();
  // The store's line may carry cookies other tests left in it; curl places it before ours.
  EXPECT_NE(CookieLine(requests[1]).find("storeprobe=7"), std::string::npos);
  EXPECT_EQ(requests[2].find("Cookie"), std::string::npos);
  EXPECT_EQ(CookieLine(requests[3]), "m=1");
  EXPECT_EQ(requests[3].find("storeprobe"), std::string::npos);
}

TEST(HttpFetch, ResponseHeadersOfFiveThousandBytesAreNotRead) {
  LoopbackHttpServer server(Always(
      HttpResponse("200 OK", {"Set-Cookie: big=1", "X-Pad: " + std::string(5000, 'p')}, "still here")));
  AnsiText received = "stale";
  AnsiText responseHeaders = "stale";
  const ByteBuffer body = HttpFetch(Local(server.Port()) + "/big", HttpMethod::Get, "", nullptr, &received,
                                    nullptr, &responseHeaders);
  EXPECT_EQ(Text(body), "still here");
  EXPECT_EQ(responseHeaders, "");
  EXPECT_EQ(received, "");
}

TEST(HttpFetch, BodyBeyondTheLimitCountsAsFailed) {
  LoopbackHttpServer server([](const std::string& request) {
    const bool big = request.rfind("GET /big ", 0) == 0;
    return HttpResponse("200 OK", {}, std::string(big ? 1001 : 1000, 'b'));
  });
  FetchOptions options;
  options.bodyLimit = 1000;
  EXPECT_EQ(HttpFetch(options, Local(server.Port()) + "/fits").size(), 1000u);
  EXPECT_TRUE(HttpFetch(options, Local(server.Port()) + "/big").empty());
}

TEST(HttpFetch, UnreachableServerGivesAnEmptyBodyWithHeadersCompleted) {
  const AnsiText url = Local(UnusedPort()) + "/config";
  AnsiText headers;
  AnsiText responseHeaders = "stale";
  EXPECT_TRUE(HttpFetch(url, HttpMethod::Get, "", nullptr, nullptr, &headers, &responseHeaders).empty());
  EXPECT_EQ(headers.rfind("Accept: */*\r\nReferer: " + url, 0), 0u);
  EXPECT_EQ(responseHeaders, "");
}

TEST(HttpFetch, HostsThatAreNotPlainNamesAreRefused) {
  LoopbackHttpServer server(Always(HttpResponse("200 OK", {}, "reached")));
  AnsiText headers;
  for (const AnsiText& url : {"user@" + Local(server.Port()) + "/x", AnsiText("/x"), AnsiText("")}) {
    EXPECT_TRUE(HttpFetch(url, HttpMethod::Get, "", nullptr, nullptr, &headers).empty()) << url;
    EXPECT_EQ(headers, "") << url;  // refused before anything was prepared
  }
  EXPECT_EQ(server.Requests().size(), 0u);
}

TEST(HttpFetch, SilentServerEndsAtTheTotalTimeOut) {
  LoopbackHttpServer server(Always(LoopbackHttpServer::kHold));
  FetchOptions options;
  options.totalTimeout = std::chrono::milliseconds(300);
  EXPECT_TRUE(HttpFetch(options, Local(server.Port()) + "/slow").empty());
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(HttpFetch, StopTokenCancelsARunningRequestAtOnce) {
  LoopbackHttpServer server(Always(LoopbackHttpServer::kHold));
  std::stop_source stop;
  FetchOptions options;  // the program's long time-outs
  options.stopToken = stop.get_token();
  auto fetch = std::async(std::launch::async, [&] { return HttpFetch(options, Local(server.Port()) + "/hang"); });
  ASSERT_TRUE(server.WaitForRequests(1));
  stop.request_stop();
  ASSERT_EQ(fetch.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(fetch.get().empty());
}

TEST(HttpFetch, HttpThroughAProxy) {
  LoopbackHttpServer proxy(Always(HttpResponse("200 OK", {}, "from proxy")));
  const AnsiText target = Local(UnusedPort()) + "/via";
  const ByteBuffer body = HttpFetch(target, HttpMethod::Get, "", nullptr, nullptr, nullptr, nullptr,
                                    Redirects::Follow, nullptr, Local(proxy.Port()));
  EXPECT_EQ(Text(body), "from proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].rfind("GET http://" + target + " HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(proxy.Requests()[0].find("\r\nReferer: " + target + "\r\n"), std::string::npos);
}

TEST(HttpFetch, HttpsThroughAProxyTunnels) {
  LoopbackHttpServer proxy(Always("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"));
  const int port = UnusedPort();
  EXPECT_TRUE(HttpFetch("https://" + Local(port) + "/t", HttpMethod::Get, "", nullptr, nullptr, nullptr,
                        nullptr, Redirects::Follow, nullptr, Local(proxy.Port()))
                  .empty());
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].rfind("CONNECT " + Local(port) + " HTTP/1.1\r\n", 0), 0u);
}

// A certificate for 127.0.0.1 made for this run with the openssl command line.
class HttpsFetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::filesystem::temp_directory_path() / ("kestrova-tls-" + std::to_string(::getpid()));
    std::filesystem::create_directories(s_dir);
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        (s_dir / "key.pem").string() + "' -out '" + (s_dir / "cert.pem").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    s_context = SSL_CTX_new(TLS_server_method());
    ASSERT_EQ(SSL_CTX_use_certificate_file(s_context, (s_dir / "cert.pem").c_str(), SSL_FILETYPE_PEM), 1);
    ASSERT_EQ(SSL_CTX_use_PrivateKey_file(s_context, (s_dir / "key.pem").c_str(), SSL_FILETYPE_PEM), 1);
  }
  static void TearDownTestSuite() {
    SSL_CTX_free(s_context);
    std::filesystem::remove_all(s_dir);
  }
  static inline std::filesystem::path s_dir;
  static inline SSL_CTX* s_context = nullptr;
};

TEST_F(HttpsFetch, TrustedCertificateGetsTheBody) {
  LoopbackHttpServer server(Always(HttpResponse("200 OK", {}, "secret")), s_context);
  FetchOptions options;
  options.extraCaFile = (s_dir / "cert.pem").string();
  const AnsiText url = "https://" + Local(server.Port()) + "/s";
  EXPECT_EQ(Text(HttpFetch(options, url)), "secret");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].rfind("GET /s HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(server.Requests()[0].find("\r\nReferer: " + url + "\r\n"), std::string::npos);
}

TEST_F(HttpsFetch, UntrustedCertificateIsRefused) {
  LoopbackHttpServer server(Always(HttpResponse("200 OK", {}, "secret")), s_context);
  EXPECT_TRUE(HttpFetch("https://" + Local(server.Port()) + "/s").empty());
  EXPECT_EQ(server.Requests().size(), 0u);
}

}  // namespace
}  // namespace kestrova::config
