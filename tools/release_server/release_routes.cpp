#include "tools/release_server/release_routes.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "tools/release_server/fault_plan.h"
#include "tools/release_server/range_answer.h"
#include "tools/release_server/release_tree.h"
#include "wire/server_endpoints.h"

namespace release_server {

namespace {

std::mutex outputMutex;

void printLine(std::ostream& stream, const std::string& line) {
  std::lock_guard<std::mutex> lock(outputMutex);
  stream << line << std::endl;
}

// A request's line is printed once its answer is decided and before any byte of it is sent, so
// whoever has the answer can already read the line. Threads print in their own order, so each
// line carries the number of its request's arrival, which puts the log back in order. A request
// that never reaches the routes is numbered when printed.
std::atomic<unsigned long> arrivals{0};
thread_local const httplib::Request* numberedRequest = nullptr;
thread_local unsigned long requestNumber = 0;

unsigned long arrivalNumberOf(const httplib::Request& request) {
  return numberedRequest == &request ? requestNumber : ++arrivals;
}

void answerText(httplib::Response& response, int status, const std::string& text) {
  response.status = status;
  response.set_content(text + "\n", "text/plain; charset=utf-8");
}

FaultPlan currentFaults(const ServerSettings& settings) {
  if (settings.faultsFile.empty()) return {};
  std::string warnings;
  FaultPlan plan = readFaultPlan(settings.faultsFile, warnings);
  if (!warnings.empty()) {
    warnings.pop_back();  // printLine ends the line itself
    printLine(std::cerr, warnings);
  }
  return plan;
}

// The release directory of the request's platform, or false with the answer already set.
bool releaseDirFor(const httplib::Request& request, const ServerSettings& settings,
                   httplib::Response& response, fs::path& releaseDir) {
  if (!request.has_param("platform")) {
    answerText(response, 400, "missing platform");
    return false;
  }
  const std::string platform = request.get_param_value("platform");
  std::error_code ec;
  if (!isPlainPlatformName(platform) || !fs::is_directory(settings.root / platform, ec)) {
    answerText(response, 404, "unknown platform");
    return false;
  }
  releaseDir = settings.root / platform;
  return true;
}

// ROOT/<platform>.json, the manifest file of a published release, beside its tree.
fs::path signedManifestFile(const fs::path& releaseDir) {
  fs::path file = releaseDir;
  file += ".json";
  return file;
}

bool readWholeFile(const fs::path& file, std::string& content) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void serveManifest(const httplib::Request& request, httplib::Response& response,
                   const ServerSettings& settings) {
  fs::path releaseDir;
  if (!releaseDirFor(request, settings, response, releaseDir)) return;

  const FaultPlan faults = currentFaults(settings);
  if (faults.listStatus != 0) {
    answerText(response, faults.listStatus, "status forced by the faults file");
    return;
  }
  if (answerManifestFault(faults, response)) return;
  std::string body;
  if (!faults.listBody.empty()) {
    if (!readWholeFile(faults.listBody, body)) {
      answerText(response, 500, "cannot read " + faults.listBody.string());
      return;
    }
  } else if (std::error_code ec; fs::is_regular_file(signedManifestFile(releaseDir), ec)) {
    // A signed release: its signature covers these exact bytes, so they are served as written.
    if (!readWholeFile(signedManifestFile(releaseDir), body)) {
      answerText(response, 500, "cannot read the manifest file");
      return;
    }
  } else {
    std::string error;
    if (!buildManifest(releaseDir, body, error)) {
      printLine(std::cerr, error);
      answerText(response, 500, error);
      return;
    }
  }
  response.status = 200;
  response.set_content(body, "application/json");
}

// GET /gis/update/signature: the signature file beside the platform's manifest file, as the
// publish tool writes it. No signature, no answer: the launcher decides what that means.
void serveSignature(const httplib::Request& request, httplib::Response& response,
                    const ServerSettings& settings) {
  fs::path releaseDir;
  if (!releaseDirFor(request, settings, response, releaseDir)) return;
  fs::path file = signedManifestFile(releaseDir);
  file += ".sig";
  std::string body;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    answerText(response, 404, "no signature");
    return;
  }
  if (!readWholeFile(file, body)) {
    answerText(response, 500, "cannot read the signature");
    return;
  }
  response.status = 200;
  response.set_content(body, "text/plain; charset=utf-8");
}

// Streams the file, or the range asked for, in pieces, so large files never sit in memory whole.
void streamFile(const httplib::Request& request, httplib::Response& response, const fs::path& file) {
  auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  if (!*in || ec) {
    answerText(response, 500, "cannot read the file");
    return;
  }
  const RangeAnswer answer = answerRange(request, response, file, size);
  response.status = answer.status;
  if (answer.status == 416) return;
  const std::uint64_t start = answer.offset;
  response.set_content_provider(
      static_cast<size_t>(answer.length), "application/octet-stream",
      [in, start](size_t offset, size_t length, httplib::DataSink& sink) {
        char buffer[64 * 1024];
        in->clear();
        in->seekg(static_cast<std::streamoff>(start + offset));
        const std::streamsize wanted =
            static_cast<std::streamsize>(std::min(length, sizeof buffer));
        in->read(buffer, wanted);
        const std::streamsize got = in->gcount();
        if (got <= 0) return false;  // the file shrank under us: drop the connection
        return sink.write(buffer, static_cast<size_t>(got));
      });
}

void serveFile(const httplib::Request& request, httplib::Response& response,
               const ServerSettings& settings, RequestCounter& requests) {
  fs::path releaseDir;
  if (!releaseDirFor(request, settings, response, releaseDir)) return;
  if (!request.has_param("path")) {
    answerText(response, 400, "missing path");
    return;
  }
  const std::string path = request.get_param_value("path");

  const FaultPlan faults = currentFaults(settings);
  if (const int stall = faults.stallFor(path); stall > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(stall));
  }
  const int requestNumber = requests.count(path);
  if (const int status = faults.statusFor(path, requestNumber); status != 0) {
    answerText(response, status, "status forced by the faults file");
    return;
  }

  fs::path file;
  switch (findReleaseFile(releaseDir, path, file)) {
    case FileLookup::Found:
      if (const fs::path older = faults.olderFileFor(path, requestNumber); !older.empty()) file = older;
      if (!answerFileFault(faults.faultFor(path, requestNumber), file, request, response)) {
        streamFile(request, response, file);
      }
      break;
    case FileLookup::BadRequest:
      answerText(response, 400, "bad path");
      break;
    case FileLookup::Forbidden:
      answerText(response, 403, "path leaves the release");
      break;
    case FileLookup::NotFound:
      answerText(response, 404, "no such file");
      break;
  }
}

// GET /gis/update/object/P/NAME: an object beside a published release (ROOT/P.objects/NAME).
// Its name is the digest of its bytes, so it never changes and may be cached for ever.
void serveObject(const httplib::Request& request, httplib::Response& response, const ServerSettings& settings) {
  const std::string platform = request.matches[1];
  const fs::path file = settings.root / (platform + ".objects") / std::string(request.matches[2]);
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    answerText(response, 404, "no such object");
    return;
  }
  streamFile(request, response, file);
  response.set_header("Cache-Control", "public, max-age=31536000, immutable");
}

}  // namespace

void installReleaseRoutes(httplib::Server& server, const ServerSettings& settings) {
  server.Get(kManifestEndpoint, [settings](const httplib::Request& request,
                                            httplib::Response& response) {
    serveManifest(request, response, settings);
  });
  server.Get(kSignatureEndpoint, [settings](const httplib::Request& request,
                                                 httplib::Response& response) {
    serveSignature(request, response, settings);
  });
  auto requests = std::make_shared<RequestCounter>();
  server.Get(kFileEndpoint, [settings, requests](const httplib::Request& request,
                                                 httplib::Response& response) {
    serveFile(request, response, settings, *requests);
  });
  // A health report: the request's line on standard output is the record, as an access log.
  server.Get(kHealthEndpoint, [](const httplib::Request&, httplib::Response& response) {
    response.status = 204;
    response.set_header("Cache-Control", "no-store");
  });
  server.Get(std::string(kObjectEndpoint) + R"(/([a-z0-9_-]+)/([0-9a-f]{64}\.zst))",
             [settings](const httplib::Request& request, httplib::Response& response) {
               serveObject(request, response, settings);
             });
  server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    numberedRequest = &request;
    requestNumber = ++arrivals;
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_post_routing_handler([](const httplib::Request& request, httplib::Response& response) {
    printLine(std::cout, request.method + " " + request.target + " -> " +
                             std::to_string(response.status) + " (" +
                             request.get_header_value("User-Agent") + ") #" +
                             std::to_string(arrivalNumberOf(request)));
  });
}

}  // namespace release_server
