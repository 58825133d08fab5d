#include "support/byte_reader.h"

#include "support/errors.h"

namespace glyphmill {

void TByteReader::Fail() const { throw EReadError(FError); }

void TByteReader::Need(size_t count) const {
  if (count > Remaining()) Fail();
}

void TByteReader::Seek(size_t offset) {
  if (offset > FBytes.size()) Fail();
  FOffset = offset;
}

void TByteReader::Skip(size_t count) {
  Need(count);
  FOffset += count;
}

uint8_t TByteReader::U8() {
  Need(1);
  return FBytes[FOffset++];
}

uint16_t TByteReader::U16LE() {
  Need(2);
  const uint16_t value = LoadU16LE(FBytes.data() + FOffset);
  FOffset += 2;
  return value;
}

uint32_t TByteReader::U32LE() {
  Need(4);
  const uint32_t value = LoadU32LE(FBytes.data() + FOffset);
  FOffset += 4;
  return value;
}

uint64_t TByteReader::U64LE() {
  const uint64_t low = U32LE();
  const uint64_t high = U32LE();
  return low | (high << 32);
}

uint16_t TByteReader::U16BE() {
  Need(2);
  const uint16_t value = LoadU16BE(FBytes.data() + FOffset);
  FOffset += 2;
  return value;
}

uint32_t TByteReader::U32BE() {
  Need(4);
  const uint32_t value = LoadU32BE(FBytes.data() + FOffset);
  FOffset += 4;
  return value;
}

std::span<const uint8_t> TByteReader::Take(size_t count) {
  Need(count);
  auto view = FBytes.subspan(FOffset, count);
  FOffset += count;
  return view;
}

std::span<const uint8_t> TByteReader::Slice(size_t offset, size_t length) const {
  if (!Contains(offset, length)) Fail();
  return FBytes.subspan(offset, length);
}

TByteReader TByteReader::Sub(size_t offset, size_t length) const { return TByteReader(Slice(offset, length), FError); }

}  // namespace glyphmill
