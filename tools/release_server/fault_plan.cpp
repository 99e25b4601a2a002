#include "tools/release_server/fault_plan.h"

#include <fstream>
#include <sstream>

namespace release_server {

namespace {

int lookup(const std::map<std::string, int>& table, const std::string& path) {
  auto found = table.find(path);
  if (found == table.end()) found = table.find("*");
  return found == table.end() ? 0 : found->second;
}

// Splits "WORD NUMBER REST" where REST may hold spaces; false when the number is missing.
bool splitNumberAndRest(std::istringstream& line, int& number, std::string& rest) {
  if (!(line >> number)) return false;
  std::getline(line >> std::ws, rest);
  return !rest.empty();
}

}  // namespace

int FaultPlan::statusFor(const std::string& path) const { return lookup(fileStatus, path); }

int FaultPlan::stallFor(const std::string& path) const { return lookup(fileStallSeconds, path); }

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

    bool understood = false;
    int number = 0;
    std::string rest;
    if (word == "list-status") {
      understood = static_cast<bool>(line >> number) && number >= 100 && number <= 599;
      if (understood) plan.listStatus = number;
    } else if (word == "list-body") {
      std::getline(line >> std::ws, rest);
      understood = !rest.empty();
      if (understood) plan.listBody = rest;
    } else if (word == "file-status") {
      understood = splitNumberAndRest(line, number, rest) && number >= 100 && number <= 599;
      if (understood) plan.fileStatus[rest] = number;
    } else if (word == "file-stall") {
      understood = splitNumberAndRest(line, number, rest) && number >= 0;
      if (understood) plan.fileStallSeconds[rest] = number;
    }
    if (!understood) {
      warnings += file.string() + ":" + std::to_string(lineNumber) + ": ignored: " + text + "\n";
    }
  }
  return plan;
}

}  // namespace release_server
