#pragma once

// A transfer that moves less than one byte per second for this many seconds is given up with
// the library's time-out text, so a server that stops sending can never hang the launcher.
// The launcher keeps the default; tests shorten it.
constexpr long kDefaultStallTimeoutSeconds = 30;

long stallTimeoutSeconds();
void setStallTimeoutSeconds(long seconds);
