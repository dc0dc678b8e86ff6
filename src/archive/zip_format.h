// Record layouts of the zip format: signatures, fixed sizes, flag bits and
// little-endian field access. Shared by the reader and the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvex::zip {

inline constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
inline constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
inline constexpr std::uint32_t kEndSig = 0x06054b50;
inline constexpr std::uint32_t kZip64EndSig = 0x06064b50;
inline constexpr std::uint32_t kZip64LocatorSig = 0x07064b50;
inline constexpr std::uint32_t kDataDescriptorSig = 0x08074b50;

inline constexpr std::size_t kLocalHeaderSize = 30;
inline constexpr std::size_t kCentralHeaderSize = 46;
inline constexpr std::size_t kEndSize = 22;
inline constexpr std::size_t kZip64EndSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr std::size_t kMaxCommentSize = 0xFFFF;

inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kMethodAes = 99;

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;
inline constexpr std::uint16_t kFlagMaskedDirectory = 0x2000;

inline constexpr std::uint16_t kZip64ExtraId = 0x0001;

inline constexpr std::uint16_t kVersionDeflate = 20;
inline constexpr std::uint16_t kVersionZip64 = 45;
inline constexpr std::uint16_t kHostDos = 0;
inline constexpr std::uint16_t kHostUnix = 3;
inline constexpr std::uint16_t kHostMacOsX = 19;

inline constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
inline constexpr std::uint16_t kMax16 = 0xFFFF;

// Deflate cannot expand data by more than this factor; a member that
// declares more is lying about its sizes.
inline constexpr std::uint64_t kMaxDeflateRatio = 1032;

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Get64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

// Appends little-endian fields to a record under construction.
class RecordBuilder {
 public:
  explicit RecordBuilder(std::vector<std::uint8_t>& out) : out_(out) {}
  RecordBuilder& U16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  RecordBuilder& U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    return U16(static_cast<std::uint16_t>(v >> 16));
  }
  RecordBuilder& U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v));
    return U32(static_cast<std::uint32_t>(v >> 32));
  }
  RecordBuilder& Bytes(const std::vector<std::uint8_t>& bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return *this;
  }

 private:
  std::vector<std::uint8_t>& out_;
};

}  // namespace tolvex::zip
