#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// The small text records the launcher keeps for itself in the installation directory: one
// item a line, its fields separated by tabs. Only the launcher writes them, always as plain
// files, so a record is read without following a link and anything else there counts as no
// record; a line that is not what its reader expects is skipped by that reader. A wrong record
// may cost time, never a wrong file: what it says is checked before it is used.

// The largest record read: far above what a release of a million files needs, and a bound on
// what a planted file can cost.
inline constexpr std::size_t kRecordLimitBytes = 256u << 20;

// The whole record at `file`, opened without following a link; false when it is missing, is
// not a plain file, cannot be read or holds more than `limit` bytes (said in the log, and then
// treated as absent).
bool readRecordText(const std::filesystem::path& file, std::size_t limit, std::string& text);

// The lines of the record at `file`, each split at its tabs; none when readRecordText finds none.
std::vector<std::vector<std::string>> readRecordLines(const std::filesystem::path& file);
// The same, false when readRecordText finds none, for a reader that must tell an empty record
// from one it could not read.
bool readRecordLines(const std::filesystem::path& file, std::vector<std::vector<std::string>>& lines);

// Replaces the record with `lines` (fields joined by tabs) through a rename, so an interrupted
// write leaves the old record or the new one. No lines: the record is removed. False with
// errorText when the record cannot be written.
bool writeRecordLines(const std::filesystem::path& file, const std::vector<std::vector<std::string>>& lines,
                      std::string& errorText);

// Whether `text` can be a field: no tab and no line end.
bool isRecordField(const std::string& text);
