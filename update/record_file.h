#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The small text records the launcher keeps for itself in the installation directory: one
// item a line, its fields separated by tabs. Only the launcher writes them, always as plain
// files, so a record is read without following a link and anything else there counts as no
// record; a line that is not what its reader expects is skipped by that reader. A wrong record
// may cost time, never a wrong file: what it says is checked before it is used.

// The lines of the record at `file`, each split at its tabs; none when the file is missing, is
// not a plain file or cannot be read.
std::vector<std::vector<std::string>> readRecordLines(const std::filesystem::path& file);

// Replaces the record with `lines` (fields joined by tabs) through a rename, so an interrupted
// write leaves the old record or the new one. No lines: the record is removed. False with
// errorText when the record cannot be written.
bool writeRecordLines(const std::filesystem::path& file, const std::vector<std::vector<std::string>>& lines,
                      std::string& errorText);

// Whether `text` can be a field: no tab and no line end.
bool isRecordField(const std::string& text);
