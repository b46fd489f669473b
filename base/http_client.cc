// The HTTP exchanges of Brevick over libcurl, and the try-in-turn loop that
// timestamping and CRL downloads share. libcurl's own error texts are terse
// and name its internals ("Couldn't connect to server"); the operator gets a
// reason in plain words instead, keeping libcurl's text only for TLS, whose
// failures have too many causes to name here.
//
// libcurl is loaded on first use rather than linked: it drags in some thirty
// shared libraries (HTTP/2, SSH, LDAP, Kerberos, ...) whose loading every run
// would pay, while only the network options ever talk HTTP. curl/curl.h still
// gives the types and constants; the functions come from the loaded library.
// Tested by tests/base/http_client_test.cc against a local python3 server.
#include "base/http_client.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <string_view>
#include <thread>

namespace brevick {
namespace {

// The library and the package that ships it, as an operator would install it.
constexpr const char* kLibcurlName = "libcurl.so.4";
constexpr const char* kLibcurlPackage = "libcurl4";
// Names another library to load in its place, so that the tests can see a run
// on a machine without libcurl; ignored in set-user-ID runs (secure_getenv).
constexpr const char* kLibcurlOverride = "BREVICK_LIBCURL";

// The libcurl functions Brevick calls, with the types curl/curl.h declares.
struct CurlApi {
  decltype(&curl_global_init) globalInit = nullptr;
  decltype(&curl_easy_init) easyInit = nullptr;
  decltype(&curl_easy_cleanup) easyCleanup = nullptr;
  decltype(&curl_easy_setopt) easySetopt = nullptr;
  decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
  decltype(&curl_easy_perform) easyPerform = nullptr;
  decltype(&curl_easy_strerror) easyStrerror = nullptr;
  decltype(&curl_slist_append) slistAppend = nullptr;
  decltype(&curl_slist_free_all) slistFreeAll = nullptr;
};

struct LoadedCurl {
  CurlApi api;
  std::string problem;  // empty when libcurl is loaded and set up
};

template <typename Function>
bool Resolve(void* library, const char* name, Function& function, std::string& problem) {
  void* const symbol = dlsym(library, name);
  if (symbol == nullptr) {
    problem = std::string(kLibcurlName) + " lacks " + name;
    return false;
  }
  function = reinterpret_cast<Function>(symbol);
  return true;
}

bool ResolveAll(void* library, CurlApi& api, std::string& problem) {
  return Resolve(library, "curl_global_init", api.globalInit, problem) &&
         Resolve(library, "curl_easy_init", api.easyInit, problem) &&
         Resolve(library, "curl_easy_cleanup", api.easyCleanup, problem) &&
         Resolve(library, "curl_easy_setopt", api.easySetopt, problem) &&
         Resolve(library, "curl_easy_getinfo", api.easyGetinfo, problem) &&
         Resolve(library, "curl_easy_perform", api.easyPerform, problem) &&
         Resolve(library, "curl_easy_strerror", api.easyStrerror, problem) &&
         Resolve(library, "curl_slist_append", api.slistAppend, problem) &&
         Resolve(library, "curl_slist_free_all", api.slistFreeAll, problem);
}

// The library stays loaded to the end of the process: libcurl keeps global
// state (its TLS back end) that is not meant to be torn down and set up again.
LoadedCurl LoadCurl() {
  LoadedCurl loaded;
  const char* override = secure_getenv(kLibcurlOverride);
  const char* name = override != nullptr && *override != '\0' ? override : kLibcurlName;
  void* const library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    loaded.problem = reason != nullptr ? reason : name;
  } else if (ResolveAll(library, loaded.api, loaded.problem) &&
             loaded.api.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    loaded.problem = std::string(kLibcurlName) + " cannot be set up";
  }
  if (!loaded.problem.empty()) {
    loaded.problem = std::string("HTTP needs ") + kLibcurlName + " (install the " +
                     kLibcurlPackage + " package): " + loaded.problem;
  }
  return loaded;
}

// Loaded once per process, on the first exchange; libcurl's global set-up is
// not thread-safe, and a static's initialisation runs exactly once.
const LoadedCurl& Curl() {
  static const LoadedCurl loaded = LoadCurl();
  return loaded;
}

const CurlApi& Api() { return Curl().api; }

struct CurlFree {
  void operator()(CURL* handle) const { Api().easyCleanup(handle); }
};
struct CurlListFree {
  void operator()(curl_slist* list) const { Api().slistFreeAll(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlFree>;
using CurlListPtr = std::unique_ptr<curl_slist, CurlListFree>;

CurlPtr NewHandle() { return CurlPtr(Api().easyInit()); }

// What one exchange collects while libcurl runs it.
struct Exchange {
  std::vector<std::uint8_t> body;
  std::size_t maxBodyBytes = 0;
  bool bodyTooLarge = false;
  std::string reasonPhrase;  // from the last status line seen
  char errorText[CURL_ERROR_SIZE] = {};
};

std::size_t KeepBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const std::size_t bytes = size * count;
  if (bytes > exchange->maxBodyBytes - exchange->body.size()) {
    exchange->bodyTooLarge = true;
    return 0;  // makes libcurl stop with a write error
  }
  exchange->body.insert(exchange->body.end(), data, data + bytes);
  return bytes;
}

// Keeps the reason phrase of the status line ("HTTP/1.1 404 Not Found"); an
// interim answer (100 Continue) is replaced by the final one.
std::size_t KeepStatusLine(char* data, std::size_t size, std::size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const std::size_t bytes = size * count;
  std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    const std::size_t afterVersion = line.find(' ');
    const std::size_t afterStatus =
        afterVersion == std::string_view::npos ? afterVersion : line.find(' ', afterVersion + 1);
    exchange->reasonPhrase =
        afterStatus == std::string_view::npos ? "" : std::string(line.substr(afterStatus + 1));
  }
  return bytes;
}

// HTTP/2 has no reason phrase; the common statuses get their usual one.
std::string StandardReason(long status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "";
  }
}

bool IsTlsFailure(CURLcode code) {
  switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
      return true;
    default:
      return false;
  }
}

std::string CurlText(CURLcode code, const Exchange& exchange) {
  return exchange.errorText[0] != '\0' ? std::string(exchange.errorText)
                                       : std::string(Api().easyStrerror(code));
}

std::string ConnectFailure(CURL* handle, CURLcode code, const Exchange& exchange) {
  long osError = 0;
  Api().easyGetinfo(handle, CURLINFO_OS_ERRNO, &osError);
  if (osError == ECONNREFUSED) return "connection refused";
  if (osError != 0)
    return std::string("cannot connect: ") + std::strerror(static_cast<int>(osError));
  return "cannot connect: " + CurlText(code, exchange);
}

// The failure of an exchange that libcurl ended with `code`, in words.
std::string TransferFailure(CURL* handle, CURLcode code, const Exchange& exchange,
                            const HttpOptions& options) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "name not resolved";
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "proxy name not resolved";
    case CURLE_COULDNT_CONNECT:
      return ConnectFailure(handle, code, exchange);
    case CURLE_OPERATION_TIMEDOUT:
      return "no answer in " + std::to_string(options.timeoutSeconds) + " s";
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "not an http or https URL";
    case CURLE_URL_MALFORMAT:
      return "not a valid URL";
    case CURLE_GOT_NOTHING:
      return "the server closed the connection without answering";
    case CURLE_TOO_MANY_REDIRECTS:
      return "too many redirects";
    default:
      break;
  }
  if (code == CURLE_WRITE_ERROR && exchange.bodyTooLarge) {
    return "answer larger than " + std::to_string(options.maxBodyBytes) + " bytes";
  }
  if (IsTlsFailure(code)) return "TLS error: " + CurlText(code, exchange);
  return CurlText(code, exchange);
}

std::string StatusFailure(long status, const std::string& reasonPhrase) {
  std::string reason = reasonPhrase.empty() ? StandardReason(status) : reasonPhrase;
  return "HTTP " + std::to_string(status) + (reason.empty() ? "" : " " + reason);
}

// Settings both methods share: what may be reached and how long it may take.
bool SetCommon(CURL* handle, const std::string& url, Exchange& exchange,
               const HttpOptions& options) {
  exchange.maxBodyBytes = options.maxBodyBytes;
  return Api().easySetopt(handle, CURLOPT_URL, url.c_str()) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
         // Timeouts by signal would reach into the whole process.
         Api().easySetopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_TIMEOUT, options.timeoutSeconds) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_CONNECTTIMEOUT, options.timeoutSeconds) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_USERAGENT, "brevick") == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_ERRORBUFFER, exchange.errorText) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_WRITEFUNCTION, KeepBody) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_WRITEDATA, &exchange) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_HEADERFUNCTION, KeepStatusLine) == CURLE_OK &&
         Api().easySetopt(handle, CURLOPT_HEADERDATA, &exchange) == CURLE_OK;
}

HttpResponse Perform(CURL* handle, Exchange& exchange, const HttpOptions& options) {
  HttpResponse response;
  const CURLcode code = Api().easyPerform(handle);
  Api().easyGetinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
  const char* contentType = nullptr;
  if (Api().easyGetinfo(handle, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK &&
      contentType != nullptr) {
    response.contentType = contentType;
  }
  if (code != CURLE_OK) {
    response.failure = TransferFailure(handle, code, exchange, options);
  } else if (response.status < 200 || response.status > 299) {
    response.failure = StatusFailure(response.status, exchange.reasonPhrase);
  }
  response.body = std::move(exchange.body);
  return response;
}

HttpResponse Failed(const std::string& failure) {
  HttpResponse response;
  response.failure = failure;
  return response;
}

constexpr const char* kSetUpFailure = "cannot set up the HTTP client";

}  // namespace

HttpResponse HttpPost(const std::string& url, std::span<const std::uint8_t> body,
                      const std::string& contentType, const HttpOptions& options) {
  if (!Curl().problem.empty()) return Failed(Curl().problem);
  const CurlPtr handle = NewHandle();
  Exchange exchange;
  const std::string contentTypeHeader = "Content-Type: " + contentType;
  curl_slist* headers = Api().slistAppend(nullptr, contentTypeHeader.c_str());
  // Asking for 100-continue first would cost a round trip for nothing.
  if (headers != nullptr) headers = Api().slistAppend(headers, "Expect:");
  const CurlListPtr headerList(headers);
  if (!handle || !headerList || !SetCommon(handle.get(), url, exchange, options) ||
      Api().easySetopt(handle.get(), CURLOPT_POST, 1L) != CURLE_OK ||
      Api().easySetopt(handle.get(), CURLOPT_POSTFIELDS, body.data()) != CURLE_OK ||
      Api().easySetopt(handle.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(body.size())) != CURLE_OK ||
      Api().easySetopt(handle.get(), CURLOPT_HTTPHEADER, headerList.get()) != CURLE_OK) {
    return Failed(kSetUpFailure);
  }
  return Perform(handle.get(), exchange, options);
}

HttpResponse HttpGet(const std::string& url, const HttpOptions& options) {
  constexpr long kMaxRedirects = 5;
  if (!Curl().problem.empty()) return Failed(Curl().problem);
  const CurlPtr handle = NewHandle();
  Exchange exchange;
  if (!handle || !SetCommon(handle.get(), url, exchange, options) ||
      Api().easySetopt(handle.get(), CURLOPT_FOLLOWLOCATION, 1L) != CURLE_OK ||
      Api().easySetopt(handle.get(), CURLOPT_MAXREDIRS, kMaxRedirects) != CURLE_OK) {
    return Failed(kSetUpFailure);
  }
  return Perform(handle.get(), exchange, options);
}

TryOutcome TryInTurn(const std::vector<std::string>& urls, const RetryPlan& plan,
                     const TryUrl& tryUrl, const TryFailed& failed) {
  TryOutcome outcome;
  // Without libcurl no try can serve: one failure tells why, and no round is
  // waited for.
  if (!urls.empty() && !Curl().problem.empty()) {
    outcome.failedTries = 1;
    if (failed) failed(urls.front(), Curl().problem);
    return outcome;
  }
  const int rounds = std::max(plan.rounds, 1);
  for (int round = 0; round < rounds && !urls.empty(); ++round) {
    if (round > 0 && plan.waitSeconds > 0) {
      std::this_thread::sleep_for(std::chrono::seconds(plan.waitSeconds));
    }
    for (std::size_t i = 0; i < urls.size(); ++i) {
      const std::optional<std::string> reason = tryUrl(urls[i]);
      if (!reason) {
        outcome.servedBy = i;
        return outcome;
      }
      ++outcome.failedTries;
      if (failed) failed(urls[i], *reason);
    }
  }
  return outcome;
}

}  // namespace brevick
