#include "update/rollout_cohort.h"

#include <cstdint>

#include "names/installation_layout.h"
#include "platform/environment.h"
#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "trust/sha256_hex.h"
#include "update/record_file.h"

namespace {

constexpr std::size_t kIdentifierBytes = 16;
// The identifier, the computer's name and the directory's identity (a path of at most 32767
// units) fit many times over.
constexpr std::size_t kIdentifierRecordLimitBytes = 256u << 10;

bool isIdentifier(const std::string& text) {
  return text.size() == 2 * kIdentifierBytes && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The identifier recorded for this computer and directory, or empty.
std::string recordedIdentifier(const std::filesystem::path& file, const std::string& expectedRest) {
  std::string text;
  if (!readRecordText(file, kIdentifierRecordLimitBytes, text)) return {};
  const std::size_t lineEnd = text.find('\n');
  if (lineEnd == std::string::npos || text.compare(lineEnd + 1, std::string::npos, expectedRest) != 0) return {};
  const std::string identifier = text.substr(0, lineEnd);
  return isIdentifier(identifier) ? identifier : std::string();
}

std::string drawIdentifier(std::error_code& error) {
  unsigned char bytes[kIdentifierBytes];
  if ((error = platform::systemRandomBytes(bytes, sizeof bytes))) return {};
  static const char kDigits[] = "0123456789abcdef";
  std::string identifier;
  for (unsigned char byte : bytes) {
    identifier += kDigits[byte >> 4];
    identifier += kDigits[byte & 15];
  }
  return identifier;
}

// Written to a fresh file and renamed over the old one, so a cut-off write never leaves half
// an identifier (which would reshuffle this installation's cohorts).
std::error_code keepIdentifier(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::path fresh = file;
  fresh += kFreshRecordSuffix;
  platform::removeItem(fresh);
  platform::FileWriter writer;
  std::error_code error = writer.open(fresh, platform::FileWriter::Mode::Truncate);
  if (!error) error = writer.write(text.data(), text.size());
  if (!error) error = writer.sync();
  if (const std::error_code closing = writer.close(); !error) error = closing;
  // A link or a directory planted at the name is removed, never written through.
  platform::ItemKind kind = platform::ItemKind::Missing;
  if (!error && !platform::queryItemKind(file, false, kind) && kind != platform::ItemKind::Regular &&
      kind != platform::ItemKind::Missing) {
    error = platform::removeTree(file);
  }
  if (!error) error = platform::moveReplacing(fresh, file);
  if (error) platform::removeItem(fresh);
  return error;
}

}  // namespace

bool inRolloutCohort(const std::string& salt, const std::string& identifier, double share) {
  if (!(share > 0)) return false;
  const std::string digest = sha256Hex(salt + ":" + identifier);
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    const char c = digest[i];
    value = value << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
  }
  // 53 bits make a double in [0, 1) exactly, so that 100 % holds every installation.
  const double fraction = static_cast<double>(value >> 11) / 9007199254740992.0;
  return fraction < share / 100.0;
}

bool installationIdentifier(const std::filesystem::path& installDir, std::string& identifier,
                            std::string& errorText) {
  const std::filesystem::path file = installDir / kInstallationIdFileName;
  // The directory as the system resolves it: another spelling of the same installation (letter
  // case, a short name, a mapped drive or its UNC path, a link) is not a move.
  const std::string rest = platform::computerName() + "\n" + platform::directoryIdentityText(installDir);
  identifier = recordedIdentifier(file, rest);
  if (!identifier.empty()) return true;
  std::error_code error;
  identifier = drawIdentifier(error);
  if (!error) error = keepIdentifier(file, identifier + "\n" + rest);
  if (!error) return true;
  identifier.clear();
  errorText = "无法保存安装标识：" + platform::pathToUtf8(file) + "（" + platform::errorCodeText(error) + "）";
  return false;
}
