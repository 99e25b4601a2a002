#include "bench/link_proxy.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <asio.hpp>

namespace bench {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBytes = 16 * 1024;
// What a direction reads ahead of its link before it pauses: a real connection's window,
// far above what one round trip carries at the benchmark's rates.
constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

// One way through a connection: bytes read from `from` are written to `to` when the simulated
// link delivers them.
struct Direction {
  struct Chunk {
    Clock::time_point arrives;
    std::vector<char> bytes;
  };

  Direction(tcp::socket& from, tcp::socket& to) : from(from), to(to), timer(from.get_executor()) {}

  tcp::socket& from;
  tcp::socket& to;
  asio::steady_timer timer;
  std::array<char, kReadBytes> readBuffer{};
  std::deque<Chunk> inFlight;
  std::size_t inFlightBytes = 0;
  Clock::time_point linkFreeAt;  // when the last byte handed to the link has left
  bool reading = false;
  bool writing = false;
  bool ended = false;  // the sender closed its side; shut `to` down once all is delivered
};

// What every connection of one proxy counts together.
struct LinkCounts {
  std::atomic<std::uint64_t> toClient{0};
  std::atomic<bool> dropped{false};
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket client, const LinkProfile& profile, LinkCounts& counts)
      : client_(std::move(client)),
        server_(client_.get_executor()),
        profile_(profile),
        counts_(counts),
        upstream_(client_, server_),
        downstream_(server_, client_) {}

  void start(const tcp::endpoint& target) {
    // The handshake's round trip: no byte leaves before it is over, in either direction.
    upstream_.linkFreeAt = downstream_.linkFreeAt = Clock::now() + profile_.roundTrip;
    server_.async_connect(target, [this, self = shared_from_this()](const std::error_code& error) {
      if (error) return close();
      std::error_code ignored;
      client_.set_option(tcp::no_delay(true), ignored);
      server_.set_option(tcp::no_delay(true), ignored);
      read(upstream_);
      read(downstream_);
    });
  }

 private:
  void read(Direction& way) {
    if (way.reading || way.ended || way.inFlightBytes >= kMaxQueuedBytes) return;
    way.reading = true;
    way.from.async_read_some(asio::buffer(way.readBuffer), [this, self = shared_from_this(), &way](
                                                               const std::error_code& error, std::size_t count) {
      way.reading = false;
      if (error == asio::error::eof) {
        way.ended = true;
        return write(way);
      }
      if (error) return close();
      // The bytes go on the link when it is free, take their time on the wire and arrive half a
      // round trip after the last of them left.
      way.linkFreeAt = std::max(Clock::now(), way.linkFreeAt) + wireTime(count);
      way.inFlight.push_back({way.linkFreeAt + profile_.roundTrip / 2,
                              std::vector<char>(way.readBuffer.begin(), way.readBuffer.begin() + count)});
      way.inFlightBytes += count;
      write(way);
      read(way);
    });
  }

  void write(Direction& way) {
    if (way.writing) return;
    if (way.inFlight.empty()) {
      std::error_code ignored;
      if (way.ended) way.to.shutdown(tcp::socket::shutdown_send, ignored);
      return;
    }
    way.writing = true;
    way.timer.expires_at(way.inFlight.front().arrives);
    way.timer.async_wait([this, self = shared_from_this(), &way](const std::error_code& error) {
      if (error) return close();
      asio::async_write(way.to, asio::buffer(way.inFlight.front().bytes),
                        [this, self, &way](const std::error_code& error, std::size_t) {
                          if (error) return close();
                          way.writing = false;
                          if (&way == &downstream_ && passedDown(way.inFlight.front().bytes.size())) return close();
                          way.inFlightBytes -= way.inFlight.front().bytes.size();
                          way.inFlight.pop_front();
                          write(way);
                          read(way);
                        });
    });
  }

  // Counts bytes delivered to the client; true when the link drops here.
  bool passedDown(std::size_t bytes) {
    counts_.toClient += bytes;
    passedDown_ += bytes;
    if (profile_.dropOnceAfterBytes == 0 || passedDown_ < profile_.dropOnceAfterBytes) return false;
    return !counts_.dropped.exchange(true);
  }

  Clock::duration wireTime(std::size_t bytes) const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) * 8.0 / profile_.bitsPerSecond));
  }

  // Ends both sides at once; the handlers still waiting see an error and stop.
  void close() {
    std::error_code ignored;
    client_.close(ignored);
    server_.close(ignored);
    upstream_.timer.cancel();
    downstream_.timer.cancel();
  }

  tcp::socket client_;
  tcp::socket server_;
  const LinkProfile profile_;
  LinkCounts& counts_;
  std::uint64_t passedDown_ = 0;
  Direction upstream_;    // client to server
  Direction downstream_;  // server to client
};

}  // namespace

struct LinkProxy::Running {
  void accept() {
    acceptor.async_accept([this](const std::error_code& error, tcp::socket socket) {
      if (error) return;  // the acceptor is closed
      ++accepted;
      std::make_shared<Connection>(std::move(socket), profile, counts)->start(target);
      accept();
    });
  }

  // Declared first so it is destroyed last: the handlers it still holds own the connections.
  asio::io_context io;
  tcp::acceptor acceptor{io};
  tcp::endpoint target;
  LinkProfile profile;
  int port = 0;
  std::atomic<int> accepted{0};
  LinkCounts counts;
  std::thread thread;
};

LinkProxy::LinkProxy() = default;

LinkProxy::~LinkProxy() { stop(); }

bool LinkProxy::start(int targetPort, const LinkProfile& profile, std::chrono::seconds lifetime,
                      std::string& errorText) {
  stop();
  auto running = std::make_unique<Running>();
  const asio::ip::address loopback = asio::ip::make_address_v4("127.0.0.1");
  running->target = tcp::endpoint(loopback, static_cast<unsigned short>(targetPort));
  running->profile = profile;
  std::error_code error;
  running->acceptor.open(tcp::v4(), error);
  if (!error) running->acceptor.bind(tcp::endpoint(loopback, 0), error);
  if (!error) running->acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    errorText = "the link proxy cannot listen: " + error.message();
    return false;
  }
  running->port = running->acceptor.local_endpoint().port();
  running->accept();
  Running* serving = running.get();
  running->thread = std::thread([serving, lifetime] { serving->io.run_for(lifetime); });
  running_ = std::move(running);
  return true;
}

void LinkProxy::stop() {
  if (!running_) return;
  running_->io.stop();
  running_->thread.join();
  running_.reset();
}

int LinkProxy::port() const { return running_ ? running_->port : 0; }

int LinkProxy::connections() const { return running_ ? running_->accepted.load() : 0; }

std::uint64_t LinkProxy::bytesToClient() const { return running_ ? running_->counts.toClient.load() : 0; }

}  // namespace bench
