#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "names/installation_layout.h"

// The highest manifest serial this installation has accepted: the rollback protection of
// signed manifests. It lives in one small file of the installation directory
// (kAcceptedSerialFileName), holding the serial in decimal and a line end.

// 0 when the file does not exist (nothing accepted yet). False with an error text when it
// exists but cannot be read or holds anything but a serial: the protection is never dropped
// silently.
bool readAcceptedSerial(const std::filesystem::path& installDir, std::uint64_t& serial, std::string& errorText);

// Replaces the file through a rename, so an interrupted write leaves the old value or the new
// one, never a mix. False with an error text when the file cannot be written.
bool writeAcceptedSerial(const std::filesystem::path& installDir, std::uint64_t serial, std::string& errorText);

// What a serial record (the serial in decimal and a line end) was found to be.
enum class SerialRecord { Missing, Serial, Unreadable, Damaged };

// Reads the record at `file` without following a link: only its owner's tools write it, and
// always as a plain file, so anything else there counts as damaged. `error` tells why an
// unreadable record could not be read, when the system said.
SerialRecord readSerialFile(const std::filesystem::path& file, std::uint64_t& serial, std::error_code& error);

// Writes a serial record to `fresh`, flushes it to the disk, renames it over `file` and
// flushes the directory: a crash or a power cut leaves the old record or the new one, never
// an empty one, which would stop every later check or publish. `fresh` is removed again on
// failure.
std::error_code replaceSerialFile(const std::filesystem::path& file, const std::filesystem::path& fresh,
                                  std::uint64_t serial);
