#include "bench/nginx_server.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include "update/update_checker.h"

extern "C" char** environ;

namespace bench {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kPortAttempts = 8;
constexpr auto kReadyTimeout = std::chrono::seconds(10);

// The https part of the server, as a current update server would have it: TLS 1.3 (this nginx
// offers only up to 1.2 unless told), sessions that can be resumed.
std::string httpsListener(int httpsPort, const std::filesystem::path& certificate,
                          const std::filesystem::path& privateKey) {
  if (httpsPort == 0) return {};
  return "    listen 127.0.0.1:" + std::to_string(httpsPort) + " ssl;\n"
         "    ssl_certificate " + certificate.string() + ";\n"
         "    ssl_certificate_key " + privateKey.string() + ";\n"
         "    ssl_protocols TLSv1.2 TLSv1.3;\n"
         "    ssl_session_cache shared:bench:1m;\n";
}

std::string configuration(const std::filesystem::path& prefix, const std::filesystem::path& root, int port,
                          const std::string& httpsListener) {
  const std::string p = prefix.string();
  const std::string r = root.string();
  // The arguments are taken as they come (percent escapes stay): the benchmark's names need
  // none. A ".." anywhere is refused, so nothing outside the root is ever served.
  return "daemon off;\n"
         "master_process on;\n"
         "worker_processes 1;\n"
         "pid " + p + "/nginx.pid;\n"
         "error_log " + p + "/error.log warn;\n"
         "events { worker_connections 1024; }\n"
         "http {\n"
         // Only the bytes of each answer: the update figures add them up.
         "  log_format sent '$body_bytes_sent';\n"
         "  access_log " + p + "/sent.log sent;\n"
         "  sendfile on;\n"
         "  tcp_nopush on;\n"
         "  keepalive_requests 100000;\n"
         "  client_body_temp_path " + p + "/body;\n"
         "  proxy_temp_path " + p + "/proxy;\n"
         "  fastcgi_temp_path " + p + "/fastcgi;\n"
         "  uwsgi_temp_path " + p + "/uwsgi;\n"
         "  scgi_temp_path " + p + "/scgi;\n"
         "  default_type application/octet-stream;\n"
         "  server {\n"
         "    listen 127.0.0.1:" + std::to_string(port) + ";\n" + httpsListener +
         "    location = /gis/update/list {\n"
         "      if ($args ~ \"\\.\\.\") { return 403; }\n"
         "      default_type application/json;\n"
         "      alias " + r + "/$arg_platform/manifest.json;\n"
         "    }\n"
         "    location = /gis/update/file {\n"
         "      if ($args ~ \"\\.\\.\") { return 403; }\n"
         "      alias " + r + "/$arg_platform/files/$arg_path;\n"
         "    }\n"
         "    location ~ \"^/gis/update/object/([a-z0-9_-]+)/([0-9a-f]{64}\\.zst)$\" {\n"
         "      alias " + r + "/$1/objects/$2;\n"
         "    }\n"
         "  }\n"
         "}\n";
}

}  // namespace

bool NginxServer::start(const std::filesystem::path& prefix, const std::filesystem::path& root, int port,
                        std::string& errorText) {
  prefix_ = prefix;
  root_ = root;
  std::filesystem::create_directories(prefix_);
  std::mt19937 random(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::uniform_int_distribution<int> ports(20000, 32000);
  const auto httpsPort = [&] { return certificate_.empty() ? 0 : ports(random); };
  if (port != 0) return startOnPort(port, httpsPort(), errorText);
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    if (startOnPort(ports(random), httpsPort(), errorText)) return true;
  }
  return false;
}

bool NginxServer::startOnPort(int port, int httpsPort, std::string& errorText) {
  port_ = port;
  httpsPort_ = httpsPort;
  const std::filesystem::path config = prefix_ / "nginx.conf";
  const std::filesystem::path log = prefix_ / "error.log";
  {
    std::ofstream out(config, std::ios::trunc);
    out << configuration(prefix_, root_, port, httpsListener(httpsPort, certificate_, privateKey_));
    if (!out) {
      errorText = "cannot write " + config.string();
      return false;
    }
  }
  // -e: the log of the start-up, before the configuration is read, goes to the prefix as well.
  std::vector<std::string> arguments = {kNginx,         "-p", prefix_.string(), "-c",
                                        config.string(), "-e", log.string()};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, kNginx, nullptr, nullptr, argv.data(), environ) != 0) {
    errorText = std::string("cannot start ") + kNginx;
    return false;
  }
  pid_ = pid;

  // Ready once the manifest endpoint answers; an nginx that ended (a port in use) is no server.
  UpdateChecker probe(baseUrl(), "none", prefix_, prefix_ / "staging");
  const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      std::ifstream errors(log);
      std::string line, last;
      while (std::getline(errors, line)) last = line;
      errorText = "nginx ended at once on port " + std::to_string(port) + ": " + last;
      return false;
    }
    std::string body;
    Failure failure;
    // A 404 for the unknown platform is an answer too; only a refused connection is not.
    if (probe.httpGetToString(baseUrl() + "/gis/update/list?platform=none", body, failure) ||
        failure.kind == FailureKind::status) {
      // nginx retries a taken port for a few seconds before it ends: meanwhile the answer came
      // from whoever holds the port, and its first failed bind is already in the log.
      std::ifstream errors(log);
      const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
      if (text.find("Address already in use") == std::string::npos) return true;
      stop();
      errorText = "port " + std::to_string(port) + " is taken by another server";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop();
  errorText = "nginx did not answer on port " + std::to_string(port);
  return false;
}

void NginxServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = 0;
}

std::uint64_t NginxServer::bytesSent() const {
  std::ifstream log(prefix_ / "sent.log");
  std::uint64_t total = 0;
  for (std::uint64_t bytes = 0; log >> bytes;) total += bytes;
  return total;
}

}  // namespace bench
