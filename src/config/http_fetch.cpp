#include "config/http_fetch.h"

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <array>
#include <cstdio>
#include <memory>
#include <mutex>

#include "intake/text.h"

namespace kestrova::config {
namespace {

// libcurl's cookie engine, shared by every call that omits `cookies`, stands in for the
// system's cookie store. curl calls the lock functions from whichever thread runs a transfer.
class CookieStore {
 public:
  CookieStore() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_share = curl_share_init();
    if (m_share == nullptr) return;
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CookieStore::Lock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CookieStore::Unlock);
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  }
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;
  // The store lives as long as the process; transfers may still be finishing on other
  // threads during static destruction, so it is deliberately never cleaned up.
  ~CookieStore() = default;

  CURLSH* Share() const { return m_share; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<CookieStore*>(user)->MutexFor(data).lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<CookieStore*>(user)->MutexFor(data).unlock();
  }
  std::mutex& MutexFor(curl_lock_data data) {
    const auto index = static_cast<std::size_t>(data);
    return m_mutexes[index < m_mutexes.size() ? index : 0];
  }

  CURLSH* m_share = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> m_mutexes;
};

CookieStore& Store() {
  static CookieStore* store = new CookieStore();  // never destroyed, see ~CookieStore
  return *store;
}

// Everything the curl callbacks write into, owned by one HttpFetch call.
struct Transfer {
  ByteBuffer body;
  std::size_t bodyLimit = 0;
  bool bodyTooLarge = false;
  std::string headers;  // the current response's lines, each ending in CR LF
  bool headersTooLarge = false;
  bool interim = false;  // the current response is a 1xx one
  // A HEAD sent with a body: curl cannot tell that no body follows, so the transfer ends
  // after the final response's headers.
  bool endAfterHeaders = false;
  bool headersComplete = false;
  const std::stop_token* stop = nullptr;
  std::string extraCaFile;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t.body.size() + n > t.bodyLimit) {
    t.bodyTooLarge = true;
    return 0;  // curl aborts the transfer
  }
  t.body.insert(t.body.end(), reinterpret_cast<const std::uint8_t*>(data),
                reinterpret_cast<const std::uint8_t*>(data) + n);
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  // Only the final response's headers count: a redirect or an interim 1xx response starts over.
  if (line.rfind("HTTP/", 0) == 0) {
    t.headers.clear();
    t.headersTooLarge = false;
    const std::size_t space = line.find(' ');
    t.interim = space != std::string_view::npos && space + 1 < line.size() && line[space + 1] == '1';
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (!t.headersTooLarge) {
    // Lines are rejoined with CR LF whatever the server used, and a stray CR inside a line
    // becomes a space: received cookies are sent back in a header line later, so no byte of
    // them may end a line there.
    std::string clean(line);
    for (char& c : clean) {
      if (c == '\r') c = ' ';
    }
    t.headers += clean;
    t.headers += "\r\n";
    if (t.headers.size() + 1 > kResponseHeaderBuffer) {
      t.headersTooLarge = true;
      t.headers.clear();
    }
  }
  if (line.empty() && t.endAfterHeaders && !t.interim) {
    t.headersComplete = true;
    return 0;  // ends the transfer; what was received stands
  }
  return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& t = *static_cast<Transfer*>(user);
  return (t.stop != nullptr && t.stop->stop_requested()) ? 1 : 0;
}

// Adds the certificates of the extra CA file to the connection's trust store, next to the
// system's; verification itself is never relaxed.
CURLcode OnSslContext(CURL*, void* sslContext, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  std::FILE* file = std::fopen(t.extraCaFile.c_str(), "r");
  if (file == nullptr) return CURLE_SSL_CACERT_BADFILE;
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  int added = 0;
  while (X509* cert = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
    if (X509_STORE_add_cert(store, cert) == 1) ++added;
    X509_free(cert);
  }
  std::fclose(file);
  return added > 0 ? CURLE_OK : CURLE_SSL_CACERT_BADFILE;
}

bool IsPlainHost(const AnsiText& host) {
  if (host.empty()) return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

AnsiText FirstLine(const AnsiText& text) {
  const std::size_t end = text.find_first_of("\r\n");
  return end == AnsiText::npos ? text : text.substr(0, end);
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Runs the transfer on a multi handle of its own so that a stop request can wake the wait at
// once instead of at the next progress tick.
CURLcode Perform(CURL* easy, const std::stop_token& stop, bool& cancelled) {
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_FAILED_INIT;
  {
    CURLM* raw = multi.get();
    std::stop_callback wake(stop, [raw] { curl_multi_wakeup(raw); });
    for (;;) {
      if (stop.stop_requested()) {
        cancelled = true;
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      int running = 0;
      if (curl_multi_perform(raw, &running) != CURLM_OK) break;
      if (running == 0) {
        int pending = 0;
        while (CURLMsg* message = curl_multi_info_read(raw, &pending)) {
          if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            result = message->data.result;
          }
        }
        break;
      }
      if (curl_multi_poll(raw, nullptr, 0, 1000, nullptr) != CURLM_OK) break;
    }
  }
  curl_multi_remove_handle(multi.get(), easy);
  return result;
}

}  // namespace

ByteBuffer HttpFetch(const AnsiText& url, HttpMethod method, const AnsiText& postText,
                     AnsiText* cookies, AnsiText* receivedCookies, AnsiText* extraHeaders,
                     AnsiText* responseHeaders, Redirects redirects, ByteBuffer* postBytes,
                     const AnsiText& proxy) {
  return HttpFetch(FetchOptions{}, url, method, postText, cookies, receivedCookies, extraHeaders,
                   responseHeaders, redirects, postBytes, proxy);
}

ByteBuffer HttpFetch(const FetchOptions& options, const AnsiText& url, HttpMethod method,
                     const AnsiText& postText, AnsiText* cookies, AnsiText* receivedCookies,
                     AnsiText* extraHeaders, AnsiText* responseHeaders, Redirects redirects,
                     ByteBuffer* postBytes, const AnsiText& proxy) {
  AnsiText ownReceived, ownExtra, ownResponse;
  ByteBuffer ownPostBytes;
  if (receivedCookies == nullptr) receivedCookies = &ownReceived;
  if (extraHeaders == nullptr) extraHeaders = &ownExtra;
  if (responseHeaders == nullptr) responseHeaders = &ownResponse;
  if (postBytes == nullptr) postBytes = &ownPostBytes;

  if (method != HttpMethod::Post && method != HttpMethod::Head) method = HttpMethod::Get;
  const bool https = IsHttpsUrl(url);
  const AnsiText agent = FirstLine(UserAgentFor(*extraHeaders));

  // A host that is not a plain name or address would be read by curl's URL parser as user
  // information or another authority; such a connection cannot be made, as for a bad name.
  const AnsiText host = UrlHost(url);
  const int port = UrlPort(url);
  if (!IsPlainHost(host) || port < 1 || port > 65535) return {};
  CookieStore& store = Store();
  std::unique_ptr<CURL, EasyDeleter> easyOwner(curl_easy_init());
  CURL* easy = easyOwner.get();
  if (easy == nullptr) return {};
  const std::string target = std::string(https ? "https://" : "http://") + host + ":" +
                             std::to_string(port) + UrlPath(url);
  if (curl_easy_setopt(easy, CURLOPT_URL, target.c_str()) != CURLE_OK) return {};

  *extraHeaders = CompleteRequestHeaders(*extraHeaders, url, cookies != nullptr ? *cookies : AnsiText{});
  if (method != HttpMethod::Get && postBytes->empty()) postBytes->assign(postText.begin(), postText.end());

  Transfer transfer;
  transfer.bodyLimit = options.bodyLimit;
  transfer.stop = &options.stopToken;
  transfer.extraCaFile = options.extraCaFile;

  std::unique_ptr<curl_slist, ListDeleter> headerList;
  auto addHeader = [&headerList](const std::string& line) {
    curl_slist* grown = curl_slist_append(headerList.get(), line.c_str());
    if (grown != nullptr) {
      (void)headerList.release();
      headerList.reset(grown);
    }
  };
  for (const AnsiText& line : intake::SplitText(*extraHeaders, "\r\n")) {
    if (!line.empty()) addHeader(line);
  }
  // curl would otherwise announce large bodies with "Expect: 100-continue"; the request
  // carries exactly the lines above.
  addHeader("Expect:");

  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeout.count()));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.extraCaFile.empty()) {
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &transfer);
  }
  // An empty proxy text switches off curl's use of the proxy environment variables too.
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (redirects == Redirects::Follow) {
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  }
  if (cookies == nullptr && store.Share() != nullptr) {
    curl_easy_setopt(easy, CURLOPT_SHARE, store.Share());
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
  }

  static const char kNoBytes[] = "";
  const char* bodyData = postBytes->empty() ? kNoBytes : reinterpret_cast<const char*>(postBytes->data());
  const auto bodySize = static_cast<curl_off_t>(postBytes->size());
  if (method == HttpMethod::Post) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bodyData);
  } else if (method == HttpMethod::Head) {
    // No response body is read for HEAD. curl sends no body with its own HEAD, so a HEAD
    // with a body goes out as a POST under the HEAD verb, and the transfer is ended as soon
    // as the response headers are in (see OnHeader); such a request follows no redirect.
    if (!postBytes->empty()) {
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, bodySize);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bodyData);
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "HEAD");
      curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
      transfer.endAfterHeaders = true;
    } else {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    }
  }

  bool cancelled = false;
  const CURLcode result = Perform(easy, options.stopToken, cancelled);
  (void)result;  // a failed read keeps the bytes that arrived before it, as a short read would
  if (result == CURLE_ABORTED_BY_CALLBACK) cancelled = true;

  *responseHeaders = transfer.headersTooLarge ? AnsiText{} : ResponseHeaderText(transfer.headers);
  *receivedCookies = ReceivedCookies(*responseHeaders);
  if (cookies != nullptr) MergeCookies(*cookies, *receivedCookies);
  if (cancelled || transfer.bodyTooLarge) return {};
  return std::move(transfer.body);
}

}  // namespace kestrova::config
