#pragma once

// The proxy route and the revocation rule as options of one transfer (update/proxy_choice.h
// decides the route).

#include <curl/curl.h>

#include <string>

#include "update/proxy_choice.h"

// Sets the route's options through `set` (a callable taking an option and its value).
// Revocation is checked best-effort: Windows still refuses a certificate it knows to be
// revoked, but a revocation server that cannot be reached, as is common behind a proxy, no
// longer fails the transfer; the manifest's signature covers what that lets through. Only
// Schannel reads the flag.
template <typename Setter>
void setNetworkOptions(Setter& set, const ProxyRoute& route) {
  set(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  set(CURLOPT_PROXY_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  // Every option is set either way: a redirect's hop runs on the handle of the hop before.
  set(CURLOPT_PROXY, route.setProxy ? route.proxy.c_str() : static_cast<const char*>(nullptr));
  set(CURLOPT_NOPROXY, route.noProxy.empty() ? static_cast<const char*>(nullptr) : route.noProxy.c_str());
  // The empty name and password let SSPI answer with the logged-on user's own credentials.
  set(CURLOPT_PROXYAUTH, static_cast<long>(route.logonWithCurrentUser ? CURLAUTH_NEGOTIATE | CURLAUTH_NTLM
                                                                       : CURLAUTH_BASIC));
  set(CURLOPT_PROXYUSERPWD, route.logonWithCurrentUser ? ":" : static_cast<const char*>(nullptr));
}

// After a transfer: true, with errorText naming the proxy by the address the transfer
// reached, when a proxy still answered 407 to a tunnel (CONNECT) or to a plain request.
inline bool proxyAuthenticationFailed(CURL* handle, std::string& errorText) {
  long connectCode = 0;
  long responseCode = 0;
  curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &connectCode);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &responseCode);
  if (connectCode != 407 && responseCode != 407) return false;
  char* address = nullptr;
  long port = 0;
  curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &address);
  curl_easy_getinfo(handle, CURLINFO_PRIMARY_PORT, &port);
  errorText = proxyAuthenticationFailedText(address && *address ? address + (":" + std::to_string(port)) : "");
  return true;
}
