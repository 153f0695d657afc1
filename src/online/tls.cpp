#include "online/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace velotag::online {

namespace {

constexpr std::size_t kReceiveBlock = 65536;
constexpr std::size_t kReceiveLimit = 1 << 20;

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// peer has gone. Block it on this thread for the call and swallow one that
// the call caused, leaving the process's signal setup alone.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
    sigset_t pending;
    sigpending(&pending);
    hadPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~SigpipeBlock() {
    if (!hadPending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        timespec zero{};
        while (sigtimedwait(&set, nullptr, &zero) < 0 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t old_;
  bool hadPending_ = false;
};

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// Waits for what OpenSSL asked for; false on time-out or a fatal error.
bool WaitForTls(SSL* ssl, int socket, int result, Clock::time_point deadline) {
  int err = SSL_get_error(ssl, result);
  short events;
  if (err == SSL_ERROR_WANT_READ) {
    events = POLLIN;
  } else if (err == SSL_ERROR_WANT_WRITE) {
    events = POLLOUT;
  } else {
    return false;
  }
  pollfd p{socket, events, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, MsLeft(deadline));
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

}  // namespace

struct TlsConnection::State {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  int socket = -1;
  ~State() {
    if (ssl) SSL_free(ssl);
    if (ctx) SSL_CTX_free(ctx);
  }
};

TlsConnection::TlsConnection() : state_(std::make_unique<State>()) {}

TlsConnection::~TlsConnection() { Close(); }

bool TlsConnection::Open(int socket, const std::string& host, int timeoutMs) {
  ERR_clear_error();
  State& s = *state_;
  s.socket = socket;
  s.ctx = SSL_CTX_new(TLS_client_method());
  if (!s.ctx) return false;
  SSL_CTX_set_min_proto_version(s.ctx, TLS1_2_VERSION);
  if (SSL_CTX_set_default_verify_paths(s.ctx) != 1) return false;
  SSL_CTX_set_verify(s.ctx, SSL_VERIFY_PEER, nullptr);
  // The end of the body is the end of the connection; servers that close
  // without close_notify are common and their bodies are judged by length.
  SSL_CTX_set_options(s.ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  s.ssl = SSL_new(s.ctx);
  if (!s.ssl || SSL_set_fd(s.ssl, socket) != 1) return false;

  in_addr v4{};
  bool isAddress = ::inet_pton(AF_INET, host.c_str(), &v4) == 1;
  if (isAddress) {
    X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) return false;
  } else {
    if (SSL_set_tlsext_host_name(s.ssl, host.c_str()) != 1) return false;
    SSL_set_hostflags(s.ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (SSL_set1_host(s.ssl, host.c_str()) != 1) return false;
  }

  // Non-blocking from here on, so that every step honours the time-out.
  if (!SetBlocking(socket, false)) return false;
  SigpipeBlock guard;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    ERR_clear_error();
    int rc = SSL_connect(s.ssl);
    if (rc == 1) break;
    if (!WaitForTls(s.ssl, socket, rc, deadline)) {
      SSL_free(s.ssl);  // no close_notify after a failed handshake
      s.ssl = nullptr;
      return false;
    }
  }
  return SSL_get_verify_result(s.ssl) == X509_V_OK;
}

std::int64_t TlsConnection::SendAll(const std::uint8_t* data, std::size_t size, int timeoutMs) {
  State& s = *state_;
  if (!s.ssl) return -1;
  SigpipeBlock guard;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::size_t sent = 0;
  while (sent < size) {
    std::size_t n = 0;
    ERR_clear_error();
    int rc = SSL_write_ex(s.ssl, data + sent, size - sent, &n);
    if (rc == 1) {
      sent += n;
      continue;
    }
    if (!WaitForTls(s.ssl, s.socket, rc, deadline)) break;
  }
  return static_cast<std::int64_t>(sent);
}

int TlsConnection::ReceiveAvailable(Bytes& bytes, int timeoutMs) {
  bytes.clear();
  State& s = *state_;
  if (!s.ssl) return -1;
  SigpipeBlock guard;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  while (bytes.size() < kReceiveLimit) {
    std::size_t old = bytes.size();
    bytes.resize(old + kReceiveBlock);
    std::size_t n = 0;
    ERR_clear_error();
    int rc = SSL_read_ex(s.ssl, bytes.data() + old, kReceiveBlock, &n);
    bytes.resize(old + (rc == 1 ? n : 0));
    if (rc == 1) {
      // Once something came, only what is already there is taken.
      deadline = Clock::now();
      continue;
    }
    int err = SSL_get_error(s.ssl, rc);
    if (err == SSL_ERROR_ZERO_RETURN) break;
    if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
      if (bytes.empty()) return err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 ? 0 : -1;
      break;
    }
    if (!bytes.empty() && MsLeft(deadline) == 0) break;
    if (!WaitForTls(s.ssl, s.socket, rc, deadline)) {
      if (bytes.empty()) return kReceiveTimedOut;
      break;
    }
  }
  return static_cast<int>(bytes.size());
}

void TlsConnection::Close() {
  State& s = *state_;
  if (s.ssl) {
    SigpipeBlock guard;
    SSL_shutdown(s.ssl);
    SSL_free(s.ssl);
    s.ssl = nullptr;
  }
  if (s.ctx) {
    SSL_CTX_free(s.ctx);
    s.ctx = nullptr;
  }
}

}  // namespace velotag::online
