#include "tests/support/loopback_server.h"

#include <chrono>
#include <stdexcept>

namespace testing_support {

LoopbackServer::LoopbackServer() {
  // A kept connection's answers go out at once, as a production server sends them.
  server_.set_tcp_nodelay(true);
  // Recorded before routing, so a request is on record before its answer is sent.
  server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.push_back(request.target);
    userAgents_.push_back(request.get_header_value("User-Agent"));
    return httplib::Server::HandlerResponse::Unhandled;
  });
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::start() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void LoopbackServer::stop() {
  if (thread_.joinable()) {
    server_.stop();
    thread_.join();
  }
}

std::string LoopbackServer::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> LoopbackServer::requestTargets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return targets_;
}

std::vector<std::string> LoopbackServer::userAgents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return userAgents_;
}

}  // namespace testing_support
