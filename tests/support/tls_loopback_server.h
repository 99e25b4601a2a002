#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace testing_support {

// An HTTPS server on 127.0.0.1, on a port of the system's choosing, that presents the given
// certificate and answers GET /file with `body`. Linux runs it in-process on cpp-httplib's
// OpenSSL build. The Windows build's cpp-httplib has no TLS, so there OpenSSL's s_server runs
// as a Linux process beside the test, which only Wine can start.
class TlsLoopbackServer {
 public:
  TlsLoopbackServer(std::filesystem::path certificate, std::filesystem::path privateKey, std::string body);
  ~TlsLoopbackServer();
  TlsLoopbackServer(const TlsLoopbackServer&) = delete;
  TlsLoopbackServer& operator=(const TlsLoopbackServer&) = delete;

  // False, with the reason, when the server cannot run here.
  bool start(std::string& reason);
  void stop();
  int port() const;
  // The handshakes that did not resume an earlier session, or -1 when the server cannot tell.
  // Every answer closes its connection, so each request makes a handshake.
  int fullHandshakes() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace testing_support
