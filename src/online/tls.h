// The TLS layer for "https": OpenSSL over an already connected socket.
// Internal to the HTTP client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "online/socket.h"

namespace velotag::online {

class TlsConnection {
 public:
  TlsConnection();
  ~TlsConnection();
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;

  // Handshake with SNI and verification of the peer's certificate chain
  // against the system trust store (SSL_CERT_FILE / SSL_CERT_DIR honoured) and
  // of its name against host. False on any failure; nothing is sent then.
  bool Open(int socket, const std::string& host, int timeoutMs);
  std::int64_t SendAll(const std::uint8_t* data, std::size_t size, int timeoutMs);
  // As ReceiveAvailable of the socket layer.
  int ReceiveAvailable(Bytes& bytes, int timeoutMs);
  // Sends close_notify without waiting for the peer's; the socket stays open.
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velotag::online
