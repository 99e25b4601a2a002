#pragma once

#include <string>
#include <string_view>

// How Windows reads the names of a manifest, judged on their UTF-8 text alone: a release is
// built anywhere, but installed on Windows, where a name that Windows refuses, shortens or
// folds onto another can never be written as the manifest says.
namespace names {

// Whether the text holds a character that Windows refuses in any name besides '\', ':' and
// NUL: < > " | ? * and the control characters 0x01-0x1F.
bool hasCharacterWindowsRefuses(std::string_view text);

// Whether the element ends in a dot or a blank, which Windows drops ("Kestrun.exe." opens
// "Kestrun.exe").
bool endsInDotOrBlank(std::string_view element);

// Appends the element to `key` the way Windows compares names: trailing dots and blanks
// dropped, every invalid UTF-8 sequence (a run of them counts as one) read as U+FFFD, and
// each character of the Basic Multilingual Plane in its simple Unicode capital, as the file
// system's up-case table folds it (characters beyond U+FFFF stay as they are). Two elements
// name one file on Windows when their keys are equal.
void appendComparedName(std::string& key, std::string_view element);

// Whether the element is valid UTF-8 throughout.
bool isUtf8(std::string_view text);

// Whether the element has the form of a short (8.3) name that Windows could have given to
// `longName` ("UPDATE~1.LOC", "UP3F2A~1.LOC" for update.lock). `longName` may end in '*' (a
// name pattern): its end and extension are then open. ASCII letter case is ignored.
bool mayBeShortNameOf(std::string_view element, std::string_view longName);

// The text as it may be written to a log line or shown: control characters, DEL and bytes
// that are not UTF-8 as \xNN, so that a name can neither end a line nor forge one.
std::string printableName(std::string_view text);

}  // namespace names
