// bench/fast_tsa.cc: a persistent local RFC 3161 time-stamp authority for the
// timestamp benchmark.
//
// The test TSA starts a python handler and an `openssl ts -reply` process for
// every request, tens of milliseconds on their own, so a benchmark behind it
// measures the test TSA rather than what a timestamp costs a signing run. This
// one reads its key and certificate once and answers each request in-process
// with OpenSSL's TS_RESP_CTX: a request costs one loopback round trip and one
// signature, as a nearby production TSA would.
//
// Usage: fast_tsa TSA_CERT TSA_KEY   (PEM files; the certificate must carry the
// critical timeStamping extended key usage, which OpenSSL insists on)
// Listens on 127.0.0.1 at a free port and prints that port. One thread, one
// request per connection (Connection: close), the POST body read by its
// Content-Length, any path. Ends when its standard input closes, so the
// script that started it takes it along however that script ends.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ts.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>

namespace {

// The policy the test TSA names, so tokens from either look alike.
constexpr char kPolicy[] = "1.3.6.1.4.1.99999.1";
// A time-stamp query is about a hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxRequestBytes = 64 * 1024;

struct Free {
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(ASN1_OBJECT* p) const { ASN1_OBJECT_free(p); }
  void operator()(TS_RESP_CTX* p) const { TS_RESP_CTX_free(p); }
  void operator()(TS_RESP* p) const { TS_RESP_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fast_tsa: %s\n", what);
  ERR_print_errors_fp(stderr);
  std::exit(1);
}

// Serial numbers need only be unique for this TSA: a counter serves.
ASN1_INTEGER* NextSerial(TS_RESP_CTX* /*ctx*/, void* counter) {
  ASN1_INTEGER* serial = ASN1_INTEGER_new();
  if (serial != nullptr &&
      ASN1_INTEGER_set_uint64(serial, ++*static_cast<std::uint64_t*>(counter)) != 1) {
    ASN1_INTEGER_free(serial);
    return nullptr;
  }
  return serial;
}

Owned<TS_RESP_CTX> MakeAuthority(const char* certPath, const char* keyPath, std::uint64_t* serial) {
  Owned<BIO> certFile(BIO_new_file(certPath, "r"));
  Owned<X509> cert(certFile ? PEM_read_bio_X509(certFile.get(), nullptr, nullptr, nullptr)
                            : nullptr);
  Owned<BIO> keyFile(BIO_new_file(keyPath, "r"));
  Owned<EVP_PKEY> key(keyFile ? PEM_read_bio_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr)
                              : nullptr);
  if (!cert || !key) Fail("cannot read the TSA certificate or key");
  Owned<ASN1_OBJECT> policy(OBJ_txt2obj(kPolicy, 1));
  Owned<TS_RESP_CTX> ctx(TS_RESP_CTX_new());
  // The context takes its own references to the certificate, key and policy.
  const bool ready = ctx && policy && TS_RESP_CTX_set_signer_cert(ctx.get(), cert.get()) == 1 &&
                     TS_RESP_CTX_set_signer_key(ctx.get(), key.get()) == 1 &&
                     TS_RESP_CTX_set_signer_digest(ctx.get(), EVP_sha256()) == 1 &&
                     TS_RESP_CTX_set_ess_cert_id_digest(ctx.get(), EVP_sha256()) == 1 &&
                     TS_RESP_CTX_set_def_policy(ctx.get(), policy.get()) == 1 &&
                     TS_RESP_CTX_add_md(ctx.get(), EVP_sha256()) == 1 &&
                     TS_RESP_CTX_add_md(ctx.get(), EVP_sha384()) == 1 &&
                     TS_RESP_CTX_add_md(ctx.get(), EVP_sha512()) == 1 &&
                     TS_RESP_CTX_set_accuracy(ctx.get(), 1, 0, 0) == 1;
  if (!ready) Fail("cannot set up the time-stamp context (is the certificate a TSA's?)");
  TS_RESP_CTX_set_serial_cb(ctx.get(), NextSerial, serial);
  return ctx;
}

std::optional<std::size_t> ContentLength(std::string headers) {
  for (char& c : headers) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string name = "\r\ncontent-length:";
  const std::size_t at = headers.find(name);
  if (at == std::string::npos) return std::nullopt;
  char* end = nullptr;
  const unsigned long length = std::strtoul(headers.c_str() + at + name.size(), &end, 10);
  if (end == headers.c_str() + at + name.size() || length > kMaxRequestBytes) return std::nullopt;
  return length;
}

// The body of one POST, or nothing when the request is not one we can read.
std::optional<std::string> ReadPostBody(int client) {
  std::string data;
  char buffer[4096];
  std::size_t headerEnd = std::string::npos;
  std::optional<std::size_t> length;
  while (!length || data.size() < headerEnd + 4 + *length) {
    const ssize_t got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0 || data.size() > kMaxRequestBytes) return std::nullopt;
    data.append(buffer, static_cast<std::size_t>(got));
    if (length) continue;
    headerEnd = data.find("\r\n\r\n");
    if (headerEnd == std::string::npos) continue;
    if (data.rfind("POST ", 0) != 0) return std::nullopt;
    length = ContentLength(data.substr(0, headerEnd + 2));
    if (!length) return std::nullopt;
  }
  return data.substr(headerEnd + 4, *length);
}

// The DER TimeStampResp; a malformed query gets a rejection, as from any TSA.
std::optional<std::string> Stamp(TS_RESP_CTX* ctx, const std::string& query) {
  Owned<BIO> in(BIO_new_mem_buf(query.data(), static_cast<int>(query.size())));
  Owned<TS_RESP> response(in ? TS_RESP_create_response(ctx, in.get()) : nullptr);
  unsigned char* der = nullptr;
  const int size = response ? i2d_TS_RESP(response.get(), &der) : -1;
  if (size < 0) return std::nullopt;
  std::string out(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
  OPENSSL_free(der);
  return out;
}

void Send(int client, const std::string& status, const std::string& type, const std::string& body) {
  const std::string message = "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                              "\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body;
  for (std::size_t sent = 0; sent < message.size();) {
    const ssize_t n = send(client, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

void Answer(int client, TS_RESP_CTX* ctx) {
  // A client that stalls must not hold the only thread for long.
  const timeval timeout{5, 0};
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  const std::optional<std::string> query = ReadPostBody(client);
  if (!query) return Send(client, "400 Bad Request", "text/plain", "a POST with a body, please\n");
  const std::optional<std::string> reply = Stamp(ctx, *query);
  if (!reply) {
    ERR_print_errors_fp(stderr);
    return Send(client, "500 Internal Server Error", "text/plain", "cannot stamp\n");
  }
  Send(client, "200 OK", "application/timestamp-reply", *reply);
}

int ListenOnLoopback() {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener, 16) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    Fail("cannot listen on 127.0.0.1");
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  return listener;
}

// Whether standard input is still open; what arrives on it is ignored.
bool InputOpen() {
  char buffer[256];
  const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
  return got > 0 || (got < 0 && errno == EINTR);
}

void Serve(int listener, TS_RESP_CTX* ctx) {
  pollfd watched[2] = {{listener, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  for (;;) {
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      Fail("poll failed");
    }
    if (watched[1].revents != 0 && !InputOpen()) return;
    if ((watched[0].revents & POLLIN) == 0) continue;
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    Answer(client, ctx);
    close(client);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fast_tsa TSA_CERT TSA_KEY\n");
    return 64;
  }
  std::uint64_t serial = 0;
  const Owned<TS_RESP_CTX> ctx = MakeAuthority(argv[1], argv[2], &serial);
  const int listener = ListenOnLoopback();
  Serve(listener, ctx.get());
  close(listener);
  return 0;
}
