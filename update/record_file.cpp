#include "update/record_file.h"

#include "log/launcher_log.h"
#include "names/installation_layout.h"
#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"

bool readRecordText(const std::filesystem::path& file, std::size_t limit, std::string& text) {
  bool tooLarge = false;
  if (platform::readSmallFile(file, limit, text, tooLarge)) return false;
  if (!tooLarge) return true;
  logWarn("记录文件过大，按不存在处理：" + platform::pathToUtf8(file) + "（上限 " + std::to_string(limit) + " 字节）");
  return false;
}

std::vector<std::vector<std::string>> readRecordLines(const std::filesystem::path& file) {
  std::vector<std::vector<std::string>> lines;
  readRecordLines(file, lines);
  return lines;
}

bool readRecordLines(const std::filesystem::path& file, std::vector<std::vector<std::string>>& lines) {
  lines.clear();
  std::string text;
  if (!readRecordText(file, kRecordLimitBytes, text)) return false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a last line without its end was cut short
    std::vector<std::string> fields;
    std::size_t field = start;
    for (std::size_t tab = text.find('\t', field); tab < end; tab = text.find('\t', field)) {
      fields.push_back(text.substr(field, tab - field));
      field = tab + 1;
    }
    fields.push_back(text.substr(field, end - field));
    lines.push_back(std::move(fields));
    start = end + 1;
  }
  return true;
}

bool writeRecordLines(const std::filesystem::path& file, const std::vector<std::vector<std::string>>& lines,
                      std::string& errorText) {
  std::error_code error;
  if (lines.empty()) {
    error = platform::removeItem(file);
  } else {
    std::string text;
    for (const std::vector<std::string>& fields : lines) {
      for (std::size_t i = 0; i < fields.size(); ++i) text += (i == 0 ? "" : "\t") + fields[i];
      text += '\n';
    }
    std::filesystem::path fresh = file;
    fresh += kFreshRecordSuffix;
    platform::FileWriter writer;
    error = writer.open(fresh, platform::FileWriter::Mode::Truncate);
    if (!error) error = writer.write(text.data(), text.size());
    if (const std::error_code closing = writer.close(); !error) error = closing;
    if (!error) error = platform::moveReplacing(fresh, file);
    if (error) platform::removeItem(fresh);
  }
  if (!error) return true;
  errorText = platform::pathToUtf8(file) + "（" + platform::errorCodeText(error) + "）";
  return false;
}

bool isRecordField(const std::string& text) { return text.find_first_of("\t\r\n") == std::string::npos; }
