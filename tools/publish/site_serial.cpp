#include "tools/publish/site_serial.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/confined_tree.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/accepted_serial.h"
#include "trust/manifest_signature.h"

namespace publish {

namespace {

std::string describe(const std::error_code& failure) {
  return platform::trimSystemMessage(failure.message());
}

}  // namespace

bool readIssuedSerial(const SiteLayout& layout, std::uint64_t& serial, std::string& error) {
  serial = 0;
  const fs::path file = layout.serialFile();
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) return true;
  std::ifstream in(file, std::ios::binary);
  std::string text;
  if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in || in.bad()) {
    error = "cannot read " + file.string();
    return false;
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!parseManifestSerial(text, serial)) {
    error = file.string() + " is damaged (it must hold one serial in decimal, the highest this site has "
            "signed with); write that serial into it, or remove it and give the serial with --serial-floor";
    return false;
  }
  return true;
}

bool recordIssuedSerial(const SiteLayout& layout, std::uint64_t serial, std::string& error) {
  const fs::path file = layout.serialFile();
  const fs::path fresh = layout.serialTempFile();
  if (const std::error_code failure = replaceSerialFile(file, fresh, serial)) {
    error = "cannot write " + file.string() + ": " + describe(failure);
    return false;
  }
  // A rename is durable only once the directory holding it is.
  if (const std::error_code syncing = platform::syncDirectory(layout.site)) {
    error = "cannot flush " + layout.site.string() + ": " + describe(syncing);
    return false;
  }
  return true;
}

}  // namespace publish
