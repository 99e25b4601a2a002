#pragma once

#include "platform/native_string.h"

namespace platform::win32 {

// The target text as a Windows symbolic link stores it: every "/" becomes "\"; inside the
// root name (C:, \\server, or the \\?\, \\.\ and \??\ prefixes) one for one, after it every
// run of separators becomes a single "\". Nothing else changes.
NativeString windowsLinkTarget(const NativeString& target);

}  // namespace platform::win32
