#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// A TCP proxy on loopback that makes a local server look far away: every connection it accepts
// is forwarded to 127.0.0.1:<target> through a simulated link of its own, with
//   - a round-trip time, half of it on the way out and half on the way back;
//   - a bandwidth: the bytes of one direction leave one after another at that rate;
//   - one round trip for the connection's handshake before its first byte is passed on.
// It serves on its own thread for a bounded time and counts the connections it accepted.
namespace bench {

struct LinkProfile {
  std::chrono::microseconds roundTrip{40000};
  double bitsPerSecond = 100e6;  // per connection and direction
  // The link drops once: the first connection that has passed this many bytes to the client is
  // closed. 0: never.
  std::uint64_t dropOnceAfterBytes = 0;
};

class LinkProxy {
 public:
  LinkProxy();
  ~LinkProxy();  // stops
  LinkProxy(const LinkProxy&) = delete;
  LinkProxy& operator=(const LinkProxy&) = delete;

  // Listens on a free port of 127.0.0.1 and forwards to 127.0.0.1:targetPort for at most
  // `lifetime`; after that nothing more is passed. False with errorText when it cannot listen.
  bool start(int targetPort, const LinkProfile& profile, std::chrono::seconds lifetime, std::string& errorText);
  // Closes every connection and ends the thread; nothing when not started.
  void stop();

  int port() const;
  // The connections accepted so far.
  int connections() const;
  // The bytes passed from the server to the client so far, over every connection.
  std::uint64_t bytesToClient() const;

 private:
  struct Running;
  std::unique_ptr<Running> running_;
};

}  // namespace bench
