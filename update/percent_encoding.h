#pragma once

#include <string>

// `text` percent-encoded by the HTTP library: A-Z a-z 0-9 - . _ ~ stay, every other byte
// becomes %XX. The text unchanged when the library cannot encode it.
std::string percentEncoded(const std::string& text);
