#include "trust/accepted_serial.h"

#include "names/installation_layout.h"
#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/manifest_signature.h"

namespace {

constexpr std::size_t kSerialRecordLimitBytes = 64;

std::string describe(const std::filesystem::path& file, const std::error_code& error) {
  return platform::pathToUtf8(file) + "（" + platform::errorCodeText(error) + "）";
}

}  // namespace

SerialRecord readSerialFile(const std::filesystem::path& file, std::uint64_t& serial, std::error_code& error) {
  serial = 0;
  error.clear();
  platform::ItemKind kind = platform::ItemKind::Missing;
  if ((error = platform::queryItemKind(file, false, kind))) return SerialRecord::Unreadable;
  if (kind == platform::ItemKind::Missing) return SerialRecord::Missing;
  if (kind != platform::ItemKind::Regular) return SerialRecord::Damaged;
  // Opened without following a link, in case one took the file's place since it was looked
  // at; a serial is 19 digits at most, so a larger file is damaged and never read whole.
  std::string text;
  bool tooLarge = false;
  if ((error = platform::readSmallFile(file, kSerialRecordLimitBytes, text, tooLarge))) return SerialRecord::Unreadable;
  if (tooLarge) return SerialRecord::Damaged;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return parseManifestSerial(text, serial) ? SerialRecord::Serial : SerialRecord::Damaged;
}

bool readAcceptedSerial(const std::filesystem::path& installDir, std::uint64_t& serial, std::string& errorText) {
  const std::filesystem::path file = installDir / kAcceptedSerialFileName;
  std::error_code error;
  switch (readSerialFile(file, serial, error)) {
    case SerialRecord::Missing:
    case SerialRecord::Serial:
      return true;
    case SerialRecord::Unreadable:
      errorText = "无法读取已接受的清单序号：" + (error ? describe(file, error) : platform::pathToUtf8(file));
      return false;
    case SerialRecord::Damaged:
      break;
  }
  errorText = "已接受的清单序号记录无效：" + platform::pathToUtf8(file);
  return false;
}

std::error_code replaceSerialFile(const std::filesystem::path& file, const std::filesystem::path& fresh,
                                  std::uint64_t serial) {
  const std::string text = std::to_string(serial) + "\n";
  platform::FileWriter writer;
  std::error_code error = writer.open(fresh, platform::FileWriter::Mode::Truncate);
  if (!error) error = writer.write(text.data(), text.size());
  if (!error) error = writer.sync();
  if (const std::error_code closing = writer.close(); !error) error = closing;
  if (!error) error = platform::moveReplacing(fresh, file);
  if (error) {
    platform::removeItem(fresh);
    return error;
  }
  // The rename is on the disk only once the directory that holds it is.
  return platform::syncDirectory(file.parent_path());
}

bool writeAcceptedSerial(const std::filesystem::path& installDir, std::uint64_t serial, std::string& errorText) {
  const std::filesystem::path file = installDir / kAcceptedSerialFileName;
  std::filesystem::path fresh = file;
  fresh += kFreshRecordSuffix;
  if (const std::error_code error = replaceSerialFile(file, fresh, serial)) {
    errorText = "无法记录已接受的清单序号：" + describe(file, error);
    return false;
  }
  return true;
}
