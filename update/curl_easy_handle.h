#pragma once

#include <curl/curl.h>

#include <memory>

// Owner of one libcurl easy handle: cleaned up exactly once, on every way out of a transfer.
struct CurlEasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasyHandle = std::unique_ptr<CURL, CurlEasyCleanup>;

inline CurlEasyHandle makeCurlEasyHandle() { return CurlEasyHandle(curl_easy_init()); }

// Owner of a list of request headers, which must outlive every transfer of the handle it is set on.
struct CurlHeaderListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHeaderList = std::unique_ptr<curl_slist, CurlHeaderListCleanup>;
