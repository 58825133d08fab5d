// GIF pictures over giflib: the first frame of a file as an 8-bit palette bitmap with its
// transparent index, and the writing of animated GIFs (frames, delays, disposal, loop, comments).
// Reads and writes bytes, so files and fuzzers share one path.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/bitmap.h"

namespace glyphmill {

// The first frame on the file's logical screen.
struct TGifPicture {
  // 8-bit, logical-screen size, palette of the frame (local, else global, else a grey ramp) padded
  // with black to 256 entries. Screen pixels the frame does not cover hold the transparent index
  // when there is one, else the background index.
  TBitmap Bitmap;
  // The frame's transparent palette index, or −1.
  int TransparentIndex = -1;

  // A 1-bit black/white mask of the bitmap's size, white where the transparent index is.
  TBitmap Mask() const;
};

// Decodes the first frame (interlaced or not). Fails with EReadError "Invalid GIF image: <reason>"
// on malformed data and refuses a logical screen or frame above the pixel cap before allocating.
TGifPicture DecodeGif(std::span<const uint8_t> bytes);

// What a frame's area becomes before the next frame is drawn.
enum TGifDisposal : int {
  gdUnspecified = 0,
  gdKeep = 1,
  gdRestoreBackground = 2,
  gdRestorePrevious = 3,
};

struct TGifFrame {
  // A 1-, 4- or 8-bit bitmap; its palette becomes the frame's local colour table.
  TBitmap Bitmap;
  int Left = 0;
  int Top = 0;
  // Display time in hundredths of a second.
  int Delay = 0;
  TGifDisposal Disposal = gdUnspecified;
  // Palette index shown as transparent, or −1.
  int TransparentIndex = -1;
};

struct TGifAnimation {
  int Width = 0;
  int Height = 0;
  // 0 repeats forever, n repeats n times, −1 writes no loop extension (played once).
  int LoopCount = 0;
  // Comment extensions written before the first frame.
  std::vector<std::string> Comments;
  std::vector<TGifFrame> Frames;
};

// Writes a GIF89a. Fails with EGlyphmillError when a frame is not a palette bitmap, lies outside
// the screen or the animation has no frames.
std::vector<uint8_t> EncodeGif(const TGifAnimation& animation);

}  // namespace glyphmill
