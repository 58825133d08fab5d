// A checked cursor over a bounded byte view: every read is tested against the end of the view,
// so a reader of hostile files can never read outside its buffer.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace glyphmill {

class TByteReader {
public:
  // Reads past the end throw EReadError(errorMessage).
  explicit TByteReader(std::span<const uint8_t> bytes, std::string errorMessage = "Unexpected end of data")
      : FBytes(bytes), FError(std::move(errorMessage)) {}

  size_t Size() const { return FBytes.size(); }
  size_t Offset() const { return FOffset; }
  size_t Remaining() const { return FBytes.size() - FOffset; }
  bool AtEnd() const { return FOffset >= FBytes.size(); }
  std::span<const uint8_t> Bytes() const { return FBytes; }
  const std::string& ErrorMessage() const { return FError; }

  // True when [offset, offset + length) lies inside the view.
  bool Contains(size_t offset, size_t length) const {
    return offset <= FBytes.size() && length <= FBytes.size() - offset;
  }

  void Seek(size_t offset);
  void Skip(size_t count);

  uint8_t U8();
  uint16_t U16LE();
  uint32_t U32LE();
  int16_t I16LE() { return static_cast<int16_t>(U16LE()); }
  int32_t I32LE() { return static_cast<int32_t>(U32LE()); }
  uint64_t U64LE();
  uint16_t U16BE();
  uint32_t U32BE();
  int16_t I16BE() { return static_cast<int16_t>(U16BE()); }
  int32_t I32BE() { return static_cast<int32_t>(U32BE()); }

  // The next count bytes as a view (the cursor moves past them).
  std::span<const uint8_t> Take(size_t count);
  // A view of [offset, offset + length) without moving the cursor.
  std::span<const uint8_t> Slice(size_t offset, size_t length) const;
  // A reader over [offset, offset + length) with the same error message.
  TByteReader Sub(size_t offset, size_t length) const;

  [[noreturn]] void Fail() const;

private:
  void Need(size_t count) const;

  std::span<const uint8_t> FBytes;
  size_t FOffset = 0;
  std::string FError;
};

// Unchecked little/big-endian loads from a pointer the caller has already bounds-checked.
inline uint16_t LoadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t LoadU16BE(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadU32BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void StoreU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace glyphmill
