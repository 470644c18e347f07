// A small HTTP server on 127.0.0.1 for the end-to-end tests: fixed answers
// by path, optionally late or never.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vornesk::testing {

struct Response {
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  std::chrono::milliseconds delay{0};
  bool hang = false;  // accept the request and never answer
};

class TestServer {
 public:
  TestServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 16);
    thread_ = std::thread([this] { Serve(); });
  }

  ~TestServer() {
    stop_ = true;
    thread_.join();
    for (std::thread& connection : connections_) connection.join();
    close(listener_);
  }

  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  void Route(const std::string& path, Response response) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(response);
  }

  int Port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, 50) <= 0) continue;
      const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      connections_.emplace_back([this, connection] { Answer(connection); });
    }
  }

  // Waits up to `time`, or less when the server stops.
  void Pause(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (!stop_ && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  void Answer(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
      pollfd waiting{connection, POLLIN, 0};
      if (poll(&waiting, 1, 50) <= 0) continue;
      const ssize_t got = read(connection, buffer, sizeof buffer);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    std::string path;
    if (const auto space = request.find(' '); space != std::string::npos) {
      path = request.substr(space + 1, request.find(' ', space + 1) - space - 1);
      path = path.substr(0, path.find('?'));
    }
    Response response;
    bool found = false;
    {
      std::lock_guard lock(mutex_);
      if (const auto route = routes_.find(path); route != routes_.end()) {
        response = route->second;
        found = true;
      }
    }
    if (response.hang) Pause(std::chrono::hours(1));
    Pause(response.delay);
    const std::string head = std::string(found ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                             "\r\nContent-Type: " + response.contentType +
                             "\r\nContent-Length: " + std::to_string(response.body.size()) +
                             "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    const std::string whole = head + response.body;
    std::size_t sent = 0;
    while (sent < whole.size() && !stop_) {
      const ssize_t wrote =
          send(connection, whole.data() + sent, whole.size() - sent, MSG_NOSIGNAL);
      if (wrote <= 0) break;
      sent += static_cast<std::size_t>(wrote);
    }
    close(connection);
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, Response> routes_;
  std::thread thread_;
  std::vector<std::thread> connections_;  // touched by the accepting thread only until join
};

// A loopback port with nothing listening on it: connections are refused.
inline int ClosedPort() {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  return ntohs(address.sin_port);
}

}  // namespace vornesk::testing
