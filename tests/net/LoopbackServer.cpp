#include "tests/net/LoopbackServer.h"

#include <ws2tcpip.h>

#include <gtest/gtest.h>

namespace {

// Winsock is started for each server and user of a port; the calls nest.
struct WinsockScope {
  WinsockScope() {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockScope() {
    if (ok) WSACleanup();
  }
  bool ok = false;
};

// A TCP socket bound to 127.0.0.1 on a port the system picks.
SOCKET BindLoopback(unsigned short* port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  *port = ntohs(address.sin_port);
  return s;
}

}  // namespace

LoopbackServer::LoopbackServer(std::string body, int answerAfterMs)
    : body_(std::move(body)), answerAfterMs_(answerAfterMs) {
  WSADATA data;
  winsock_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!winsock_) return;
  listener_ = BindLoopback(&port_);
  if (listener_ != INVALID_SOCKET && listen(listener_, 4) != 0) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  if (listener_ != INVALID_SOCKET) thread_ = std::thread(&LoopbackServer::Serve, this);
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != INVALID_SOCKET) closesocket(listener_);
  if (winsock_) WSACleanup();
}

std::string LoopbackServer::Address(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string LoopbackServer::lastRequestLine() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastRequestLine_;
}

void LoopbackServer::Serve() {
  // Polled rather than blocked in accept, so that the destructor can stop
  // the thread without closing the socket under it.
  while (!stop_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval wait = {0, 50 * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    Answer(client);
    closesocket(client);
  }
}

void LoopbackServer::Answer(SOCKET client) {
  DWORD timeout = 5000;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof timeout);
  std::string request;
  char chunk[1024];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const int got = recv(client, chunk, sizeof chunk, 0);
    if (got <= 0) return;
    request.append(chunk, got);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastRequestLine_ = request.substr(0, request.find("\r\n"));
  }
  ++requests_;
  // The delay is waited out in steps, so that the destructor is not held up.
  for (DWORD start = GetTickCount();
       !stop_ &&
       (answerAfterMs_ < 0 || GetTickCount() - start < static_cast<DWORD>(answerAfterMs_));) {
    Sleep(20);
  }
  if (stop_) return;
  // No caching: every test's download must reach the server.
  const std::string response =
      "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
      std::to_string(body_.size()) + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" +
      body_;
  for (size_t sent = 0; sent < response.size();) {
    const int put =
        send(client, response.data() + sent, static_cast<int>(response.size() - sent), 0);
    if (put <= 0) break;
    sent += static_cast<size_t>(put);
  }
  shutdown(client, SD_SEND);
  ++handled_;
}

unsigned short UnusedLoopbackPort() {
  WinsockScope winsock;
  unsigned short port = 0;
  SOCKET s = BindLoopback(&port);
  EXPECT_NE(s, INVALID_SOCKET);
  if (s != INVALID_SOCKET) closesocket(s);
  return port;
}
