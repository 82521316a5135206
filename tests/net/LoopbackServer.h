// A minimal HTTP/1.0 server on 127.0.0.1, on a port the system picks, that
// answers every request with 200 and one fixed body, at once or after a
// delay, or never (it then holds the connection open until it is destroyed).
// It runs on a thread of its own and counts what it was asked.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class LoopbackServer {
 public:
  static constexpr int kNeverAnswer = -1;

  explicit LoopbackServer(std::string body, int answerAfterMs = 0);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool listening() const { return listener_ != INVALID_SOCKET; }
  // "http://127.0.0.1:<port><path>"
  std::string Address(const std::string& path) const;
  int requests() const { return requests_; }
  // Requests the server is done with: answered, or dropped by the client.
  int handled() const { return handled_; }
  // The request line of the last request, without its line end.
  std::string lastRequestLine() const;

 private:
  void Serve();
  void Answer(SOCKET client);

  bool winsock_ = false;
  const std::string body_;
  const int answerAfterMs_;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> handled_{0};
  mutable std::mutex mutex_;
  std::string lastRequestLine_;
  std::thread thread_;
};

// A loopback port on which nothing listens: bound once by the system's
// choice, then released.
unsigned short UnusedLoopbackPort();
