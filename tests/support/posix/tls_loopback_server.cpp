#include "tests/support/tls_loopback_server.h"

#include <httplib.h>

#include <chrono>
#include <thread>

namespace testing_support {

struct TlsLoopbackServer::State {
  State(const std::filesystem::path& certificate, const std::filesystem::path& privateKey, std::string text)
      : server(certificate.c_str(), privateKey.c_str()), body(std::move(text)) {}
  httplib::SSLServer server;
  std::string body;
  std::thread thread;
  int port = 0;
};

TlsLoopbackServer::TlsLoopbackServer(std::filesystem::path certificate, std::filesystem::path privateKey,
                                     std::string body)
    : state_(std::make_unique<State>(certificate, privateKey, std::move(body))) {}

TlsLoopbackServer::~TlsLoopbackServer() { stop(); }

bool TlsLoopbackServer::start(std::string& reason) {
  if (!state_->server.is_valid()) {
    reason = "the certificate or its key could not be loaded";
    return false;
  }
  State& state = *state_;
  state.server.Get("/file", [&state](const httplib::Request&, httplib::Response& response) {
    response.set_content(state.body, "text/plain");
  });
  state.server.set_keep_alive_max_count(1);
  state.port = state.server.bind_to_any_port("127.0.0.1");
  if (state.port <= 0) {
    reason = "no loopback port could be bound";
    return false;
  }
  state.thread = std::thread([&state] { state.server.listen_after_bind(); });
  while (!state.server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return true;
}

void TlsLoopbackServer::stop() {
  if (state_->thread.joinable()) {
    state_->server.stop();
    state_->thread.join();
  }
}

int TlsLoopbackServer::port() const { return state_->port; }

int TlsLoopbackServer::fullHandshakes() const {
  SSL_CTX* context = state_->server.ssl_context();
  return static_cast<int>(SSL_CTX_sess_accept_good(context) - SSL_CTX_sess_hits(context));
}

}  // namespace testing_support
