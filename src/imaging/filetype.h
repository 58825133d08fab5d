// Source file type detection: what a file holds, decided from its first bytes and its size,
// never from its extension.
#pragma once

#include <cstdint>
#include <string>

#include "support/streams.h"

namespace glyphmill {

// The type codes DetectFileType reports.
enum TFileTypeCode : int {
  ftUnknown = 0,
  ftIconOrCursor = 1,  // subtype 1 icon, 2 cursor, 4 headerless single-image icon
  ftModule = 2,        // subtype 1 NE, 2 PE
  ftAnimatedCursor = 4,
  ftJpeg = 5,  // subtype: colour components (−1 when no frame header was found)
  ftBmp = 6,
  ftGif = 7,
  ftPng = 8,
  ftPsd = 9,  // subtype: format version
  ftRiffPalette = 10,
  ftIcc0Icon = 11,
  ftTga = 12,
  ftIconProject = 13,  // subtype: the byte after the signature
  ftPcx = 14,
  ftTiff = 15,  // subtype 42
  ftMacIcon = 16,
  ftArchive = 17,
  ftRar = 18,
  ftResource32 = 19,
  ftComponentResource = 20,
  ftUnsupported = 21,  // recognised but too large, or a Mac file without icon elements
  ftEmpty = 22,
  ftCannotOpen = 23,
  ftJpegCmyk = 25,  // subtype 4
};

struct TFileType {
  int Code = ftUnknown;
  int SubType = 0;
  bool operator==(const TFileType&) const = default;
};

// Types the file by name. A missing file or one of at most 4 bytes is unknown, an empty one
// ftEmpty, one that cannot be opened ftCannotOpen.
TFileType DetectFileType(const std::string& fileName);
// The same over a stream holding the whole file (size = the stream's size; an empty stream is
// ftEmpty). The stream's position is left anywhere.
TFileType DetectFileType(TStream& stream);

// Helpers on the open file. Reads cut short by the end of the file count as 0. Each restores the
// position it started from, except JpegComponentCount.
bool IsTgaHeader(TStream& stream);
bool ContainsMacIconCode(TStream& stream, int64_t fileSize);
bool LooksLikeMacResourceMap(TStream& stream);
int JpegComponentCount(TStream& stream);

}  // namespace glyphmill
