#include "tools/publish/site_serial.h"

#include <system_error>

#include "platform/text.h"
#include "trust/accepted_serial.h"

namespace publish {

bool readIssuedSerial(const SiteLayout& layout, std::uint64_t& serial, std::string& error) {
  const fs::path file = layout.serialFile();
  std::error_code failure;
  switch (readSerialFile(file, serial, failure)) {
    case SerialRecord::Missing:
    case SerialRecord::Serial:
      return true;
    case SerialRecord::Unreadable:
      error = "cannot read " + file.string() + (failure ? ": " + platform::errorCodeText(failure) : "");
      return false;
    case SerialRecord::Damaged:
      break;
  }
  error = file.string() + " is damaged (it must hold one serial in decimal, the highest this site has "
          "signed with); write that serial into it, or remove it and give the serial with --serial-floor";
  return false;
}

bool recordIssuedSerial(const SiteLayout& layout, std::uint64_t serial, std::string& error) {
  const fs::path file = layout.serialFile();
  if (const std::error_code failure = replaceSerialFile(file, layout.serialTempFile(), serial)) {
    error = "cannot write " + file.string() + ": " + platform::errorCodeText(failure);
    return false;
  }
  return true;
}

}  // namespace publish
