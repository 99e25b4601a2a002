#pragma once

#include <string>

// The HTTP library's process-wide state, set up once before the first transfer and torn
// down after the last one. Kept behind this header so that only the update module sees curl.

// False with the library's text when the global set-up fails.
bool initHttpLibrary(std::string& errorText);
void cleanupHttpLibrary();
