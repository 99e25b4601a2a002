// kestrun-release-server: serves a release directory to the Kestrun launcher.
//
//   kestrun-release-server --root DIR --port N [--bind 127.0.0.1] [--faults FILE]
//
// DIR holds one directory per platform name (the launcher asks for "windows"). See
// docs/release-server.md.

#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/release_server/release_routes.h"

namespace {

constexpr std::size_t kServerThreads = 64;
constexpr int kListenQueue = 1024;

void printUsage(std::ostream& out) {
  out << "usage: kestrun-release-server --root DIR --port N [--bind ADDRESS] [--faults FILE]\n"
         "  --root DIR      release root; DIR/<platform>/ holds that platform's files\n"
         "  --port N        port to listen on (0: any free port, printed at start)\n"
         "  --bind ADDRESS  address to listen on (default 127.0.0.1)\n"
         "  --faults FILE   misbehaviour directives, read again at every request\n";
}

bool parsePort(const std::string& text, int& port) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  if (text.size() > 5) return false;
  port = std::stoi(text);
  return port <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
  release_server::ServerSettings settings;
  std::string bindAddress = "127.0.0.1";
  int port = -1;

  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      printUsage(std::cout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::cerr << "kestrun-release-server: " << option << " needs a value (or is unknown)\n";
      printUsage(std::cerr);
      return 2;
    }
    const std::string value = argv[++i];
    if (option == "--root") {
      settings.root = value;
    } else if (option == "--port") {
      if (!parsePort(value, port)) {
        std::cerr << "kestrun-release-server: bad port: " << value << "\n";
        return 2;
      }
    } else if (option == "--bind") {
      bindAddress = value;
    } else if (option == "--faults") {
      settings.faultsFile = value;
    } else {
      std::cerr << "kestrun-release-server: unknown option: " << option << "\n";
      printUsage(std::cerr);
      return 2;
    }
  }
  std::error_code ec;
  if (settings.root.empty() || port < 0) {
    printUsage(std::cerr);
    return 2;
  }
  if (!std::filesystem::is_directory(settings.root, ec)) {
    std::cerr << "kestrun-release-server: not a directory: " << settings.root.string() << "\n";
    return 2;
  }

  httplib::Server server;
  // httplib's default socket options set SO_REUSEPORT, which would let a second server share
  // the port unnoticed; SO_REUSEADDR alone still makes a taken port fail at start, and lets a
  // server start on a port whose connections of an earlier server still linger in TIME_WAIT.
  socket_t listening = INVALID_SOCKET;
  server.set_socket_options([&listening](socket_t socket) {
    listening = socket;
    int reuse = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  });
  // An answer's header and body leave at once: with Nagle's algorithm the body of an answer on
  // a kept connection waits for the client's delayed acknowledgement, tens of milliseconds a file.
  server.set_tcp_nodelay(true);
  // Each connection holds a thread while it is served; the library's default pool of 8
  // leaves a crowd of launchers waiting in the listen queue.
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  release_server::installReleaseRoutes(server, settings);
  if (port == 0) {
    port = server.bind_to_any_port(bindAddress);
    if (port <= 0) {
      std::cerr << "kestrun-release-server: cannot listen on " << bindAddress << "\n";
      return 1;
    }
  } else if (!server.bind_to_port(bindAddress, port)) {
    std::cerr << "kestrun-release-server: cannot listen on " << bindAddress << ":" << port
              << " (is the port already in use?)\n";
    return 1;
  }
  // The library listens with a queue of 5 connections, fixed when it was compiled; a crowd of
  // launchers connecting at once overflows it and the kernel drops their connections. Calling
  // listen again on the bound socket only lengthens the queue.
  if (::listen(listening, kListenQueue) != 0) {
    std::cerr << "kestrun-release-server: warning: the listen queue stays short\n";
  }
  std::cout << "kestrun-release-server: serving " << settings.root.string() << " on http://"
            << bindAddress << ":" << port << std::endl;
  return server.listen_after_bind() ? 0 : 1;
}
