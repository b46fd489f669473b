// base/http_client.h: the one way Brevick talks HTTP (time-stamp authorities,
// CRL downloads), over libcurl loaded on first use: http and https only,
// proxies and the CA bundle as libcurl finds them by default, every wait
// bounded by a timeout, and every failure told in words an operator can act on. Nothing here
// prints; the caller turns failures into its own lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brevick {

// No server Brevick talks to has a reason to send more; a larger answer is a
// failure rather than memory spent on it.
inline constexpr std::size_t kMaxHttpBodyBytes = std::size_t{16} << 20;

struct HttpOptions {
  long timeoutSeconds = 30;  // the whole exchange, connecting included
  std::size_t maxBodyBytes = kMaxHttpBodyBytes;
};

struct HttpResponse {
  long status = 0;          // the HTTP status; 0 when no answer came
  std::string contentType;  // as sent, parameters included; empty when none
  std::vector<std::uint8_t> body;
  // Empty when the exchange worked and the status is 2xx; otherwise what went
  // wrong, e.g. "connection refused", "name not resolved", "no answer in 30 s",
  // "TLS error: <libcurl's text>", "HTTP 404 Not Found", or the missing
  // libcurl and the package to install.
  std::string failure;

  bool Ok() const { return failure.empty(); }
};

// POSTs `body` with the given Content-Type. Redirects are not followed: a
// POST that moved is a failure the operator should see.
HttpResponse HttpPost(const std::string& url, std::span<const std::uint8_t> body,
                      const std::string& contentType, const HttpOptions& options = {});

// GETs the URL, following up to a few redirects (http and https only).
HttpResponse HttpGet(const std::string& url, const HttpOptions& options = {});

// How often and how patiently a list of equivalent URLs is tried.
struct RetryPlan {
  int rounds = 3;         // passes over the whole list; at least one is made
  long waitSeconds = 10;  // between two passes, never after the last
};

// One try of one URL: nullopt when it served, else the reason it did not.
using TryUrl = std::function<std::optional<std::string>(const std::string& url)>;
// Told of each failed try as it happens, with the URL and the reason.
using TryFailed = std::function<void(const std::string& url, const std::string& reason)>;

struct TryOutcome {
  std::optional<std::size_t> servedBy;  // index of the URL that served; none if all failed
  std::size_t failedTries = 0;          // tries that failed before that (or in all)
};

// Tries the URLs in order, `plan.rounds` passes over the list, waiting
// `plan.waitSeconds` between passes, until one try serves. When libcurl
// cannot be loaded, the first URL is told failed with that reason, once.
TryOutcome TryInTurn(const std::vector<std::string>& urls, const RetryPlan& plan,
                     const TryUrl& tryUrl, const TryFailed& failed);

}  // namespace brevick
