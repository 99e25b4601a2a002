#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "names/link_places.h"

// How Windows reads the names of a manifest, judged on their UTF-8 text alone: a release is
// built anywhere, but installed on Windows, where a name that Windows refuses, shortens or
// folds onto another can never be written as the manifest says.
namespace names {

// Whether the text holds a character that Windows refuses in a name: < > " | ? * \ : and the
// control characters 0x00-0x1F ('/' separates the elements of a manifest path).
bool hasCharacterWindowsRefuses(std::string_view text);

// Whether the element ends in a dot or a blank, which Windows drops ("Kestrun.exe." opens
// "Kestrun.exe").
bool endsInDotOrBlank(std::string_view element);

// Windows opens a device instead of a file for these names (CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM0-COM9 and LPT0-LPT9, the digit also a superscript one, two or three), with any
// extension and ASCII letter case.
bool isReservedDeviceName(std::string_view element);

// What Windows would make of the elements of a '/'-separated path besides the characters it
// refuses: an element ending in a dot or blank, or one of the form of a short name of
// `topNames` (as the first element) or of `anyNames` (anywhere; names or patterns ending in
// '*'). The first problem in the path's order, or None.
enum class ElementProblem { None, DotOrBlankAtEnd, ShortName };
ElementProblem findElementProblem(std::string_view path, const std::vector<std::string>& topNames,
                                  const std::vector<std::string>& anyNames);

// Appends the element to `key` the way Windows compares names: trailing dots and blanks
// dropped, every invalid UTF-8 sequence (a run of them counts as one) read as U+FFFD, and
// each character of the Basic Multilingual Plane in its simple Unicode capital, as the file
// system's up-case table folds it (characters beyond U+FFFF stay as they are). Two elements
// name one file on Windows when their keys are equal.
void appendComparedName(std::string& key, std::string_view element);

// The key of a '/'-separated path: appendComparedName of each non-empty element, each
// followed by '/'. Two paths name one item on Windows when their keys are equal.
std::string comparedPathKey(std::string_view path);
// The same, appended to `key`, which a caller may reuse from path to path.
void appendComparedPathKey(std::string& key, std::string_view path);

// Whether a link target, read from the directory of the link at `linkPath` ('/' and '\'
// separating), passes through one of the `links` before
// its last element: read as text it may stay inside while the link it passes through leads
// elsewhere ("y/../x" with "y" a link to ".."). A target that climbs above the top counts as
// passing through. The last element may be a link: that link's own target is judged alone.
bool passesThroughLink(std::string_view linkPath, std::string_view target, const LinkPlaces& links);

// Whether the element is valid UTF-8 throughout.
bool isUtf8(std::string_view text);

// The longest name Windows writes, in UTF-16 units (NTFS and the other file systems it writes).
inline constexpr std::size_t kMaxNameUnits = 255;
// The text's length in UTF-16 units: two for a character beyond U+FFFF, one for any other and
// for each run of bytes that are not UTF-8 (read as U+FFFD; Windows may make more of a run, so
// a name is never refused that Windows would write).
std::size_t utf16Length(std::string_view text);

// Whether the element has the form of a short (8.3) name that Windows could have given to
// `longName` ("UPDATE~1.LOC", "UP3F2A~1.LOC" for update.lock). `longName` may end in '*' (a
// name pattern): its end and extension are then open. ASCII letter case is ignored.
bool mayBeShortNameOf(std::string_view element, std::string_view longName);

// The text as it may be written to a log line or shown: control characters (C0 and C1), DEL,
// U+2028, U+2029 and bytes that are not UTF-8 as \xNN, so that a name can neither end a line
// nor forge one.
std::string printableName(std::string_view text);

}  // namespace names
