#pragma once

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace testing_support {

// The lines of a launcher log as "LEVEL message", after checking that every line has the
// time stamp, level and process-id frame of this process. A line that breaks the frame is
// returned whole, prefixed with "MALFORMED ", so that a comparison shows it.
inline std::vector<std::string> logMessages(const std::string& content) {
  static const std::regex frame(
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] \[(INFO|WARN|ERROR)\] \[pid=(\d+)\] (.*))");
  const std::string pid = std::to_string(platform::currentProcessId());
  std::vector<std::string> messages;
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch parts;
    if (std::regex_match(line, parts, frame) && parts[2] == pid) {
      messages.push_back(parts[1].str() + " " + parts[3].str());
    } else {
      messages.push_back("MALFORMED " + line);
    }
  }
  if (!content.empty() && content.back() != '\n') messages.push_back("MALFORMED no line feed at the end");
  return messages;
}

// The same with every "pid=<digits>" inside a message replaced by "pid=#", for messages that
// name a child's process id.
inline std::vector<std::string> logMessagesWithoutChildPids(const std::string& content) {
  static const std::regex childPid(R"(pid=\d+)");
  std::vector<std::string> messages = logMessages(content);
  for (std::string& message : messages) message = std::regex_replace(message, childPid, "pid=#");
  return messages;
}

}  // namespace testing_support
