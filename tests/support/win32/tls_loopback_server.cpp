#include "tests/support/tls_loopback_server.h"

#include <chrono>
#include <regex>
#include <thread>

#include "platform/process.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_system.h"

namespace testing_support {

namespace {

// Wine maps the Linux root to drive Z: and starts a Linux executable like a Windows one.
const std::filesystem::path kShell = L"Z:\\bin\\sh";
const std::filesystem::path kKill = L"Z:\\bin\\kill";
// The server ends by itself after this long, even when this program never gets to stop it.
constexpr int kLifetimeSeconds = 300;

// The Linux name of a path that Wine shows on drive Z:, or the path as it is when it is one.
std::string linuxPath(const std::filesystem::path& path) {
  std::string text = path.generic_string();
  if (text.size() >= 2 && (text[0] == 'Z' || text[0] == 'z') && text[1] == ':') text.erase(0, 2);
  return text;
}

}  // namespace

struct TlsLoopbackServer::State {
  std::filesystem::path certificate;
  std::filesystem::path privateKey;
  std::string body;
  TempDir dir;  // the server's working directory: its page, process id and output
  std::string processId;
  int port = 0;
};

TlsLoopbackServer::TlsLoopbackServer(std::filesystem::path certificate, std::filesystem::path privateKey,
                                     std::string body)
    : state_(std::make_unique<State>()) {
  state_->certificate = std::move(certificate);
  state_->privateKey = std::move(privateKey);
  state_->body = std::move(body);
}

TlsLoopbackServer::~TlsLoopbackServer() { stop(); }

bool TlsLoopbackServer::start(std::string& reason) {
  State& state = *state_;
  if (!runningUnderWine()) {
    reason = "the TLS server is OpenSSL's s_server, a Linux process that only Wine starts beside this program";
    return false;
  }
  // s_server -HTTP sends the file named by the request as a complete response.
  writeFile(state.dir / "file", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                    std::to_string(state.body.size()) + "\r\nConnection: close\r\n\r\n" + state.body);
  const std::string script = "echo $$ > pid && exec timeout " + std::to_string(kLifetimeSeconds) +
                             " openssl s_server -HTTP -msg -accept 127.0.0.1:0 -cert '" + linuxPath(state.certificate) +
                             "' -key '" + linuxPath(state.privateKey) + "' >out 2>&1 </dev/null";
  std::uint32_t errorCode = 0;
  if (!platform::startProcess(kShell, {L"-c", platform::fromUtf8(script)}, state.dir.path(), errorCode)) {
    reason = "no Linux shell at Z:\\bin\\sh to start OpenSSL's s_server (error " + std::to_string(errorCode) + ")";
    return false;
  }
  // It names the port it took: "ACCEPT 127.0.0.1:PORT".
  static const std::regex accepted(R"(ACCEPT 127\.0\.0\.1:(\d+))");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::smatch match;
  std::string output;
  while (std::chrono::steady_clock::now() < deadline) {
    output = readFile(state.dir / "out");
    if (std::regex_search(output, match, accepted)) {
      state.processId = readFile(state.dir / "pid");
      while (!state.processId.empty() && state.processId.back() == '\n') state.processId.pop_back();
      state.port = std::stoi(match[1].str());
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  reason = "OpenSSL's s_server named no port within 20 s: " + output;
  return false;
}

void TlsLoopbackServer::stop() {
  if (state_->processId.empty()) return;
  // timeout passes the signal on to the server it runs.
  std::uint32_t errorCode = 0;
  platform::startProcess(kKill, {platform::fromUtf8(state_->processId)}, state_->dir.path(), errorCode);
  state_->processId.clear();
}

int TlsLoopbackServer::port() const { return state_->port; }

int TlsLoopbackServer::fullHandshakes() const {
  // With -msg the server lists the messages it sends; a resumed session sends no certificate.
  const std::string output = readFile(state_->dir / "out");
  static const std::regex certificate(R"(>>> [^\n]*Handshake[^\n]*, Certificate\n)");
  return static_cast<int>(std::distance(std::sregex_iterator(output.begin(), output.end(), certificate),
                                        std::sregex_iterator()));
}

}  // namespace testing_support
