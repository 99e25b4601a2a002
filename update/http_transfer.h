#pragma once

#include <cstddef>
#include <string>

#include "update/manifest_limits.h"
#include "update/transfer_context.h"
#include "update/transfer_failure.h"

// GET into memory with `context`'s settings, on the calling thread, redirects included. True
// for any response below 400; body then holds the whole body. A body above maxBytes ends the
// transfer as tooLarge, with bodyTooLargeText(maxBytes).
bool httpGetToString(const TransferContext& context, const std::string& url, std::string& body,
                     Failure& failure, std::size_t maxBytes = kMaxManifestBytes);

// The transfer error text of a body above `maxBytes`: the manifest's own text for the
// manifest's bound.
inline std::string bodyTooLargeText(std::size_t maxBytes) {
  if (maxBytes == kMaxManifestBytes) return manifestTooLargeText();
  return "应答超过 " + std::to_string(maxBytes) + " 字节";
}
