#pragma once

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// An HTTP server on 127.0.0.1 with a port of the system's choosing, running on its own
// thread for the life of the object. Register handlers on server() before start().
// Every request's target (path and query, as sent) is recorded.
class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();

  httplib::Server& server() { return server_; }
  void start();
  void stop();
  int port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string baseUrl() const;

  std::vector<std::string> requestTargets() const;
  std::vector<std::string> userAgents() const;

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> targets_;
  std::vector<std::string> userAgents_;
};

}  // namespace testing_support
