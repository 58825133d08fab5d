#include "imaging/filetype.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"

namespace glyphmill {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes Zeros(size_t count) { return Bytes(count, 0); }
Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes U32BE(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes Padded(Bytes bytes, size_t size) {
  bytes.resize(size, 0);
  return bytes;
}
// Puts value at offset, growing the buffer.
Bytes Put(Bytes bytes, size_t offset, const Bytes& value) {
  if (bytes.size() < offset + value.size()) bytes.resize(offset + value.size(), 0);
  std::copy(value.begin(), value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  return bytes;
}

Bytes Riff(const std::string& form, uint32_t sizeField, size_t fileSize) {
  return Padded(Concat({Text("RIFF"), U32(sizeField), Text(form)}), fileSize);
}

// A JPEG start with a baseline frame header of the given component count.
Bytes Jpeg(int components) {
  return Concat({{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00},
                 {0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x10, 0x00, 0x10, uint8_t(components)},
                 Zeros(16)});
}

// A bare Mac resource fork: data at 256, the map at mapOffset repeating the header; extra bytes
// follow the map's copy of the header.
Bytes MacFork(uint32_t mapOffset, const std::string& afterMap) {
  Bytes fork = Concat({U32BE(256), U32BE(mapOffset), U32BE(0), U32BE(64)});
  fork = Put(fork, mapOffset, Concat({U32BE(256), U32BE(mapOffset), Text(afterMap)}));
  return Padded(fork, mapOffset + 100);
}

Bytes Tga(uint8_t colourMapType, uint8_t imageType, uint8_t entryBits, uint8_t pixelBits) {
  Bytes header = Zeros(18);
  header[1] = colourMapType;
  header[2] = imageType;
  header[7] = entryBits;
  header[12] = 16;
  header[14] = 16;
  header[16] = pixelBits;
  return Padded(header, 18 + 16 * 16 * 3);
}

TFileType Detect(const Bytes& bytes) {
  TMemoryStream stream(bytes);
  return DetectFileType(stream);
}

struct TDetectCase {
  const char* Name;
  Bytes Content;
  TFileType Expected;
};

TEST(DetectFileType, RecognisesEveryTypeByContent) {
  const Bytes icoEntry = {0x20, 0x20, 0x10, 0x00, 0x01, 0x00, 0x04, 0x00};
  const TDetectCase cases[] = {
      {"one byte", {0x42}, {0, 0}},
      {"four bytes", Text("GIF8"), {0, 0}},
      {"icon", Padded(Concat({{0, 0, 1, 0, 1, 0}, icoEntry}), 200), {1, 1}},
      {"cursor", Padded(Concat({{0, 0, 2, 0, 3, 0}, icoEntry}), 200), {1, 2}},
      {"icon directory without images", Padded({0, 0, 1, 0, 0, 0}, 200), {0, 0}},
      {"32-bit resource file",
       Padded(Concat({U32(0), U32(32), U32(0xFFFF), U32(0xFFFF), U32(0), U32(0)}), 64),
       {19, 0}},
      {"resource header of 20 bytes", Padded(Concat({U32(0), U32(32), U32(0xFFFF), U32(0xFFFF)}), 20), {0, 0}},
      {"headerless icon", Put(Padded({1, 0}, 100), 18, U32(40)), {1, 4}},
      {"word 1 without a bitmap header", Put(Padded({1, 0}, 100), 18, U32(12)), {0, 0}},
      {"NE module", Put(Put(Padded(Text("MZ"), 200), 60, U32(128)), 128, Text("NE")), {2, 1}},
      {"PE module", Put(Put(Padded(Text("MZ"), 200), 60, U32(128)), 128, Concat({Text("PE"), {0, 0}})), {2, 2}},
      {"DOS program", Put(Padded(Text("MZ"), 200), 60, U32(128)), {0, 0}},
      {"PE offset past the end", Put(Padded(Text("MZ"), 200), 60, U32(100000)), {0, 0}},
      {"ANI, size field = size - 8", Riff("ACON", 92, 100), {4, 0}},
      {"ANI, size field = size", Riff("ACON", 100, 100), {4, 0}},
      {"ANI, size field = size - 4", Riff("ACON", 96, 100), {4, 0}},
      {"ANI whose size field does not match", Riff("ACON", 50, 100), {0, 0}},
      {"RIFF palette", Riff("PAL ", 92, 100), {10, 0}},
      {"other RIFF form", Riff("WAVE", 92, 100), {0, 0}},
      {"JPEG, 3 components", Jpeg(3), {5, 3}},
      {"JPEG, grey", Jpeg(1), {5, 1}},
      {"JPEG, CMYK", Jpeg(4), {25, 4}},
      {"JPEG without frame header", Padded({0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00}, 40), {5, -1}},
      {"JPEG with a zero segment length", Padded({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x00}, 40), {5, -1}},
      {"FF D8 FF C4 is no JPEG start", Padded({0xFF, 0xD8, 0xFF, 0xC4}, 40), {0, 0}},
      {"GIF89a", Padded(Text("GIF89a"), 40), {7, 0}},
      {"GIF with a zero byte", Padded(Concat({Text("GIF"), {0}}), 40), {7, 0}},
      {"BMP", Padded(Text("BM"), 60), {6, 0}},
      {"PNG", Padded({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, 60), {8, 0}},
      {"PNG with a broken signature", Padded({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}, 60), {0, 0}},
      {"PSD version 1", Padded(Concat({Text("8BPS"), {0, 1}}), 60), {9, 1}},
      {"PSD version 2", Padded(Concat({Text("8BPS"), {0, 2}}), 60), {0, 2}},
      {"ICC0 icon", Padded(Concat({Text("ICC0"), U32(1), Text("ICON")}), 60), {11, 0}},
      {"ICC0 of another kind", Padded(Concat({Text("ICC0"), U32(2), Text("ICON")}), 60), {0, 0}},
      {"icon project", Padded({0xB7, 'I', 'C', 'P', 4}, 60), {13, 4}},
      {"icns with elements", Padded(Concat({Text("icns"), U32BE(100), Text("ic08")}), 100), {16, 0}},
      {"icns without elements", Padded(Concat({Text("icns"), U32BE(100), Text("TOC ")}), 100), {21, 0}},
      {"icns codes are case-sensitive", Padded(Concat({Text("icns"), U32BE(100), Text("IC08")}), 100), {21, 0}},
      {"AppleDouble with an icon family", Padded(Concat({{0, 5, 0x16, 7}, Zeros(80), Text("ICN#")}), 200), {16, 0}},
      {"AppleDouble whose icon family is named only in its closing map",
       Concat({{0, 5, 0x16, 7}, Zeros(9000), Text("icl8ICN#"), Zeros(100)}),
       {16, 0}},
      {"icns whose only code lies past the searched bytes",
       Concat({Text("icns"), U32BE(9000), Zeros(9000), Text("ic08")}),
       {21, 0}},
      {"PCX", Padded({10, 5, 1, 8}, 129), {14, 0}},
      {"PCX of 128 bytes", Padded({10, 5, 1, 8}, 128), {0, 0}},
      {"PCX with an odd encoding", Padded({10, 5, 2, 8}, 200), {0, 0}},
      {"ZIP", Padded({'P', 'K', 3, 4}, 40), {17, 0}},
      {"RAR 1.5", Padded(Concat({Text("Rar!"), {0x1A, 0x07, 0x00, 0xCF}}), 40), {18, 0}},
      {"RAR of another version", Padded(Concat({Text("Rar!"), {0x1A, 0x07, 0x01, 0x00}}), 40), {17, 0}},
      {"TIFF, Intel order", Padded(Text("II*"), 40), {15, 42}},
      {"TIFF, Motorola order", Padded(Concat({Text("MM"), {0, '*'}}), 40), {15, 42}},
      {"BigTIFF", Padded(Text("II+"), 40), {0, 0}},
      {"component resource", Padded({0xFF, 0x02, 0x00, 'B'}, 21), {20, 0}},
      {"component resource of 20 bytes", Padded({0xFF, 0x02, 0x00, 'B'}, 20), {0, 0}},
      {"component resource with a bad name", Padded({0xFF, 0x02, 0x00, '#'}, 40), {0, 0}},
      {"uncompressed TGA", Tga(0, 2, 0, 24), {12, 0}},
      {"colour-mapped TGA", Tga(1, 1, 24, 8), {12, 0}},
      {"RLE TGA", Tga(0, 10, 0, 32), {12, 0}},
      {"TGA with a bad pixel depth", Tga(0, 2, 0, 12), {0, 0}},
      {"TGA with a bad colour-map entry size", Tga(1, 1, 8, 8), {0, 0}},
      {"TGA header without pixels", Padded(Tga(0, 2, 0, 24), 18), {0, 0}},
      {"Mac fork with icons", MacFork(512, "icl8ICN#"), {16, 0}},
      {"Mac fork without icons", MacFork(512, "STR vers"), {21, 0}},
      {"map offset too small for a fork", MacFork(132, "icl8"), {0, 0}},
      {"resource map by its type list",
       Put(Put(Padded(Concat({U32BE(256), U32BE(400)}), 500), 271, Concat({{10, 0, 11, 0, 12, 0, 14, 0, 13, 0}})), 400,
           U32(7)),
       {16, 0}},
  };
  for (const TDetectCase& c : cases) EXPECT_EQ(Detect(c.Content), c.Expected) << c.Name;
}

TEST(DetectFileType, SizeLimitsGiveUnsupported) {
  test::TTempDir dir;
  struct TLimitCase {
    const char* Name;
    Bytes Start;
    uintmax_t Size;
    TFileType Expected;
  };
  const uintmax_t mb = 1048576;
  const TLimitCase cases[] = {
      {"JPEG of 50 MB", Jpeg(3), 52428800, {5, 3}},
      {"JPEG above 50 MB", Jpeg(3), 52428801, {21, 3}},
      {"CMYK JPEG of 60 MB", Jpeg(4), 60 * mb, {21, 4}},
      {"headerless icon above 50 MB", Put(Padded({1, 0}, 100), 18, U32(40)), 52428801, {21, 4}},
      {"ANI of 2 MB", Riff("ACON", uint32_t(2 * mb - 8), 12), 2 * mb, {21, 0}},
      {"ANI of 1 MB", Riff("ACON", uint32_t(mb - 8), 12), mb, {4, 0}},
      {"RIFF WAVE of 2 MB", Riff("WAVE", uint32_t(2 * mb - 8), 12), 2 * mb, {21, 0}},
      {"icns of 16 MB", Padded(Concat({Text("icns"), U32BE(0), Text("ic08")}), 12), 16 * mb, {16, 0}},
      {"icns above 16 MB", Padded(Concat({Text("icns"), U32BE(0), Text("ic08")}), 12), 16 * mb + 1, {21, 0}},
      {"Mac fork above 1 MB", MacFork(512, "icl8"), mb + 1, {21, 0}},
      {"icon above 1 MB", Padded(Concat({{0, 0, 1, 0, 1, 0}, {0x20, 0x20}}), 200), 2 * mb, {1, 1}},
  };
  for (const TLimitCase& c : cases) {
    const auto path = dir / "big";
    test::WriteAll(path, c.Start);
    std::filesystem::resize_file(path, c.Size);
    EXPECT_EQ(DetectFileType(path.string()), c.Expected) << c.Name;
  }
}

TEST(DetectFileType, FilesThatCannotBeRead) {
  test::TTempDir dir;
  test::WriteAll(dir / "empty.png", {});
  EXPECT_EQ(DetectFileType((dir / "empty.png").string()), (TFileType{22, 0}));
  test::WriteAll(dir / "one", {0x89});
  EXPECT_EQ(DetectFileType((dir / "one").string()), (TFileType{0, 0}));
  EXPECT_EQ(DetectFileType((dir / "missing.ico").string()), (TFileType{0, 0}));
  std::filesystem::create_directory(dir / "folder.png");
  EXPECT_EQ(DetectFileType((dir / "folder.png").string()), (TFileType{23, 0}));
  EXPECT_EQ(Detect({}), (TFileType{22, 0}));
}

TEST(DetectFileType, HelpersRestoreThePosition) {
  TMemoryStream stream(Padded(Concat({Text("icns"), U32BE(100), Text("ic08")}), 400));
  stream.SetPosition(8);
  EXPECT_TRUE(ContainsMacIconCode(stream, stream.Size()));
  EXPECT_EQ(stream.Position(), 8);
  EXPECT_FALSE(IsTgaHeader(stream));
  EXPECT_EQ(stream.Position(), 8);
  EXPECT_FALSE(LooksLikeMacResourceMap(stream));
  EXPECT_EQ(stream.Position(), 8);
}

// Codes the content of the shared corpus must give, by folder.
TEST(DetectFileType, CorpusFilesByFolder) {
  const auto corpus = test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const std::pair<const char*, int> folders[] = {{"png", 8}, {"gif", 7},   {"bmp", 6},  {"psd", 9},
                                                 {"ani", 4}, {"icns", 16}, {"pe32", 2}, {"pe64", 2}};
  for (const auto& [folder, code] : folders)
    for (const auto& entry : std::filesystem::directory_iterator(corpus / folder))
      EXPECT_EQ(DetectFileType(entry.path().string()).Code, code) << entry.path();
  EXPECT_EQ(DetectFileType((corpus / "jpeg/pillow_pil_sample_cmyk.jpg").string()), (TFileType{25, 4}));
  EXPECT_EQ(DetectFileType((corpus / "jpeg/pillow_hopper_gray.jpg").string()), (TFileType{5, 1}));
  EXPECT_EQ(DetectFileType((corpus / "ne/anim8.exe").string()), (TFileType{2, 1}));
  EXPECT_EQ(DetectFileType((corpus / "ico/pillow_python.ico").string()), (TFileType{1, 1}));
  EXPECT_EQ(DetectFileType((corpus / "cur/pillow_deerstalker.cur").string()), (TFileType{1, 2}));
  EXPECT_EQ(DetectFileType((corpus / "tiff/pillow_hopper.tif").string()), (TFileType{15, 42}));
  EXPECT_EQ(DetectFileType((corpus / "rsrc/nethack_NetHack.rsrc").string()), (TFileType{16, 0}));
  EXPECT_EQ(DetectFileType((corpus / "rsrc/appledouble_DashBoard.ntkc").string()), (TFileType{16, 0}));
  EXPECT_EQ(DetectFileType((corpus / "rsrc/appledouble_NewDBPicts.rsrc").string()), (TFileType{16, 0}));
  EXPECT_EQ(DetectFileType((corpus / "rsrc/rsrcfork_testfile.rsrc").string()), (TFileType{21, 0}));
}

}  // namespace
}  // namespace glyphmill
