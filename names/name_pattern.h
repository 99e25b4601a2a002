#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace names {

// Whether a file name matches a pattern: ASCII letters compare without case, every other byte
// exactly; a '*' at the end of the pattern matches any rest (also none), anywhere else it is an
// ordinary character. "*" matches every name; an empty pattern only the empty name.
bool matchesNamePattern(std::string_view name, std::string_view pattern);

// Whether the name matches any of the patterns.
bool matchesAnyNamePattern(std::string_view name, const std::vector<std::string>& patterns);

// The part of a '/'-separated path after its last '/', or the whole path when it has none: a
// view into `path`, which must outlive it.
std::string_view baseNameOf(std::string_view path);

}  // namespace names
