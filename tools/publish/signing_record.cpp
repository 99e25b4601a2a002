#include "tools/publish/signing_record.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "tools/publish/site_layout.h"
#include "trust/manifest_signature.h"

namespace publish {

namespace {

bool isSha256Hex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// "<serial> <sha256> <platform> <site>"; the site may hold blanks, so it comes last.
bool parseLine(const std::string& line, SigningRecord& record) {
  std::istringstream in(line);
  std::string serialText;
  std::string digest;
  std::string platform;
  SignedManifest last;
  if (!(in >> serialText >> digest >> platform) || !parseManifestSerial(serialText, last.serial) ||
      !isSha256Hex(digest) || !isPlatformName(platform) || in.get() != ' ') {
    return false;
  }
  std::string site;
  std::getline(in, site);
  if (site.empty()) return false;
  last.manifestSha256 = digest;
  record[{site, platform}] = last;
  return true;
}

}  // namespace

fs::path signingRecordFile(const fs::path& keyFile) {
  fs::path file = keyFile;
  file += ".last-signed";
  return file;
}

std::string recordedSiteName(const fs::path& site) {
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(fs::absolute(site, ec), ec);
  return (ec ? fs::absolute(site) : real).string();
}

bool readSigningRecord(const fs::path& file, SigningRecord& record, std::string& error) {
  record.clear();
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(file, ec))) return true;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot read " + file.string();
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!parseLine(line, record)) {
      error = file.string() + " is damaged (each line must hold a serial, a manifest's sha256, a platform and a "
              "site); remove it and name the release to sign with --resign --rollback-to ID";
      return false;
    }
  }
  if (in.bad()) {
    error = "cannot read " + file.string();
    return false;
  }
  return true;
}

bool writeSigningRecord(const fs::path& file, const SigningRecord& record, std::string& error) {
  std::string text;
  for (const auto& [key, last] : record) {
    text += std::to_string(last.serial) + " " + last.manifestSha256 + " " + key.second + " " + key.first + "\n";
  }
  fs::path fresh = file;
  fresh += ".new";
  platform::FileWriter writer;
  std::error_code failure = writer.open(fresh, platform::FileWriter::Mode::Truncate);
  if (!failure) failure = writer.write(text.data(), text.size());
  if (!failure) failure = writer.sync();
  if (const std::error_code closing = writer.close(); !failure) failure = closing;
  if (!failure) failure = platform::moveReplacing(fresh, file);
  if (!failure) failure = platform::syncDirectory(file.parent_path().empty() ? fs::path(".") : file.parent_path());
  if (!failure) return true;
  platform::removeItem(fresh);
  error = "cannot write " + file.string() + ": " + platform::errorCodeText(failure);
  return false;
}

}  // namespace publish
