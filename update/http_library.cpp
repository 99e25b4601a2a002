#include "update/http_library.h"

#include <curl/curl.h>

HttpLibrary::HttpLibrary() {
  const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
  ready_ = result == CURLE_OK;
  if (!ready_) errorText_ = curl_easy_strerror(result);
}

// Only a successful set-up is matched by a teardown: the library counts them.
HttpLibrary::~HttpLibrary() {
  if (ready_) curl_global_cleanup();
}
