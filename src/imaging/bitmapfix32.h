// TBitmapFix32: the working bitmap that receives a loaded source picture. Its BMP stream load
// repairs 32-bit files that declare more pixel bytes than the picture needs and takes a 32-bit
// picture whose alpha is zero everywhere as opaque; its save keeps 32-bit alpha.
#pragma once

#include "platform/bitmap.h"

namespace glyphmill {

class TBitmapFix32 : public TBitmap {
public:
  TBitmapFix32() = default;
  TBitmapFix32(const TBitmapFix32&) = default;
  TBitmapFix32(TBitmapFix32&&) = default;
  TBitmapFix32& operator=(const TBitmapFix32&) = default;
  TBitmapFix32& operator=(TBitmapFix32&&) = default;

  // Fails with EReadError("Bitmap image is not valid") on a malformed stream and leaves the
  // bitmap unchanged. With surplus 32-bit pixel bytes the stream ends after the declared bytes.
  void LoadFromStream(TStream& stream) override;
  // 32-bit bitmaps: file header, 40-byte info header, pixels bottom row first, alpha kept.
  // Other formats as the base class writes them.
  void SaveToStream(TStream& stream) const override;
};

}  // namespace glyphmill
