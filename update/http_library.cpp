#include "update/http_library.h"

#include <curl/curl.h>

bool initHttpLibrary(std::string& errorText) {
  const CURLcode result = curl_global_init(CURL_GLOBAL_ALL);
  if (result != CURLE_OK) {
    errorText = curl_easy_strerror(result);
    return false;
  }
  return true;
}

void cleanupHttpLibrary() { curl_global_cleanup(); }
