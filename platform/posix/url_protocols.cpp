// The launcher as the user's handler of its URL schemes on a freedesktop.org desktop: one
// desktop entry per scheme and the default choice in mimeapps.list, both under the user's
// own directories, checked at every start so that a moved launcher re-points them; only a
// file whose content changes is written.
#include "platform/posix/url_protocols.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/environment.h"
#include "platform/file_writer.h"
#include "platform/filesystem.h"
#include "platform/text.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

struct Scheme {
  const char* name;
  const char* displayText;
};

constexpr Scheme kSchemes[] = {
    {"oloma", "URL:Oloma Protocol"},
    {"vardel", "URL:Vardel Protocol"},
};

constexpr const char* kDefaultSection = "[Default Applications]";

fs::path homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return fs::path(home);
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/') {
    return fs::path(found->pw_dir);
  }
  return {};
}

// An XDG base directory: the variable when it holds an absolute path (relative ones are
// invalid and ignored), otherwise the default under the home directory.
fs::path baseDirectory(const char* variable, const char* homeRelative) {
  const char* value = std::getenv(variable);
  if (value && *value == '/') return fs::path(value);
  const fs::path home = homeDirectory();
  if (home.empty()) return {};
  return home / homeRelative;
}

// Reads a whole file. A missing file reads as empty; false when it exists but cannot be read,
// so that a file we could not see is never overwritten.
bool readExisting(const fs::path& file, std::string& content) {
  content.clear();
  ItemKind kind;
  if (queryItemKind(file, true, kind)) return false;
  if (kind == ItemKind::Missing) return true;
  if (kind != ItemKind::Regular) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return false;
  content = text.str();
  return true;
}

// Replaces `file` with `content` in one step: a reader sees the old or the new file, never a
// half-written one.
void replaceFile(const fs::path& file, const std::string& content) {
  fs::path target = file;
  ItemKind kind;
  // A linked file (dotfiles kept elsewhere) is rewritten where it really lives.
  if (!queryItemKind(file, false, kind) && kind == ItemKind::Symlink) {
    std::error_code error;
    target = fs::canonical(file, error);
    if (error) return;
  }
  fs::path temporary = target;
  temporary += ".tmp-" + std::to_string(currentProcessId());
  FileWriter writer;
  bool written = !writer.open(temporary, FileWriter::Mode::Truncate) && !writer.write(content.data(), content.size());
  written = !writer.close() && written;
  if (!written || moveReplacing(temporary, target)) removeItem(temporary);
}

// Every start registers, and nearly every start finds the registration as it was: a file that
// already holds `content` is left untouched, so such a start writes nothing and flushes
// nothing before the main program is started. `current` is the file's content as read.
void replaceChangedFile(const fs::path& file, bool currentRead, const std::string& current, const std::string& content) {
  if (currentRead && current == content) return;
  replaceFile(file, content);
}

std::string desktopId(const Scheme& scheme) { return std::string("kestrun-") + scheme.name + ".desktop"; }

std::string desktopEntry(const Scheme& scheme, const fs::path& launcherPath) {
  std::string entry;
  entry += "[Desktop Entry]\n";
  entry += "Type=Application\n";
  entry += std::string("Name=") + scheme.displayText + "\n";
  entry += "Exec=" + desktopExecArgument(launcherPath.native()) + " %u\n";
  entry += "NoDisplay=true\n";
  entry += std::string("MimeType=x-scheme-handler/") + scheme.name + ";\n";
  return entry;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

bool isSectionHeader(const std::string& line) {
  const std::string text = trimmedBlanks(line);
  return !text.empty() && text.front() == '[';
}

// The key of a "key=value" line, or empty for anything else.
std::string keyOf(const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return {};
  return trimmedBlanks(line.substr(0, equals));
}

}  // namespace

std::string desktopExecArgument(const std::string& argument) {
  // Quoting rules of the Exec key: inside double quotes, ", `, $ and \ take a backslash.
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  // Then the string escapes of the file format, which are undone first by a reader: a
  // backslash is doubled and control characters are written as escapes. A percent sign
  // would start a field code, so it is doubled as well.
  std::string written;
  for (char c : quoted) {
    switch (c) {
      case '\\': written += "\\\\"; break;
      case '\n': written += "\\n"; break;
      case '\t': written += "\\t"; break;
      case '\r': written += "\\r"; break;
      case '%': written += "%%"; break;
      default: written += c;
    }
  }
  return written;
}

std::string withDefaultApplication(const std::string& mimeApps, const std::string& mimeType,
                                   const std::string& desktopIdText) {
  std::vector<std::string> lines = linesOf(mimeApps);
  const std::string ourLine = mimeType + "=" + desktopIdText;
  std::size_t section = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (trimmedBlanks(lines[i]) == kDefaultSection) {
      section = i;
      break;
    }
  }

  if (section == lines.size()) {
    if (!lines.empty() && !trimmedBlanks(lines.back()).empty()) lines.emplace_back();
    lines.emplace_back(kDefaultSection);
    lines.push_back(ourLine);
  } else {
    std::size_t end = section + 1;
    while (end < lines.size() && !isSectionHeader(lines[end])) ++end;
    bool placed = false;
    for (std::size_t i = section + 1; i < end;) {
      if (keyOf(lines[i]) != mimeType) {
        ++i;
        continue;
      }
      if (!placed) {
        lines[i] = ourLine;
        placed = true;
        ++i;
      } else {
        // A repeated key would leave the choice to whichever reader wins; keep only ours.
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        --end;
      }
    }
    if (!placed) {
      // After the section's last entry, before the blank lines that separate it from the next.
      std::size_t at = end;
      while (at > section + 1 && trimmedBlanks(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), ourLine);
    }
  }

  return joined(lines);
}

std::string withoutDefaultApplication(const std::string& mimeApps, const std::string& mimeType,
                                      const std::string& desktopIdText) {
  std::vector<std::string> lines = linesOf(mimeApps);
  bool inDefaults = false;
  for (std::size_t i = 0; i < lines.size();) {
    if (isSectionHeader(lines[i])) inDefaults = trimmedBlanks(lines[i]) == kDefaultSection;
    const std::size_t equals = lines[i].find('=');
    const bool ours = inDefaults && equals != std::string::npos && keyOf(lines[i]) == mimeType &&
                      trimmedBlanks(lines[i].substr(equals + 1)) == desktopIdText;
    if (ours) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return joined(lines);
}

void registerUrlProtocolsFor(const fs::path& launcherPath) {
  if (launcherPath.empty()) return;
  const fs::path dataHome = baseDirectory("XDG_DATA_HOME", ".local/share");
  if (!dataHome.empty()) {
    const fs::path applications = dataHome / "applications";
    if (!createDirectories(applications)) {
      for (const Scheme& scheme : kSchemes) {
        const fs::path entryFile = applications / desktopId(scheme);
        std::string current;
        const bool currentRead = readExisting(entryFile, current);
        replaceChangedFile(entryFile, currentRead, current, desktopEntry(scheme, launcherPath));
      }
    }
  }

  const fs::path configHome = baseDirectory("XDG_CONFIG_HOME", ".config");
  if (configHome.empty() || createDirectories(configHome)) return;
  const fs::path mimeAppsFile = configHome / "mimeapps.list";
  std::string current;
  if (!readExisting(mimeAppsFile, current)) return;
  std::string mimeApps = current;
  for (const Scheme& scheme : kSchemes) {
    mimeApps = withDefaultApplication(mimeApps, std::string("x-scheme-handler/") + scheme.name, desktopId(scheme));
  }
  replaceChangedFile(mimeAppsFile, true, current, mimeApps);
}

int unregisterUrlProtocolsFor(const fs::path& launcherPath) {
  const fs::path dataHome = baseDirectory("XDG_DATA_HOME", ".local/share");
  const fs::path configHome = baseDirectory("XDG_CONFIG_HOME", ".config");
  if (launcherPath.empty() || dataHome.empty()) return 0;
  // The launcher registers the path it runs from, with every link resolved.
  std::error_code error;
  const fs::path launcher = fs::weakly_canonical(launcherPath, error);
  if (error) return 0;
  const std::string ourExec = "Exec=" + desktopExecArgument(launcher.native()) + " %u";
  int removed = 0;
  for (const Scheme& scheme : kSchemes) {
    const fs::path entryFile = dataHome / "applications" / desktopId(scheme);
    std::string entry;
    if (!readExisting(entryFile, entry)) continue;
    const std::vector<std::string> lines = linesOf(entry);
    // Another installation's launcher keeps its registration.
    if (std::find(lines.begin(), lines.end(), ourExec) == lines.end() || removeItem(entryFile)) continue;
    ++removed;
    std::string current;
    if (configHome.empty() || !readExisting(configHome / "mimeapps.list", current) || current.empty()) continue;
    replaceChangedFile(configHome / "mimeapps.list", true, current,
                       withoutDefaultApplication(current, std::string("x-scheme-handler/") + scheme.name,
                                                 desktopId(scheme)));
  }
  return removed;
}

int unregisterUrlProtocols(const fs::path& launcherPath) { return unregisterUrlProtocolsFor(launcherPath); }

void registerUrlProtocols() {
  fs::path launcherPath;
  if (!ownExecutablePath(launcherPath)) return;
  registerUrlProtocolsFor(launcherPath);
}

}  // namespace platform
