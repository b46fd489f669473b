// tests/base/http_client_test.cc: the HTTP client against the local test
// server, one row per way an exchange can go, and the try-in-turn loop.
#include "base/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "tests/support/tsa_server.h"

namespace brevick {
namespace {

using testing::TsaServer;

std::string HttpsUrlOf(const std::string& httpUrl) { return "https" + httpUrl.substr(4); }

TEST(HttpClientTest, SaysWhatHappenedInWords) {
  const TsaServer& server = TsaServer::Shared();
  const std::vector<std::uint8_t> body = {'x'};
  struct Case {
    std::string url;
    bool post;
    long timeoutSeconds;
    std::size_t maxBodyBytes;
    long status;
    std::string failure;  // empty: served
  };
  // clang-format off
  const Case cases[] = {
      {server.Url("http404"),          true,  5, kMaxHttpBodyBytes, 404, "HTTP 404 Not Found"},
      {server.Url("http500"),          true,  5, kMaxHttpBodyBytes, 500, "HTTP 500 Internal Server Error"},
      {server.Url("html"),             true,  5, kMaxHttpBodyBytes, 200, ""},
      {server.Url("html"),             true,  5, 10,                200, "answer larger than 10 bytes"},
      {server.Url("slow/3"),           true,  1, kMaxHttpBodyBytes, 0,   "no answer in 1 s"},
      {server.RefusedUrl(),            true,  5, kMaxHttpBodyBytes, 0,   "connection refused"},
      {HttpsUrlOf(server.Url("html")), true,  5, kMaxHttpBodyBytes, 0,   "TLS error: "},
      {"ftp://127.0.0.1/crl/none",     false, 5, kMaxHttpBodyBytes, 0,   "not an http or https URL"},
      {server.Url("crl/missing.crl"),  false, 5, kMaxHttpBodyBytes, 404, "HTTP 404 Not Found"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const HttpOptions options{c.timeoutSeconds, c.maxBodyBytes};
    const HttpResponse response =
        c.post ? HttpPost(c.url, body, "text/plain", options) : HttpGet(c.url, options);
    EXPECT_EQ(c.status, response.status);
    if (c.failure.empty()) {
      EXPECT_TRUE(response.Ok()) << response.failure;
      EXPECT_EQ("text/html", response.contentType);
      EXPECT_EQ("<html>", std::string(response.body.begin(), response.body.begin() + 6));
    } else {
      EXPECT_EQ(c.failure, response.failure.substr(0, c.failure.size()));
    }
  }
}

TEST(HttpClientTest, GetsAFileWhole) {
  const TsaServer& server = TsaServer::Shared();
  std::string bytes(100000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  std::ofstream(server.CrlDirectory() / "whole.crl", std::ios::binary) << bytes;
  const HttpResponse response = HttpGet(server.Url("crl/whole.crl"));
  EXPECT_TRUE(response.Ok()) << response.failure;
  EXPECT_EQ(200, response.status);
  EXPECT_EQ(bytes, std::string(response.body.begin(), response.body.end()));
}

TEST(TryInTurnTest, TriesInOrderAndSaysWhichServed) {
  struct Case {
    const char* name;
    int rounds;
    std::vector<std::string> serving;  // "url#try": tries that serve, counted per URL from 1
    std::optional<std::size_t> servedBy;
    std::vector<std::string> failures;  // the URLs told of, in order
  };
  // clang-format off
  const Case cases[] = {
      {"first serves",               3, {"a#1"},        0,            {}},
      {"second after the first",     3, {"b#1"},        1,            {"a"}},
      {"on the second round",        3, {"a#2"},        0,            {"a", "b"}},
      {"every try fails",            2, {},             std::nullopt, {"a", "b", "a", "b"}},
      {"no round asked still tries", 0, {},             std::nullopt, {"a", "b"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, int> tries;
    std::vector<std::string> told;
    const TryOutcome outcome = TryInTurn(
        {"a", "b"}, RetryPlan{c.rounds, 0},
        [&](const std::string& url) -> std::optional<std::string> {
          const std::string key = url + "#" + std::to_string(++tries[url]);
          if (std::find(c.serving.begin(), c.serving.end(), key) != c.serving.end())
            return std::nullopt;
          return "down";
        },
        [&](const std::string& url, const std::string& reason) {
          EXPECT_EQ("down", reason);
          told.push_back(url);
        });
    EXPECT_EQ(c.servedBy, outcome.servedBy);
    EXPECT_EQ(c.failures, told);
    EXPECT_EQ(c.failures.size(), outcome.failedTries);
  }
}

}  // namespace
}  // namespace brevick
