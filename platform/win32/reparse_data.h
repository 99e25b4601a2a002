#pragma once

#include <windows.h>

#include <cstddef>

namespace platform::win32 {

// The reparse data that FSCTL_GET_REPARSE_POINT returns and FSCTL_SET_REPARSE_POINT takes.
// The SDK declares it only in the driver kit headers, so it is spelled out here.
struct ReparseDataBuffer {
  ULONG ReparseTag;
  USHORT ReparseDataLength;
  USHORT Reserved;
  union {
    struct {
      USHORT SubstituteNameOffset;
      USHORT SubstituteNameLength;
      USHORT PrintNameOffset;
      USHORT PrintNameLength;
      ULONG Flags;
      WCHAR PathBuffer[1];
    } SymbolicLinkReparseBuffer;
    struct {
      USHORT SubstituteNameOffset;
      USHORT SubstituteNameLength;
      USHORT PrintNameOffset;
      USHORT PrintNameLength;
      WCHAR PathBuffer[1];
    } MountPointReparseBuffer;
    struct {
      UCHAR DataBuffer[1];
    } GenericReparseBuffer;
  };
};

// Bytes in front of the union: tag, data length, reserved.
constexpr std::size_t kReparseHeaderSize = offsetof(ReparseDataBuffer, GenericReparseBuffer);

}  // namespace platform::win32
