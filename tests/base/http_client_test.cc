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

TEST(HttpClientTest, SaysWhatHappenedInWords) {
  const TsaServer& server = TsaServer::Shared();
  const std::vector<std::uint8_t> body = {'x'};
  // A file of many reads comes whole.
  std::string whole(100000, '\0');
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<char>(i * 7);
  std::ofstream(server.CrlDirectory() / "whole.crl", std::ios::binary) << whole;
  // clang-format off
  // `failure` empty: served, with `served` the content type and what the body starts with.
  const struct { std::string url; bool post; long timeoutSeconds; std::size_t maxBodyBytes; long status; std::string failure, served = {}; } cases[] = {
      {server.Url("http404"),          true,  5, kMaxHttpBodyBytes, 404, "HTTP 404 Not Found"},
      {server.Url("html"),             true,  5, kMaxHttpBodyBytes, 200, "", "text/html <html>"},
      {server.Url("crl/whole.crl"),    false, 5, kMaxHttpBodyBytes, 200, "", "application/pkix-crl " + whole},
      {server.Url("html"),             true,  5, 10,                200, "answer larger than 10 bytes"},
      {server.Url("crl/whole.crl"),    false, 5, 50000,             200, "answer larger than 50000 bytes"},
      {server.Url("slow/3"),           true,  1, kMaxHttpBodyBytes, 0,   "no answer in 1 s"},
      {server.RefusedUrl(),            true,  5, kMaxHttpBodyBytes, 0,   "connection refused"},
      {"ftp://127.0.0.1/crl/none",     false, 5, kMaxHttpBodyBytes, 0,   "not an http or https URL"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const HttpOptions options{c.timeoutSeconds, c.maxBodyBytes};
    const HttpResponse response =
        c.post ? HttpPost(c.url, body, "text/plain", options) : HttpGet(c.url, options);
    EXPECT_EQ(c.status, response.status);
    if (c.failure.empty()) {
      EXPECT_TRUE(response.Ok()) << response.failure;
      const std::string served =
          response.contentType + " " + std::string(response.body.begin(), response.body.end());
      EXPECT_EQ(c.served, served.substr(0, c.served.size()));
    } else {
      EXPECT_EQ(c.failure, response.failure.substr(0, c.failure.size()));
    }
  }
}

TEST(TryInTurnTest, TriesInOrderAndSaysWhichServed) {
  // clang-format off
  // `serving`: "url#try", the tries that serve, counted per URL from 1; `failures`: the URLs told of, in order.
  const struct { const char* name; int rounds; std::vector<std::string> serving; std::optional<std::size_t> servedBy; std::vector<std::string> failures; } cases[] = {
      {"first serves",               3, {"a#1"},        0,            {}},
      {"second after the first",     3, {"b#1"},        1,            {"a"}},
      {"on the second round",        3, {"a#2"},        0,            {"a", "b"}},
      {"every try fails",            2, {},             std::nullopt, {"a", "b", "a", "b"}},
      {"no round asked still tries", 0, {},             std::nullopt, {"a", "b"}},
  };
  // clang-format on
  for (const auto& c : cases) {
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
