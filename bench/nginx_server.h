#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

// Debian's nginx serving the launcher's two endpoints from a folder, on a loopback port, with
// a prefix and configuration of its own. It runs in the foreground as this process's child and
// is stopped by its process id.
//
//   GET /gis/update/list?platform=P            -> <root>/P/manifest.json
//   GET /gis/update/file?platform=P&path=X     -> <root>/P/files/X
//   GET /gis/update/object/P/NAME              -> <root>/P/objects/NAME
//
// With a certificate it serves the same over https on a second port as well.
namespace bench {

class NginxServer {
 public:
  NginxServer() = default;
  ~NginxServer() { stop(); }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Starts serving `root`, keeping its configuration, logs and pid file under `prefix`. With a
  // port of 0 a free port is looked for. False with errorText when it does not answer.
  bool start(const std::filesystem::path& prefix, const std::filesystem::path& root, int port,
             std::string& errorText);
  // Before start: https too, with this certificate and private key (PEM files).
  void serveHttps(std::filesystem::path certificate, std::filesystem::path privateKey) {
    certificate_ = std::move(certificate);
    privateKey_ = std::move(privateKey);
  }
  // Stops the server by its pid and waits for it; nothing when it is not running.
  void stop();

  // The body bytes of every answer so far (nginx writes its log line as an answer ends).
  std::uint64_t bytesSent() const;
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  int httpsPort() const { return httpsPort_; }  // 0 without https

 private:
  bool startOnPort(int port, int httpsPort, std::string& errorText);

  std::filesystem::path prefix_;
  std::filesystem::path root_;
  std::filesystem::path certificate_;
  std::filesystem::path privateKey_;
  int pid_ = 0;
  int port_ = 0;
  int httpsPort_ = 0;
};

}  // namespace bench
