#include "imaging/bitmapfix32.h"

#include <algorithm>

#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;

// The header fields the surplus repair looks at, read straight from the stream.
struct TRepairHeader {
  uint32_t PixelOffset = 0;
  uint32_t HeaderSize = 0;
  int64_t Width = 0;
  int64_t Height = 0;
  int Bits = 0;
  uint32_t Compression = BI_RGB;
  uint32_t ImageSize = 0;
  uint32_t ColorsUsed = 0;
};

bool ReadExactly(TStream& stream, uint8_t* buffer, int64_t count) { return stream.Read(buffer, count) == count; }

uint32_t Field32(const std::vector<uint8_t>& bytes, size_t offset) {
  return offset + 4 <= bytes.size() ? LoadU32LE(&bytes[offset]) : 0;
}

// Every alpha byte 0 means the file carries no alpha at all, not a fully transparent picture.
void OpaqueWhenAlphaEmpty(TBitmap& bitmap) {
  if (bitmap.PixelFormat() != pf32bit || bitmap.Empty()) return;
  uint8_t* bits = bitmap.Bits();
  const size_t size = bitmap.BitsSize();
  for (size_t i = 3; i < size; i += 4)
    if (bits[i] != 0) return;
  for (size_t i = 3; i < size; i += 4) bits[i] = 255;
}

}  // namespace

void TBitmapFix32::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  const int64_t streamSize = stream.Size();
  uint8_t fileHeader[18];
  if (!ReadExactly(stream, fileHeader, sizeof fileHeader) || fileHeader[0] != 'B' || fileHeader[1] != 'M')
    throw EReadError("Bitmap image is not valid");
  TRepairHeader header;
  header.PixelOffset = LoadU32LE(fileHeader + 10);
  header.HeaderSize = LoadU32LE(fileHeader + 14);
  const bool core = header.HeaderSize == 12;
  int64_t bytesLeft = 0;
  bool readable = true;
  if (core) {
    uint8_t fields[8];
    readable = ReadExactly(stream, fields, sizeof fields);
    header.Width = LoadU16LE(fields);
    header.Height = LoadU16LE(fields + 2);
    header.Bits = LoadU16LE(fields + 6);
    bytesLeft = streamSize - start - 26;
  } else if (header.HeaderSize >= 16 &&
             header.HeaderSize <= static_cast<uint64_t>(streamSize - stream.Position()) + 4) {
    std::vector<uint8_t> fields(header.HeaderSize - 4);
    readable = ReadExactly(stream, fields.data(), static_cast<int64_t>(fields.size()));
    header.Width = static_cast<int32_t>(Field32(fields, 0));
    header.Height = static_cast<int32_t>(Field32(fields, 4));
    header.Bits = LoadU16LE(&fields[10]);
    header.Compression = Field32(fields, 12);
    header.ImageSize = Field32(fields, 16);
    header.ColorsUsed = Field32(fields, 28);
    bytesLeft = streamSize - start - header.HeaderSize - 14;
  } else {
    readable = false;
  }

  const int64_t height = header.Height < 0 ? -header.Height : header.Height;
  const bool repairable = readable && header.Bits == 32 &&
                          (header.Compression == BI_RGB || header.Compression == BI_BITFIELDS) &&
                          PictureSizeAllowed(header.Width, height) && header.Width > 0;
  if (repairable) {
    int64_t position = stream.Position();
    if (header.HeaderSize == 40 && header.Compression == BI_BITFIELDS) {
      position += 12;
      bytesLeft -= 12;
    }
    const int64_t table = static_cast<int64_t>(header.ColorsUsed) * (core ? 3 : 4);
    position += table;
    bytesLeft -= table;
    // Pixels that start further on than the colour table ends: the gap is not pixel data.
    const int64_t pixelStart = start + header.PixelOffset;
    if (pixelStart > position && pixelStart <= streamSize) {
      bytesLeft -= pixelStart - position;
      position = pixelStart;
    }
    const int64_t needed = static_cast<int64_t>(RowBytes(static_cast<int>(header.Width), 32)) * height;
    const int64_t imageSize = header.ImageSize == 0 ? needed : header.ImageSize;
    const int64_t available = std::min(bytesLeft, imageSize);
    if (needed < available) {
      const int64_t surplus = available - needed;
      const int64_t end = position + available;
      TMemoryStream copy;
      stream.SetPosition(start);
      copy.CopyFrom(stream, end - surplus - start);
      copy.SetPosition(0);
      TBitmap::LoadFromStream(copy);
      stream.SetPosition(end);
      OpaqueWhenAlphaEmpty(*this);
      return;
    }
  }
  stream.SetPosition(start);
  TBitmap::LoadFromStream(stream);
  OpaqueWhenAlphaEmpty(*this);
}

void TBitmapFix32::SaveToStream(TStream& stream) const {
  if (PixelFormat() != pf32bit || Empty()) {
    TBitmap::SaveToStream(stream);
    return;
  }
  const uint32_t imageSize = static_cast<uint32_t>(Width()) * static_cast<uint32_t>(Height()) * 4;
  stream.WriteU8('B');
  stream.WriteU8('M');
  stream.WriteU32LE(imageSize + 54);
  stream.WriteU16LE(0);
  stream.WriteU16LE(0);
  stream.WriteU32LE(54);
  stream.WriteU32LE(40);
  stream.WriteI32LE(Width());
  stream.WriteI32LE(Height());
  stream.WriteU16LE(1);
  stream.WriteU16LE(32);
  stream.WriteU32LE(BI_RGB);
  stream.WriteU32LE(imageSize);
  for (int i = 0; i < 4; ++i) stream.WriteU32LE(0);
  stream.WriteBuffer(Bits(), static_cast<int64_t>(BitsSize()));
}

}  // namespace glyphmill
