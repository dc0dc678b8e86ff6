#include "backends/win32_paths.h"

namespace tolvex::win32 {

bool IsLinkReparseTag(std::uint32_t tag) {
  constexpr std::uint32_t kSymbolicLink = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
  constexpr std::uint32_t kMountPoint = 0xA0000003;    // IO_REPARSE_TAG_MOUNT_POINT
  return tag == 0 || tag == kSymbolicLink || tag == kMountPoint;
}

}  // namespace tolvex::win32
