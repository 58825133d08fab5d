// Comparison of a decoded picture with ImageMagick's own decoding of the same file, for the
// format tests that check readers against an independent implementation.
#pragma once

#include <filesystem>
#include <string>

#include "platform/bitmap.h"

namespace glyphmill::test {

inline const std::string ConvertTool = "/usr/bin/convert";

// Runs convert with the arguments (already quoted where needed); true on success.
bool RunConvert(const std::string& arguments);

// True when ImageMagick decodes the file without an error.
bool ImageMagickReads(const std::filesystem::path& file);

// Expects the picture (alpha from a 32-bit bitmap when useAlpha, transparency from mask when given)
// to have ImageMagick's size for the file and its colours within tolerance on every pixel both
// call visible; transparency (alpha below 128) must agree.
void ExpectMatchesImageMagick(const std::filesystem::path& file, const TBitmap& bitmap, bool useAlpha,
                              const TBitmap* mask, int tolerance);

}  // namespace glyphmill::test
