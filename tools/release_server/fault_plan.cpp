#include "tools/release_server/fault_plan.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/release_server/range_answer.h"

namespace release_server {

namespace {

template <typename Value>
Value lookup(const std::map<std::string, Value>& table, const std::string& path) {
  auto found = table.find(path);
  if (found == table.end()) found = table.find("*");
  return found == table.end() ? Value{} : found->second;
}

// Splits "WORD NUMBER REST" where REST may hold spaces; false when the number is missing.
template <typename Number>
bool splitNumberAndRest(std::istringstream& line, Number& number, std::string& rest) {
  if (!(line >> number)) return false;
  std::getline(line >> std::ws, rest);
  return !rest.empty();
}

bool isStatus(int number) { return number >= 100 && number <= 599; }

// Reads one directive into the plan; false when it is not understood.
bool readDirective(const std::string& word, std::istringstream& line, FaultPlan& plan) {
  int number = 0;
  std::int64_t bytes = 0;
  std::string rest;
  if (word == "list-status") {
    if (!(line >> number) || !isStatus(number)) return false;
    plan.listStatus = number;
  } else if (word == "list-body") {
    std::getline(line >> std::ws, rest);
    if (rest.empty()) return false;
    plan.listBody = rest;
  } else if (word == "list-endless") {
    plan.listEndless = true;
  } else if (word == "list-padded") {
    if (!(line >> bytes) || bytes < 2) return false;
    plan.listPaddedBytes = bytes;
  } else if (word == "file-status") {
    if (!splitNumberAndRest(line, number, rest) || !isStatus(number)) return false;
    plan.fileStatus[rest] = number;
  } else if (word == "file-flap") {
    int count = 0;
    if (!(line >> number) || !isStatus(number) || !splitNumberAndRest(line, count, rest) || count < 0) return false;
    plan.fileFlaps[rest] = {number, count};
  } else if (word == "file-stall") {
    if (!splitNumberAndRest(line, number, rest) || number < 0) return false;
    plan.fileStallSeconds[rest] = number;
  } else if (word == "file-cut" || word == "file-short" || word == "file-throttle") {
    if (!splitNumberAndRest(line, bytes, rest) || bytes < 0 || (word == "file-throttle" && bytes == 0)) return false;
    const FileFault::Kind kind = word == "file-cut"     ? FileFault::Kind::Cut
                                 : word == "file-short" ? FileFault::Kind::Short
                                                        : FileFault::Kind::Throttle;
    plan.fileFaults[rest] = {kind, bytes, {}};
  } else if (word == "file-drop") {
    int count = 0;
    if (!(line >> bytes) || bytes < 0 || !splitNumberAndRest(line, count, rest) || count < 0) return false;
    plan.fileDrops[rest] = {{FileFault::Kind::Cut, bytes, {}}, count};
  } else if (word == "file-older") {
    int count = 0;
    std::string file;
    if (!(line >> count) || count < 0 || !(line >> file)) return false;
    std::getline(line >> std::ws, rest);
    if (rest.empty()) return false;
    plan.olderFiles[rest] = {file, count};
  } else if (word == "file-redirect-loop") {
    std::getline(line >> std::ws, rest);
    if (rest.empty()) return false;
    plan.fileFaults[rest] = {FileFault::Kind::RedirectLoop, 0, {}};
  } else if (word == "file-redirect") {
    std::string base;
    if (!(line >> base)) return false;
    std::getline(line >> std::ws, rest);
    if (rest.empty()) return false;
    plan.fileFaults[rest] = {FileFault::Kind::Redirect, 0, base};
  } else {
    return false;
  }
  return true;
}

// Up to `length` bytes of the file from `offset`; empty when there are none.
std::string readPiece(std::ifstream& in, std::size_t offset, std::size_t length) {
  std::string piece(std::min<std::size_t>(length, 64 * 1024), '\0');
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
  piece.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return piece;
}

}  // namespace

int FaultPlan::statusFor(const std::string& path, int request) const {
  if (const int status = lookup(fileStatus, path)) return status;
  const auto [status, failing] = lookup(fileFlaps, path);
  return request <= failing ? status : 0;
}

int FaultPlan::stallFor(const std::string& path) const { return lookup(fileStallSeconds, path); }

FileFault FaultPlan::faultFor(const std::string& path, int request) const {
  const auto [drop, dropped] = lookup(fileDrops, path);
  return request <= dropped ? drop : lookup(fileFaults, path);
}

std::filesystem::path FaultPlan::olderFileFor(const std::string& path, int request) const {
  const auto [file, count] = lookup(olderFiles, path);
  return request <= count ? file : std::filesystem::path();
}

FaultPlan readFaultPlan(const std::filesystem::path& file, std::string& warnings) {
  FaultPlan plan;
  std::ifstream in(file, std::ios::binary);
  std::string text;
  int lineNumber = 0;
  while (in && std::getline(in, text)) {
    ++lineNumber;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::istringstream line(text);
    std::string word;
    if (!(line >> word) || word[0] == '#') continue;
    if (!readDirective(word, line, plan)) {
      warnings += file.string() + ":" + std::to_string(lineNumber) + ": ignored: " + text + "\n";
    }
  }
  return plan;
}

int RequestCounter::count(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ++counts_[path];
}

bool answerManifestFault(const FaultPlan& plan, httplib::Response& response) {
  response.status = 200;
  if (plan.listEndless) {
    // Valid entries, one after another, for as long as the client reads.
    response.set_chunked_content_provider("application/json", [](std::size_t offset, httplib::DataSink& sink) {
      static const std::string entries = [] {
        std::string text;
        while (text.size() < 64 * 1024) text += R"({"path":"endless","size":1,"mtime":1},)";
        return text;
      }();
      if (offset == 0 && !sink.write("[", 1)) return false;
      return sink.write(entries.data(), entries.size());
    });
    return true;
  }
  if (plan.listPaddedBytes > 0) {
    // An empty array padded with blanks, so only its length is wrong.
    const auto total = static_cast<std::size_t>(plan.listPaddedBytes);
    response.set_content_provider(total, "application/json",
                                  [total](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                    std::string piece(std::min<std::size_t>(length, 64 * 1024), ' ');
                                    if (offset == 0) piece.front() = '[';
                                    if (offset + piece.size() == total) piece.back() = ']';
                                    return sink.write(piece.data(), piece.size());
                                  });
    return true;
  }
  return false;
}

bool answerFileFault(const FileFault& fault, const std::filesystem::path& file, const httplib::Request& request,
                     httplib::Response& response) {
  switch (fault.kind) {
    case FileFault::Kind::None:
      return false;
    case FileFault::Kind::RedirectLoop:
      response.set_redirect(request.target);
      return true;
    case FileFault::Kind::Redirect:
      response.set_redirect(fault.base + request.target);
      return true;
    default:
      break;
  }
  auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
  std::error_code ec;
  const auto size = static_cast<std::size_t>(std::filesystem::file_size(file, ec));
  if (!*in || ec) {
    response.status = 500;
    return true;
  }
  const auto limit = static_cast<std::size_t>(fault.number);
  if (fault.kind == FileFault::Kind::Short) {
    // A short body looks whole, so it has no range and no validator that could resume it.
    ignoreRanges(request);
    response.status = 200;
    // No length: the client takes the closed connection for the end of the body. Ending the
    // provider with false closes the connection at once, instead of keeping it for a next request.
    response.set_content_provider("application/octet-stream", [in, limit](std::size_t offset, httplib::DataSink& sink) {
      const std::string piece = offset < limit ? readPiece(*in, offset, limit - offset) : std::string();
      return !piece.empty() && sink.write(piece.data(), piece.size());
    });
    return true;
  }
  const RangeAnswer answer = answerRange(request, response, file, size);
  response.status = answer.status;
  if (answer.status == 416) return true;
  const bool throttled = fault.kind == FileFault::Kind::Throttle;
  const auto start = static_cast<std::size_t>(answer.offset);
  response.set_content_provider(
      static_cast<std::size_t>(answer.length), "application/octet-stream",
      [in, limit, throttled, start](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        if (throttled) {
          // A tenth of the rate every 100 ms.
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          length = std::min(length, std::max<std::size_t>(limit / 10, 1));
        } else if (offset >= limit) {
          return false;  // cut: drop the connection
        } else {
          length = std::min(length, limit - offset);
        }
        const std::string piece = readPiece(*in, start + offset, length);
        return !piece.empty() && sink.write(piece.data(), piece.size());
      });
  return true;
}

}  // namespace release_server
