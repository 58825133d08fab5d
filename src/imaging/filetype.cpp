#include "imaging/filetype.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

#include "support/byte_reader.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

constexpr int64_t OneMegabyte = 1048576;
constexpr int64_t SixteenMegabytes = 16777216;
constexpr int64_t FiftyMegabytes = 52428800;
constexpr size_t MacIconSearchLength = 5600;

constexpr uint32_t Tag(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

constexpr uint32_t Bytes4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) | (static_cast<uint32_t>(c) << 16) |
         (static_cast<uint32_t>(d) << 24);
}

constexpr const char* MacIconCodes[] = {"ICN#", "ic14", "ic13", "ic12", "ic11", "ic10", "ic09", "ic08", "ic07",
                                        "icp6", "icp5", "icp4", "ic04", "ic05", "it32", "t8mk", "ich#", "ich4",
                                        "ich8", "ih32", "h8mk", "icn#", "icl4", "icl8", "il32", "l8mk", "ics#",
                                        "ics4", "ics8", "is32", "s8mk", "icm#", "icm4", "icm8"};
static_assert(std::size(MacIconCodes) == 34);

// Reads of a value the file is too short to hold count as 0, so the tests using it fail to match.
uint32_t ReadU32(TStream& stream) {
  uint8_t b[4];
  return stream.Read(b, 4) == 4 ? LoadU32LE(b) : 0;
}
uint16_t ReadU16(TStream& stream) {
  uint8_t b[2];
  return stream.Read(b, 2) == 2 ? LoadU16LE(b) : 0;
}
int ReadU8(TStream& stream) {
  uint8_t b = 0;
  return stream.Read(&b, 1) == 1 ? b : -1;
}
uint32_t ReadU32At(TStream& stream, int64_t offset) {
  stream.SetPosition(offset);
  return ReadU32(stream);
}

uint32_t SwapBytes(uint32_t v) { return __builtin_bswap32(v); }

// Restores a stream's position when the helper that made it returns.
class TPositionGuard {
public:
  explicit TPositionGuard(TStream& stream) : FStream(stream), FPosition(stream.Position()) {}
  ~TPositionGuard() { FStream.SetPosition(FPosition); }
  TPositionGuard(const TPositionGuard&) = delete;
  TPositionGuard& operator=(const TPositionGuard&) = delete;

private:
  TStream& FStream;
  int64_t FPosition;
};

bool IsOneOf(int value, std::initializer_list<int> set) {
  return std::find(set.begin(), set.end(), value) != set.end();
}

bool IsPcxStart(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return IsOneOf(b0, {10, 12}) && IsOneOf(b1, {0, 2, 3, 5}) && IsOneOf(b2, {0, 1}) && IsOneOf(b3, {0, 1, 4, 8});
}

bool IsResourceNameChar(uint8_t c) {
  return c == '-' || c == '.' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Step 3: a first word of 0 is a 32-bit resource file, an icon directory or a Mac resource fork.
// lastRead receives the value the further reads leave in the first value's place.
void DetectZeroWordStart(TStream& stream, int64_t size, uint32_t d0, TFileType& result, uint32_t& lastRead) {
  const uint32_t d1 = ReadU32(stream);
  if (d0 == 0 && d1 == 32) {
    lastRead = ReadU32(stream);
    const uint32_t second = ReadU32(stream);
    if (lastRead == 0xFFFF && second == 0xFFFF && size > 20) {
      lastRead = ReadU32(stream);
      if (lastRead == 0 && ReadU32(stream) == 0) result.Code = ftResource32;
    }
    return;
  }
  if ((d1 & 0xFFFF) > 0) {
    result.Code = ftIconOrCursor;
    result.SubType = static_cast<int>(d0 >> 16);
  }
  const int64_t mapOffset = SwapBytes(d1);
  if (mapOffset > 132 && mapOffset < size - 4) {
    lastRead = ReadU32At(stream, mapOffset + 4);
    bool macFile = true;
    if (lastRead == d1)
      result.Code = ContainsMacIconCode(stream, size) ? ftMacIcon : ftUnsupported;
    else if (LooksLikeMacResourceMap(stream))
      result.Code = ftMacIcon;
    else
      macFile = false;
    // A Mac fork of this size is no icon family we could use.
    if (macFile && size > OneMegabyte) result.Code = ftUnsupported;
  }
}

}  // namespace

bool IsTgaHeader(TStream& stream) {
  TPositionGuard guard(stream);
  if (stream.Size() - stream.Position() < 19) return false;
  uint8_t header[18];
  if (stream.Read(header, 18) != 18) return false;
  return IsOneOf(header[2], {1, 2, 3, 9, 10, 11}) && IsOneOf(header[1], {0, 1}) &&
         IsOneOf(header[7], {0, 15, 16, 24, 32}) && IsOneOf(header[16], {8, 15, 16, 24, 32});
}

bool ContainsMacIconCode(TStream& stream, int64_t fileSize) {
  TPositionGuard guard(stream);
  const int64_t available = fileSize - stream.Position();
  if (available <= 0) return false;
  std::vector<char> text(static_cast<size_t>(std::min<int64_t>(available, MacIconSearchLength)));
  text.resize(static_cast<size_t>(std::max<int64_t>(stream.Read(text.data(), static_cast<int64_t>(text.size())), 0)));
  const std::string_view view(text.data(), text.size());
  for (const char* code : MacIconCodes)
    if (view.find(code) != std::string_view::npos) return true;
  return false;
}

namespace {

// The same search over the last bytes of the file: an AppleDouble file ends with its resource map,
// whose type list names the icon families that many other resources can push past the first bytes.
bool TailContainsMacIconCode(TStream& stream, int64_t fileSize) {
  TPositionGuard guard(stream);
  stream.SetPosition(std::max<int64_t>(fileSize - static_cast<int64_t>(MacIconSearchLength), 0));
  return ContainsMacIconCode(stream, fileSize);
}

}  // namespace

bool LooksLikeMacResourceMap(TStream& stream) {
  TPositionGuard guard(stream);
  for (const int64_t offset : {271, 287}) {
    stream.SetPosition(offset);
    int v[5];
    for (int& value : v) value = ReadU16(stream);
    if (v[1] == v[0] + 1 && v[2] == v[1] + 1 && v[3] == v[2] + 2 && v[3] == v[4] + 1) return true;
  }
  return false;
}

int JpegComponentCount(TStream& stream) {
  stream.SetPosition(0);
  for (;;) {
    if (ReadU8(stream) != 0xFF) return -1;
    const int marker = ReadU8(stream);
    if (marker < 0) return -1;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) continue;
    uint8_t lengthBytes[2];
    if (stream.Read(lengthBytes, 2) != 2) return -1;
    const int length = LoadU16BE(lengthBytes);
    if (marker == 0xC0 || marker == 0xC2) {
      stream.Seek(5, TSeekOrigin::Current);
      return ReadU8(stream);
    }
    // A length below 2 cannot step past its own field; the walk would only stumble backwards.
    if (length < 2) return -1;
    stream.Seek(length - 2, TSeekOrigin::Current);
    if (stream.Position() >= stream.Size()) return -1;
  }
}

TFileType DetectFileType(TStream& stream) {
  TFileType result;
  const int64_t size = stream.Size();
  if (size == 0) return {ftEmpty, 0};
  if (size <= 4) return result;

  stream.SetPosition(0);
  uint8_t first[4];
  if (stream.Read(first, 4) != 4) return result;
  const uint32_t d0 = LoadU32LE(first);
  const uint16_t w0 = static_cast<uint16_t>(d0);
  const uint16_t w1 = static_cast<uint16_t>(d0 >> 16);
  // The TGA test of the last step looks at the last value read into the first value's place.
  uint32_t lastRead = d0;

  if (w0 == 0 && w1 <= 2) {
    DetectZeroWordStart(stream, size, d0, result, lastRead);
  } else if (w0 == 1) {
    if (ReadU32At(stream, 18) == 40) result = {size > FiftyMegabytes ? ftUnsupported : ftIconOrCursor, 4};
  } else if (w0 == Tag('M', 'Z', 0, 0)) {
    const int64_t header = ReadU32At(stream, 60);
    stream.SetPosition(header);
    uint8_t sig[4];
    const int64_t got = stream.Read(sig, 4);
    const uint16_t sig16 = got >= 2 ? LoadU16LE(sig) : 0;
    const uint32_t sig32 = got == 4 ? LoadU32LE(sig) : 0;
    if (sig16 == Tag('N', 'E', 0, 0))
      result = {ftModule, 1};
    else if (sig32 == Tag('P', 'E', 0, 0))
      result = {ftModule, 2};
  } else if (d0 == Tag('R', 'I', 'F', 'F')) {
    const int64_t riffSize = ReadU32(stream);
    if (size == riffSize || size == riffSize + 8 || size == riffSize + 4) {
      const uint32_t form = ReadU32(stream);
      if (form == Tag('A', 'C', 'O', 'N')) result.Code = ftAnimatedCursor;
      if (form == Tag('P', 'A', 'L', ' ')) result.Code = ftRiffPalette;
      if (size > OneMegabyte) result.Code = ftUnsupported;
    }
  } else if (first[0] == 0xFF && first[1] == 0xD8 && first[2] == 0xFF &&
             IsOneOf(first[3], {0xE0, 0xFE, 0xE1, 0xDB, 0xED})) {
    result = {ftJpeg, JpegComponentCount(stream)};
    if (result.SubType == 4) result.Code = ftJpegCmyk;
    if (size > FiftyMegabytes) result.Code = ftUnsupported;
  } else if (d0 == Tag('G', 'I', 'F', 0) || d0 == Tag('G', 'I', 'F', '8')) {
    result.Code = ftGif;
  } else if (w0 == Tag('B', 'M', 0, 0)) {
    result.Code = ftBmp;
  } else if (d0 == Bytes4(0x89, 'P', 'N', 'G')) {
    lastRead = ReadU32(stream);
    if (lastRead == Bytes4(0x0D, 0x0A, 0x1A, 0x0A)) result.Code = ftPng;
  } else if (d0 == Tag('8', 'B', 'P', 'S')) {
    uint8_t version[2] = {0, 0};
    result.SubType = stream.Read(version, 2) == 2 ? LoadU16BE(version) : 0;
    if (result.SubType == 1) result.Code = ftPsd;
  } else if (d0 == Tag('I', 'C', 'C', '0')) {
    const uint32_t one = ReadU32(stream);
    lastRead = ReadU32(stream);
    if (one == 1 && lastRead == Tag('I', 'C', 'O', 'N')) result.Code = ftIcc0Icon;
  } else if (d0 == Bytes4(0xB7, 'I', 'C', 'P')) {
    result = {ftIconProject, std::max(ReadU8(stream), 0)};
  } else if (d0 == Tag('i', 'c', 'n', 's') || d0 == Bytes4(0x00, 0x05, 0x16, 0x07)) {
    const bool appleDouble = d0 != Tag('i', 'c', 'n', 's');
    const bool found = ContainsMacIconCode(stream, size) || (appleDouble && TailContainsMacIconCode(stream, size));
    result.Code = found ? ftMacIcon : ftUnsupported;
    if (size > SixteenMegabytes) result.Code = ftUnsupported;
  } else if (IsPcxStart(first[0], first[1], first[2], first[3]) && size > 128) {
    result.Code = ftPcx;
  } else if (d0 == Bytes4('P', 'K', 3, 4)) {
    result.Code = ftArchive;
  } else if (d0 == Tag('R', 'a', 'r', '!')) {
    result.Code = ftArchive;
    lastRead = ReadU32(stream);
    if ((lastRead & 0x00FFFFFF) == Bytes4(0x1A, 0x07, 0x00, 0x00)) result.Code = ftRar;
  } else if ((w0 == Tag('M', 'M', 0, 0) || w0 == Tag('I', 'I', 0, 0)) &&
             (d0 == Tag('I', 'I', '*', 0) || d0 == Tag('M', 'M', 0, '*'))) {
    result = {ftTiff, 42};
  } else if (first[0] == 0xFF && first[1] == 0x02 && first[2] == 0x00 && size > 20 && IsResourceNameChar(first[3])) {
    result.Code = ftComponentResource;
  }

  const uint8_t b1 = static_cast<uint8_t>(lastRead >> 8);
  const uint8_t b2 = static_cast<uint8_t>(lastRead >> 16);
  if (result.Code == ftUnknown && b1 < 2 && IsOneOf(b2, {1, 2, 3, 9, 10, 11})) {
    stream.SetPosition(0);
    if (IsTgaHeader(stream)) result.Code = ftTga;
  }
  return result;
}

TFileType DetectFileType(const std::string& fileName) {
  std::error_code error;
  const auto status = std::filesystem::status(fileName, error);
  if (!error && std::filesystem::is_directory(status)) return {ftCannotOpen, 0};
  // A missing file counts as size −1.
  int64_t size = -1;
  if (!error && std::filesystem::exists(status)) {
    const auto fileSize = std::filesystem::file_size(fileName, error);
    if (!error) size = static_cast<int64_t>(fileSize);
  }
  if (size == 0) return {ftEmpty, 0};
  if (size <= 4) return {};
  std::unique_ptr<TFileStream> stream;
  try {
    stream = std::make_unique<TFileStream>(fileName, TFileMode::OpenRead);
  } catch (const EStreamError&) {
    return {ftCannotOpen, 0};
  }
  return DetectFileType(*stream);
}

}  // namespace glyphmill
