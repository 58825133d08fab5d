// ProcessSource: brings one source file into the shape the run writes. The file's content decides
// first and its extension second; the reader of that format loads it into the working bitmap (a
// picture), an icon, or a list of named icons, and the picture or icon is then built into the
// requested sizes and depths. A source whose format has no reader in this build fails with a
// message that says so; it is never skipped silently.
#pragma once

#include <string>

#include "app/conversionoptions.h"
#include "app/sourceoutput.h"
#include "imaging/bitmapfix32.h"
#include "platform/bitmap.h"

namespace glyphmill {

// The bitmaps a run reuses from source to source.
struct TSourceWork {
  TBitmapFix32 FBitmap;
  TBitmap FMask;  // white = transparent; used only when FMaskValid
  bool FMaskValid = false;
};

TSourceOutput ProcessSource(const std::string& sourceName, TSourceWork& work, const TConversionOptions& options,
                            TRunFlags& flags);

}  // namespace glyphmill
