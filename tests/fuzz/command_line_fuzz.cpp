// The command line of the started program against CommandLineToArgvW's way of splitting it,
// written out here so that it runs on every platform. Input bytes are characters; a zero byte
// ends an argument. An argument in which no backslash stands before a double quote or at its
// end comes back unchanged; other backslashes are forwarded as they are, on purpose, so for
// those only the program name is checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/command_line.h"

namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::vector<std::wstring> splitLikeWindows(const std::wstring& line) {
  std::vector<std::wstring> words(1);
  std::size_t i = 0;
  // The program name ends at the next quote when it begins with one, else at a blank; no escapes.
  if (i < line.size() && line[i] == L'"') {
    for (++i; i < line.size() && line[i] != L'"'; ++i) words[0] += line[i];
    if (i < line.size()) ++i;
  } else {
    for (; i < line.size() && !isBlank(line[i]); ++i) words[0] += line[i];
  }
  bool quoted = false;
  bool inWord = false;
  while (i < line.size()) {
    if (isBlank(line[i]) && !quoted) {
      inWord = false;
      ++i;
      continue;
    }
    if (!inWord) words.emplace_back();
    inWord = true;
    std::wstring& word = words.back();
    if (line[i] == L'\\') {
      // 2n backslashes before a quote give n and leave the quote to delimit; 2n+1 give n and a
      // literal quote; backslashes before anything else are literal.
      std::size_t count = 0;
      for (; i < line.size() && line[i] == L'\\'; ++i) ++count;
      const bool beforeQuote = i < line.size() && line[i] == L'"';
      word.append(beforeQuote ? count / 2 : count, L'\\');
      if (beforeQuote && count % 2 == 1) word += line[i++];
    } else if (line[i] == L'"') {
      ++i;
      // Inside quotes, a doubled quote is one literal quote.
      if (quoted && i < line.size() && line[i] == L'"') word += line[i++];
      else quoted = !quoted;
    } else {
      word += line[i++];
    }
  }
  return words;
}

bool survivesQuoting(const std::wstring& argument) {
  for (std::size_t i = 0; i < argument.size(); ++i)
    if (argument[i] == L'\\' && (i + 1 == argument.size() || argument[i + 1] == L'"')) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring program = L"C:\\Program Files\\Fennick\\Vardel.exe";
  std::vector<std::wstring> words{program};
  if (size > 0) words.emplace_back();
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) words.emplace_back();
    else words.back() += static_cast<wchar_t>(data[i]);
  }
  const std::vector<std::wstring> arguments(words.begin() + 1, words.end());
  const std::vector<std::wstring> split = splitLikeWindows(platform::buildCommandLine(program, arguments));
  if (split.empty() || split[0] != program) std::abort();
  bool allSurvive = true;
  for (const std::wstring& argument : arguments) allSurvive = allSurvive && survivesQuoting(argument);
  if (allSurvive && split != words) std::abort();
  return 0;
}
