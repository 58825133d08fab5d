#include "platform/gif_codec.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <gif_lib.h>

#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

struct TByteSource {
  std::span<const uint8_t> Bytes;
  size_t Position = 0;
};

extern "C" int ReadGifBytes(GifFileType* gif, GifByteType* buffer, int count) {
  auto* source = static_cast<TByteSource*>(gif->UserData);
  const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), source->Bytes.size() - source->Position);
  std::memcpy(buffer, source->Bytes.data() + source->Position, n);
  source->Position += n;
  return static_cast<int>(n);
}

extern "C" int WriteGifBytes(GifFileType* gif, const GifByteType* buffer, int count) {
  static_cast<std::vector<uint8_t>*>(gif->UserData)
      ->insert(static_cast<std::vector<uint8_t>*>(gif->UserData)->end(), buffer, buffer + count);
  return count;
}

struct TGifReaderCloser {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using TGifReader = std::unique_ptr<GifFileType, TGifReaderCloser>;

struct TGifWriterCloser {
  void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};

struct TColorMapFree {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

[[noreturn]] void FailRead(int error) {
  const char* text = GifErrorString(error);
  throw EReadError(std::string("Invalid GIF image: ") + (text ? text : "unknown error"));
}

std::vector<TRGBQuad> PaletteOf(const ColorMapObject* map) {
  std::vector<TRGBQuad> palette(256);
  if (map == nullptr || map->Colors == nullptr) {
    for (int i = 0; i < 256; ++i) palette[i] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    return palette;
  }
  const int count = std::clamp(map->ColorCount, 0, 256);
  for (int i = 0; i < count; ++i)
    palette[i] = TRGBQuad{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 0};
  return palette;
}

// Reads the frame's rows (in interlace order when asked) and places them on the screen,
// clipping whatever lies outside it.
void ReadFrameRows(GifFileType* gif, TBitmap& screen) {
  const GifImageDesc& desc = gif->Image;
  std::vector<GifPixelType> row(static_cast<size_t>(desc.Width));
  auto placeRow = [&](int y) {
    if (DGifGetLine(gif, row.data(), desc.Width) == GIF_ERROR) FailRead(gif->Error);
    const int screenY = desc.Top + y;
    if (screenY < 0 || screenY >= screen.Height()) return;
    uint8_t* target = screen.ScanLine(screenY);
    for (int x = 0; x < desc.Width; ++x) {
      const int screenX = desc.Left + x;
      if (screenX >= 0 && screenX < screen.Width()) target[screenX] = row[static_cast<size_t>(x)];
    }
  };
  if (desc.Interlace) {
    constexpr int Starts[] = {0, 4, 2, 1};
    constexpr int Steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = Starts[pass]; y < desc.Height; y += Steps[pass]) placeRow(y);
  } else {
    for (int y = 0; y < desc.Height; ++y) placeRow(y);
  }
}

}  // namespace

TBitmap TGifPicture::Mask() const {
  const int width = Bitmap.Width(), height = Bitmap.Height();
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  const TRGBQuad blackWhite[2] = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
  mask.SetPalette(blackWhite);
  mask.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = Bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) mask.SetIndex(x, y, TransparentIndex >= 0 && row[x] == TransparentIndex ? 1 : 0);
  }
  return mask;
}

TGifPicture DecodeGif(std::span<const uint8_t> bytes) {
  TByteSource source{bytes};
  int error = 0;
  TGifReader gif(DGifOpen(&source, ReadGifBytes, &error));
  if (!gif) FailRead(error);
  CheckPictureSize(gif->SWidth, gif->SHeight);

  int transparentIndex = -1;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) FailRead(gif->Error);
    if (record == TERMINATE_RECORD_TYPE) throw EReadError("Invalid GIF image: no image in the file");
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) FailRead(gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4)
        transparentIndex = (block[1] & 0x01) ? block[4] : -1;
      while (block != nullptr)
        if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) FailRead(gif->Error);
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;

    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) FailRead(gif->Error);
    GifImageDesc& desc = gif->Image;
    CheckPictureSize(desc.Width, desc.Height);
    // LZW codes are at least 3 bits and stand for at most 4096 pixels: a frame larger than its
    // bytes could hold is refused before anything is allocated for it.
    if (static_cast<uint64_t>(desc.Width) * static_cast<uint64_t>(desc.Height) >
        static_cast<uint64_t>(bytes.size()) * 8 / 3 * 4096 + 4096)
      throw EReadError("Invalid GIF image: the frame is larger than its data");
    // Without a logical screen the frame is the picture.
    if (gif->SWidth <= 0 || gif->SHeight <= 0) desc.Left = desc.Top = 0;
    const int width = gif->SWidth > 0 && gif->SHeight > 0 ? gif->SWidth : desc.Width;
    const int height = gif->SWidth > 0 && gif->SHeight > 0 ? gif->SHeight : desc.Height;
    if (width <= 0 || height <= 0) throw EReadError("Invalid GIF image: empty picture");

    TGifPicture picture;
    picture.TransparentIndex = transparentIndex;
    picture.Bitmap.SetPixelFormat(pf8bit);
    picture.Bitmap.SetPalette(PaletteOf(desc.ColorMap ? desc.ColorMap : gif->SColorMap));
    picture.Bitmap.SetSize(width, height);
    const uint8_t uncovered = static_cast<uint8_t>(transparentIndex >= 0 ? transparentIndex : gif->SBackGroundColor);
    for (int y = 0; y < height; ++y) std::memset(picture.Bitmap.ScanLine(y), uncovered, static_cast<size_t>(width));
    ReadFrameRows(gif.get(), picture.Bitmap);
    return picture;
  }
}

std::vector<uint8_t> EncodeGif(const TGifAnimation& animation) {
  if (animation.Frames.empty()) throw EGlyphmillError("A GIF needs at least one frame");
  if (animation.Width <= 0 || animation.Height <= 0 || animation.Width > 65535 || animation.Height > 65535)
    throw EGlyphmillError(Format("Invalid GIF screen size (%d x %d)", animation.Width, animation.Height));
  for (const TGifFrame& frame : animation.Frames) {
    const TPixelFormat format = frame.Bitmap.PixelFormat();
    if (format != pf1bit && format != pf4bit && format != pf8bit)
      throw EGlyphmillError("GIF frames must be 1-, 4- or 8-bit palette bitmaps");
    if (frame.Bitmap.Empty() || frame.Left < 0 || frame.Top < 0 ||
        frame.Left + frame.Bitmap.Width() > animation.Width || frame.Top + frame.Bitmap.Height() > animation.Height)
      throw EGlyphmillError("GIF frame lies outside the screen");
  }

  std::vector<uint8_t> output;
  int error = 0;
  std::unique_ptr<GifFileType, TGifWriterCloser> gif(EGifOpen(&output, WriteGifBytes, &error));
  auto check = [&](int status) {
    if (status == GIF_ERROR) {
      const char* text = GifErrorString(gif ? gif->Error : error);
      throw EGlyphmillError(std::string("Cannot write GIF: ") + (text ? text : "unknown error"));
    }
  };
  if (!gif) check(GIF_ERROR);
  EGifSetGifVersion(gif.get(), true);
  check(EGifPutScreenDesc(gif.get(), animation.Width, animation.Height, 8, 0, nullptr));
  if (animation.LoopCount >= 0) {
    const int loops = std::min(animation.LoopCount, 65535);
    const GifByteType loopBlock[3] = {1, static_cast<GifByteType>(loops & 0xFF), static_cast<GifByteType>(loops >> 8)};
    check(EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE));
    check(EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0"));
    check(EGifPutExtensionBlock(gif.get(), 3, loopBlock));
    check(EGifPutExtensionTrailer(gif.get()));
  }
  for (const std::string& comment : animation.Comments)
    if (!comment.empty()) check(EGifPutComment(gif.get(), comment.c_str()));

  for (const TGifFrame& frame : animation.Frames) {
    GraphicsControlBlock control{};
    control.DisposalMode = frame.Disposal;
    control.DelayTime = std::clamp(frame.Delay, 0, 65535);
    control.TransparentColor = frame.TransparentIndex >= 0 ? frame.TransparentIndex : NO_TRANSPARENT_COLOR;
    GifByteType controlBytes[4];
    const size_t controlLength = EGifGCBToExtension(&control, controlBytes);
    check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(controlLength), controlBytes));

    const std::vector<TRGBQuad>& palette = frame.Bitmap.Palette();
    std::vector<GifColorType> colors(palette.size());
    for (size_t i = 0; i < palette.size(); ++i) colors[i] = {palette[i].Red, palette[i].Green, palette[i].Blue};
    std::unique_ptr<ColorMapObject, TColorMapFree> map(
        GifMakeMapObject(static_cast<int>(colors.size()), colors.data()));
    if (!map) check(GIF_ERROR);
    const int width = frame.Bitmap.Width();
    check(EGifPutImageDesc(gif.get(), frame.Left, frame.Top, width, frame.Bitmap.Height(), false, map.get()));
    std::vector<GifPixelType> row(static_cast<size_t>(width));
    for (int y = 0; y < frame.Bitmap.Height(); ++y) {
      for (int x = 0; x < width; ++x)
        row[static_cast<size_t>(x)] = static_cast<GifPixelType>(frame.Bitmap.GetIndex(x, y));
      check(EGifPutLine(gif.get(), row.data(), width));
    }
  }
  GifFileType* raw = gif.release();
  if (EGifCloseFile(raw, &error) == GIF_ERROR) {
    const char* text = GifErrorString(error);
    throw EGlyphmillError(std::string("Cannot write GIF: ") + (text ? text : "unknown error"));
  }
  return output;
}

}  // namespace glyphmill
