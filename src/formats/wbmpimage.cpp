#include "formats/wbmpimage.h"

#include <cstring>

#include "imaging/colorreduction.h"
#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"
#include "support/streams.h"

namespace glyphmill {

namespace {

// A multi-byte integer: seven bits a byte, most significant first, the high bit set on every byte
// but the last (0x81 0x48 is 200). Five bytes hold any 32-bit value; more cannot be a picture size.
uint32_t ReadMultiByte(TByteReader& reader) {
  uint64_t value = 0;
  for (int i = 0; i < 5; ++i) {
    const uint8_t byte = reader.U8();
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
  }
  throw EReadError("Invalid file header");
}

}  // namespace

void TWapBitmap::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadFileBytes(fileName)); }

void TWapBitmap::LoadFromBytes(std::span<const uint8_t> bytes) {
  TByteReader reader(bytes, "Stream read error");
  const uint8_t type = reader.U8();
  const uint8_t fixedHeader = reader.U8();
  if (type != 0 || fixedHeader != 0) throw EReadError("Invalid file header");
  const uint32_t width = ReadMultiByte(reader);
  const uint32_t height = ReadMultiByte(reader);
  CheckPictureSize(width, height);
  const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
  const std::span<const uint8_t> pixels = reader.Take(CheckedMul(rowBytes, height));

  TBitmap bitmap;
  bitmap.SetPixelFormat(pf1bit);
  bitmap.SetPalette(StandardPalette2());
  bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
  for (uint32_t y = 0; y < height && rowBytes > 0; ++y)
    std::memcpy(bitmap.ScanLine(static_cast<int>(y)), pixels.data() + y * rowBytes, rowBytes);
  FBitmap = std::move(bitmap);
}

std::unique_ptr<TGraphic> LoadWbmpGraphic(std::span<const uint8_t> bytes) {
  TWapBitmap image;
  image.LoadFromBytes(bytes);
  return std::make_unique<TBitmapGraphic>(std::move(image.Bitmap()));
}

}  // namespace glyphmill
