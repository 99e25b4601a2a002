#include "names/windows_names.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "names/ascii_case.h"

namespace names {

namespace {

struct UpperCaseRun {
  std::uint16_t first;
  std::uint16_t last;
  std::int32_t distance;
  std::uint16_t step;
};

constexpr UpperCaseRun kUpperCaseRuns[] = {
#include "names/upper_case_table.inc"
};

char32_t upperCaseOf(char32_t code) {
  if (code > 0xFFFF) return code;
  const auto after = std::upper_bound(std::begin(kUpperCaseRuns), std::end(kUpperCaseRuns), code,
                                      [](char32_t value, const UpperCaseRun& run) { return value < run.first; });
  if (after == std::begin(kUpperCaseRuns)) return code;
  const UpperCaseRun& run = *std::prev(after);
  if (code > run.last || (code - run.first) % run.step != 0) return code;
  return static_cast<char32_t>(static_cast<std::int32_t>(code) + run.distance);
}

// The code point of the UTF-8 sequence at `at` and its length; false for a byte that does not
// begin a complete, shortest, non-surrogate sequence.
bool decodeAt(std::string_view text, std::size_t at, char32_t& code, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) {
    code = lead;
    length = 1;
    return true;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return false;
  }
  if (at + length > text.size()) return false;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return false;
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  return code >= kSmallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

void appendUtf8(std::string& text, char32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | (code >> 6));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | (code >> 12));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code >> 18));
    text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The letters Windows keeps of a long name for its short one: capitals, without blanks and
// dots, any other byte outside ASCII as '_'.
std::string shortNameLetters(std::string_view name) {
  std::string letters;
  for (const char c : name) {
    if (c == ' ' || c == '.') continue;
    letters += static_cast<unsigned char>(c) >= 0x80 ? '_' : upperAscii(c);
  }
  return letters;
}

}  // namespace

bool isReservedDeviceName(std::string_view element) {
  // Each of them begins with one of these letters: most names are passed without a copy.
  if (element.empty() || std::string("aclnpACLNP").find(element[0]) == std::string::npos) return false;
  std::string stem = lowerAscii(std::string(element.substr(0, element.find('.'))));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" || stem == "conout$")
    return true;
  if (stem.compare(0, 3, "com") != 0 && stem.compare(0, 3, "lpt") != 0) return false;
  const std::string digit = stem.substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
         digit == "\xC2\xB3";
}

ElementProblem findElementProblem(std::string_view path, const std::vector<std::string>& topNames,
                                  const std::vector<std::string>& anyNames) {
  const bool mayBeShort = path.find('~') != std::string_view::npos;
  for (std::size_t start = 0, index = 0; start <= path.size(); ++index) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view element = path.substr(start, slash - start);
    start = slash + 1;
    if (endsInDotOrBlank(element)) return ElementProblem::DotOrBlankAtEnd;
    if (!mayBeShort) continue;
    const auto aliases = [element](const std::string& name) { return mayBeShortNameOf(element, name); };
    if (std::any_of(anyNames.begin(), anyNames.end(), aliases) ||
        (index == 0 && std::any_of(topNames.begin(), topNames.end(), aliases))) {
      return ElementProblem::ShortName;
    }
  }
  return ElementProblem::None;
}

bool hasCharacterWindowsRefuses(std::string_view text) {
  // One look-up a byte: the check asks this of every path of a large manifest.
  static const auto kRefused = [] {
    std::array<bool, 256> refused{};
    for (int c = 0; c < 0x20; ++c) refused[c] = true;
    for (const unsigned char c : std::string_view("<>\"|?*\\:")) refused[c] = true;
    return refused;
  }();
  return std::any_of(text.begin(), text.end(), [](char c) { return kRefused[static_cast<unsigned char>(c)]; });
}

bool endsInDotOrBlank(std::string_view element) {
  return !element.empty() && (element.back() == '.' || element.back() == ' ');
}

void appendComparedName(std::string& key, std::string_view element) {
  while (endsInDotOrBlank(element)) element.remove_suffix(1);
  bool afterReplacement = false;
  for (std::size_t at = 0; at < element.size();) {
    const char c = element[at];
    if (static_cast<unsigned char>(c) < 0x80) {  // most names are ASCII: no table look-up
      key += upperAscii(c);
      afterReplacement = false;
      ++at;
      continue;
    }
    char32_t code = 0xFFFD;
    std::size_t length = 1;
    if (decodeAt(element, at, code, length)) {
      code = upperCaseOf(code);
    } else {
      code = 0xFFFD;  // this byte alone: the next may begin a valid sequence
      length = 1;
    }
    at += length;
    // "a\xFF", "a\xFE\xFF" and "a\xEF\xBF\xBD" may all end up as one name on Windows.
    if (code == 0xFFFD && afterReplacement) continue;
    afterReplacement = code == 0xFFFD;
    appendUtf8(key, code);
  }
}

std::string comparedPathKey(std::string_view path) {
  std::string key;
  appendComparedPathKey(key, path);
  return key;
}

void appendComparedPathKey(std::string& key, std::string_view path) {
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    if (slash > start) {
      appendComparedName(key, path.substr(start, slash - start));
      key += '/';
    }
    start = slash + 1;
  }
}

bool passesThroughLink(std::string_view linkPath, std::string_view target, const LinkPlaces& links) {
  const std::size_t lastSlash = linkPath.rfind('/');
  std::string place = comparedPathKey(linkPath.substr(0, lastSlash == std::string_view::npos ? 0 : lastSlash));
  // The hash of `place` after each of its elements, so that ".." takes one back in a step.
  std::vector<std::uint64_t> hashes = {RunningHash().value()};
  for (std::size_t start = 0, end = place.find('/'); end != std::string::npos; start = end + 1, end = place.find('/', start)) {
    RunningHash hash(hashes.back());
    hash.add(std::string_view(place).substr(start, end + 1 - start));
    hashes.push_back(hash.value());
  }
  std::vector<std::string_view> elements;
  for (std::size_t start = 0; start <= target.size();) {
    const std::size_t slash = std::min(target.find_first_of("/\\", start), target.size());
    const std::string_view element = target.substr(start, slash - start);
    if (!element.empty() && element != ".") elements.push_back(element);
    start = slash + 1;
  }
  for (std::size_t index = 0; index + 1 < elements.size(); ++index) {
    if (elements[index] == "..") {
      if (place.empty()) return true;
      place.pop_back();
      const std::size_t previous = place.rfind('/');
      place.erase(previous == std::string::npos ? 0 : previous + 1);
      hashes.pop_back();
      continue;
    }
    const std::size_t from = place.size();
    appendComparedName(place, elements[index]);
    place += '/';
    RunningHash hash(hashes.back());
    hash.add(std::string_view(place).substr(from));
    hashes.push_back(hash.value());
    if (links.contains(place, hashes.back())) return true;
  }
  return false;
}

bool isUtf8(std::string_view text) {
  char32_t code = 0;
  std::size_t length = 0;
  for (std::size_t at = 0; at < text.size(); at += length) {
    if (!decodeAt(text, at, code, length)) return false;
  }
  return true;
}

std::size_t utf16Length(std::string_view text) {
  std::size_t units = 0;
  char32_t code = 0;
  std::size_t length = 0;
  bool afterInvalid = false;
  for (std::size_t at = 0; at < text.size(); at += length) {
    const bool valid = decodeAt(text, at, code, length);
    if (!valid) length = 1;
    // A run of invalid bytes counts once, as in comparedName: never more than Windows makes of it.
    if (valid || !afterInvalid) units += length == 4 ? 2 : 1;
    afterInvalid = !valid;
  }
  return units;
}

bool mayBeShortNameOf(std::string_view element, std::string_view longName) {
  // NAME~N.EXT: at most eight characters before the dot, three after it, digits after '~'.
  const std::size_t tilde = element.find('~');
  if (tilde == std::string_view::npos || tilde == 0) return false;
  const std::size_t dot = element.find('.');
  if (dot != std::string_view::npos && dot < tilde) return false;
  const std::string_view stem = element.substr(0, dot);
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : element.substr(dot + 1);
  if (stem.size() > 8 || extension.size() > 3 || extension.find('.') != std::string_view::npos) return false;
  const std::string_view digits = stem.substr(tilde + 1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return false;
  const std::string prefix = shortNameLetters(stem.substr(0, tilde));

  const bool open = !longName.empty() && longName.back() == '*';
  if (open) longName.remove_suffix(1);
  const std::size_t lastDot = open ? std::string_view::npos : longName.rfind('.');
  const std::string letters = shortNameLetters(longName.substr(0, lastDot));
  if (!open) {
    const std::string_view longExtension =
        lastDot == std::string_view::npos ? std::string_view() : longName.substr(lastDot + 1);
    if (shortNameLetters(extension) != shortNameLetters(longExtension).substr(0, 3)) return false;
  }
  // Windows keeps the name's first letters, `count` of them or all when it has fewer: six
  // before "~1" (fewer before a longer number), or two before four hexadecimal digits of a
  // hash when those are taken.
  const auto keeps = [&](std::string_view start, std::size_t count) {
    if (start.empty() || start.size() > count) return false;
    if (!open) return start == std::string_view(letters).substr(0, count);
    // The pattern's letters are only the start of the name's.
    return letters.size() >= count ? start == std::string_view(letters).substr(0, count) : startsWith(start, letters);
  };
  if (keeps(prefix, std::min<std::size_t>(6, 7 - digits.size()))) return true;
  return prefix.size() > 4 && prefix.size() <= 6 &&
         prefix.find_first_not_of("0123456789ABCDEF", prefix.size() - 4) == std::string::npos &&
         keeps(std::string_view(prefix).substr(0, prefix.size() - 4), 2);
}

std::string printableName(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string printable;
  printable.reserve(text.size());
  char32_t code = 0;
  std::size_t length = 1;
  for (std::size_t at = 0; at < text.size(); at += length) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (!decodeAt(text, at, code, length)) length = 1;
    // C1 controls (NEL among them) and the line and paragraph separators end a line in some
    // viewers: escaped byte by byte like the C0 controls.
    const bool breaksLine = length == 1 ? byte < 0x20 || byte == 0x7F || byte >= 0x80
                                        : (code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029;
    if (!breaksLine) {
      printable.append(text.substr(at, length));
      continue;
    }
    for (std::size_t i = at; i < at + length; ++i) {
      const auto escaped = static_cast<unsigned char>(text[i]);
      printable += "\\x";
      printable += kHex[escaped >> 4];
      printable += kHex[escaped & 0x0F];
    }
  }
  return printable;
}

}  // namespace names
