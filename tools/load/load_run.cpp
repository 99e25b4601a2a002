#include "tools/load/load_run.h"

#include <chrono>
#include <memory>

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include "wire/server_endpoints.h"

namespace load {

namespace {

using Clock = std::chrono::steady_clock;

struct EasyCloser {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCloser>;

struct MultiCloser {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiCloser>;

struct ManifestFile {
  std::string encodedPath;  // percent-encoded segment by segment, as the launcher sends it
  std::uint64_t size = 0;
};

// One simulated launcher and the one request it has running.
struct Client {
  int index = 0;
  std::vector<ManifestFile> files;  // empty until the manifest has arrived
  int nextFile = 0;                 // files fetched so far
  bool manifestDone = false;
  bool finished = false;
  EasyHandle easy;
  std::string body;                 // the manifest only; files are counted, not kept
  std::uint64_t received = 0;
  Clock::time_point started;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* userData) {
  auto* client = static_cast<Client*>(userData);
  const std::size_t length = size * count;
  client->received += length;
  if (!client->manifestDone) client->body.append(data, length);
  return length;
}

std::string encodePath(CURL* escaper, const std::string& path) {
  std::string encoded;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string segment = path.substr(start, slash - start);
    if (!segment.empty()) {
      char* escaped = curl_easy_escape(escaper, segment.c_str(), static_cast<int>(segment.size()));
      encoded += escaped ? escaped : segment;
      curl_free(escaped);
    }
    if (slash == std::string::npos) return encoded;
    encoded += '/';
    start = slash + 1;
  }
}

// The regular files of the manifest, cycled through from an offset of the client's own so
// that clients do not all ask for the same file at once.
bool pickFiles(const std::string& body, CURL* escaper, int wanted, int clientIndex,
               std::vector<ManifestFile>& files, std::string& error) {
  const nlohmann::json manifest = nlohmann::json::parse(body, nullptr, false);
  if (!manifest.is_array()) {
    error = "manifest not a JSON array";
    return false;
  }
  std::vector<ManifestFile> all;
  for (const nlohmann::json& entry : manifest) {
    if (!entry.is_object() || !entry.contains("path") || entry.contains("link")) continue;
    all.push_back({encodePath(escaper, entry.value("path", std::string())),
                   entry.value("size", std::uint64_t{0})});
  }
  if (all.empty() && wanted > 0) {
    error = "manifest without files";
    return false;
  }
  for (int i = 0; i < wanted; ++i) {
    files.push_back(all[(static_cast<std::size_t>(clientIndex) * 7 + i) % all.size()]);
  }
  return true;
}

class LoadRun {
 public:
  LoadRun(const LoadSettings& settings, LoadResult& result) : settings_(settings), result_(result) {}

  bool run(std::string& error) {
    multi_.reset(curl_multi_init());
    escaper_.reset(curl_easy_init());
    if (!multi_ || !escaper_) {
      error = "curl initialisation failed";
      return false;
    }
    const Clock::time_point begin = Clock::now();
    const Clock::time_point deadline = begin + std::chrono::seconds(settings_.timeLimitSeconds);
    clients_.resize(static_cast<std::size_t>(settings_.clients));
    for (std::size_t i = 0; i < clients_.size(); ++i) {
      clients_[i].index = static_cast<int>(i);
      startNext(clients_[i]);
    }
    // Counted by the run itself: a finished transfer leaves libcurl's running count before
    // its client has started the next one.
    while (active_ > 0) {
      if (Clock::now() >= deadline) {
        result_.stoppedByTimeLimit = true;
        break;
      }
      int running = 0;
      curl_multi_perform(multi_.get(), &running);
      collectFinished();
      if (active_ > 0) curl_multi_poll(multi_.get(), nullptr, 0, 100, nullptr);
    }
    // Whatever still runs at the time limit is stopped and not counted.
    for (Client& client : clients_) {
      if (client.easy) curl_multi_remove_handle(multi_.get(), client.easy.get());
      client.easy.reset();
      if (client.finished) ++result_.clientsFinished;
    }
    result_.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return true;
  }

 private:
  void countError(const std::string& kind) {
    ++result_.errors;
    ++result_.errorKinds[kind];
  }

  // Starts the client's next request, or marks it finished.
  void startNext(Client& client) {
    if (client.manifestDone && client.nextFile >= static_cast<int>(client.files.size())) {
      client.finished = true;
      return;
    }
    if (started_ >= settings_.maxRequests) {
      result_.stoppedByRequestLimit = true;
      return;
    }
    std::string url = settings_.baseUrl;
    if (!client.manifestDone) {
      url += std::string(kManifestEndpoint) + "?platform=" + settings_.platform;
    } else {
      url += std::string(kFileEndpoint) + "?platform=" + settings_.platform + "&path=" +
             client.files[static_cast<std::size_t>(client.nextFile)].encodedPath;
    }
    client.easy.reset(curl_easy_init());
    if (!client.easy) {
      countError("curl handle");
      return;
    }
    CURL* easy = client.easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(settings_.connectTimeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "kestrun-load/1.0");
    // A fresh connection per request, closed afterwards, as the launcher's transfers are.
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &client);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &client);
    client.body.clear();
    client.received = 0;
    client.started = Clock::now();
    ++started_;
    ++active_;
    curl_multi_add_handle(multi_.get(), easy);
  }

  void collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
      if (message->msg != CURLMSG_DONE) continue;
      Client* client = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &client);
      const CURLcode code = message->data.result;
      long status = 0;
      curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status);
      curl_multi_remove_handle(multi_.get(), message->easy_handle);
      --active_;
      finish(*client, code, status);
    }
  }

  void finish(Client& client, CURLcode code, long status) {
    ++result_.requests;
    result_.bytes += client.received;
    result_.latenciesMs.push_back(
        std::chrono::duration<double, std::milli>(Clock::now() - client.started).count());
    std::string failure;
    if (code != CURLE_OK) {
      failure = curl_easy_strerror(code);
    } else if (status != 200) {
      failure = "HTTP " + std::to_string(status);
    } else if (!client.manifestDone) {
      if (!pickFiles(client.body, escaper_.get(), settings_.filesPerClient, client.index,
                     client.files, failure)) {
        failure = "manifest: " + failure;
      }
    } else if (client.received != client.files[static_cast<std::size_t>(client.nextFile)].size) {
      failure = "body size differs from the manifest";
    }
    client.easy.reset();
    if (!failure.empty()) {
      // A launcher gives up on a failed manifest; a failed file ends its run too.
      countError(failure);
      return;
    }
    if (client.manifestDone) {
      ++client.nextFile;
    } else {
      client.manifestDone = true;
    }
    startNext(client);
  }

  const LoadSettings& settings_;
  LoadResult& result_;
  MultiHandle multi_;
  EasyHandle escaper_;
  std::vector<Client> clients_;
  long started_ = 0;
  int active_ = 0;  // requests added to the multi handle and not yet finished
};

}  // namespace

bool runLoad(const LoadSettings& settings, LoadResult& result, std::string& error) {
  result = {};
  LoadRun run(settings, result);
  return run.run(error);
}

}  // namespace load
