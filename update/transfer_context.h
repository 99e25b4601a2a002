#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

class ProxyChoice;
class TransferShare;

// A fresh update client's bound on connecting, in seconds.
inline constexpr std::int32_t kDefaultConnectTimeoutSeconds = 5;
// The launcher's own bound on connecting to its update server, set on the client of its run.
inline constexpr std::int32_t kLauncherConnectTimeoutSeconds = 4;
// A transfer that moves less than 1 byte/s for this long is given up.
inline constexpr long kDefaultStallTimeoutSeconds = 30;

// Everything a transfer reads of the client that starts it, and nothing more: the update
// client (update_checker.h) makes one for each transfer, so the transfers never see it.
struct TransferContext {
  std::filesystem::path caBundlePath;  // empty, or missing: the library's own certificates
  std::int32_t connectTimeoutSeconds = kDefaultConnectTimeoutSeconds;
  long stallTimeoutSeconds = kDefaultStallTimeoutSeconds;
  // For a transfer worth little to the run (the health report): a bound on each request, from
  // connecting to its last byte, in milliseconds (0: none); whether a redirect is followed (not
  // followed, a 3xx answer is the answer); and a bound on the bytes of an answer's headers (0:
  // the library's own).
  long requestTimeoutMilliseconds = 0;
  bool followRedirects = true;
  std::size_t maxHeaderBytes = 0;
  // Consulted by file transfers while they run; true stops them with kCancelledText.
  std::function<bool()> cancelCheck;
  // The proxy of each request (null: the library's own choice), and the connections, TLS
  // sessions and DNS answers the run's transfers share (null: each opens its own). Both
  // belong to the client and outlive its transfers.
  ProxyChoice* proxyChoice = nullptr;
  TransferShare* share = nullptr;
};

// The exact error text of a transfer or download stopped by the user.
inline constexpr const char* kCancelledText = "__CANCELLED__";
