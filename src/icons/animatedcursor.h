// Animated cursors (RIFF files of form ACON): the conversion's scan that turns every frame chunk
// into an icon, and TAnimatedCursor, the whole document with its frames, step sequence, step
// rates, title and artist.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "icons/advancedicon.h"
#include "icons/iconlist.h"
#include "support/listlongint.h"
#include "support/streams.h"

namespace glyphmill {

// Files larger than this are not animated cursors.
inline constexpr int64_t MaxAniFileSize = 2000000;

// The conversion's reader: every "icon" chunk (any letter case) holding a valid icon directory
// becomes one TAdvancedIcon appended to list, in file order; without a list, all frames' images
// are appended to icon. most > 0 stops after that many frames (icons in list, or images in icon).
// True when the list or the icon grew. Content it does not accept gives false; only a file that
// cannot be opened throws.
bool LoadFromRiffFile(TAdvancedIcon& icon, const std::string& fileName, int most,
                      std::vector<std::unique_ptr<TAdvancedIcon>>* list);
// The same over the file's bytes.
bool LoadFromRiffBytes(TAdvancedIcon& icon, std::span<const uint8_t> bytes, int most,
                       std::vector<std::unique_ptr<TAdvancedIcon>>* list);

// The "anih" chunk.
struct TAniHeader {
  uint32_t cbSize = 36;
  uint32_t nFrames = 0;
  uint32_t nSteps = 0;
  uint32_t width = 32;
  uint32_t height = 32;
  uint32_t bitCount = 4;
  uint32_t planes = 1;
  uint32_t dispRate = 10;
  uint32_t flags = 1;  // 1: frames are icon resources; 2: a sequence is present

  static constexpr int Size = 36;
};

class TAnimatedCursor {
public:
  TAnimatedCursor() = default;
  virtual ~TAnimatedCursor() = default;
  TAnimatedCursor(const TAnimatedCursor&) = delete;
  TAnimatedCursor& operator=(const TAnimatedCursor&) = delete;

  // Frames are TAdvancedCursor objects under their numbered default names.
  TIconList Frames;
  TListLongint Sequence;  // frame index of each step
  TListLongint Rates;     // display time of each step, 1/60 s
  std::string Title;
  std::string Artist;
  TAniHeader Header;

  // Empties title, artist, sequence, frames and rates.
  virtual void Clear();
  // Reads the document at the stream position; a stream that is not an ACON RIFF of 44 to
  // 2,000,000 bytes throws EReadError("Invalid stream format"). Errors of frame image sets pass on.
  virtual void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);

  int StepCount() const { return Sequence.Count(); }
  // Null for an index without a frame.
  virtual TAdvancedIcon* GetFrame(int index) const;
  virtual TAdvancedIcon* GetStepFrame(int step) const;
  // The first image of a frame or of a step's frame (null when there is none).
  TSubIcon* FrameImage(int index) const;
  TSubIcon* StepImage(int step) const;

private:
  void ReadChunks(TStream& stream, int64_t end);
  void Complete();
};

}  // namespace glyphmill
