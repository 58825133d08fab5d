#include "icons/animatedcursor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "icons/aniimage.h"
#include "imaging/bitmaptools.h"
#include "platform/gif_codec.h"
#include "support/errors.h"
#include "test_support.h"

// Cases name only the fields they set.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace glyphmill {
namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes Chunk(const std::string& id, const Bytes& data, bool pad = false) {
  Bytes chunk(id.begin(), id.end());
  Put32(chunk, static_cast<uint32_t>(data.size()));
  chunk.insert(chunk.end(), data.begin(), data.end());
  if (pad && data.size() % 2) chunk.push_back(0);
  return chunk;
}

Bytes List(const std::string& type, const std::vector<Bytes>& chunks) {
  Bytes data(type.begin(), type.end());
  for (const Bytes& c : chunks) data.insert(data.end(), c.begin(), c.end());
  return Chunk("LIST", data);
}

Bytes Values(const std::vector<uint32_t>& values) {
  Bytes bytes;
  for (uint32_t v : values) Put32(bytes, v);
  return bytes;
}

// A 24-bit cursor frame of one colour whose top-left pixel is transparent, with a hot spot.
Bytes CursorFrame(int size, TColor colour, THotSpot hotSpot) {
  TBitmap picture;
  picture.SetPixelFormat(pf24bit);
  picture.SetSize(size, size);
  picture.FillRect(Rect(0, 0, size, size), colour);
  TBitmap mask = CreateFilledBitmap(pf1bit, size, size, 0);
  mask.SetPixel(0, 0, 0xFFFFFF);
  picture.SetPixel(0, 0, 0);
  TAdvancedCursor cursor;
  cursor.Images.AddFromBitmap(picture, &mask, 0);
  cursor.Images.Get(0)->SetHotSpot(hotSpot);
  TMemoryStream stream;
  cursor.SaveCursorToStream(stream);
  return stream.Bytes();
}

struct TAniSpec {
  int Frames = 3;
  std::vector<uint32_t> Sequence;
  std::vector<uint32_t> Rates;
  std::string Title, Artist;
  std::string IconId = "icon";
  bool FormType = true;
};

Bytes Ani(const TAniSpec& spec) {
  std::vector<Bytes> chunks;
  if (!spec.Title.empty() || !spec.Artist.empty()) {
    auto text = [](const std::string& s) {
      Bytes b(s.begin(), s.end());
      b.push_back(0);
      return b;
    };
    chunks.push_back(List("INFO", {Chunk("INAM", text(spec.Title), true), Chunk("IART", text(spec.Artist), true)}));
  }
  const uint32_t steps = spec.Sequence.empty() ? spec.Frames : static_cast<uint32_t>(spec.Sequence.size());
  chunks.push_back(
      Chunk("anih", Values({36, uint32_t(spec.Frames), steps, 0, 0, 0, 0, 6, spec.Sequence.empty() ? 1u : 3u})));
  if (!spec.Rates.empty()) chunks.push_back(Chunk("rate", Values(spec.Rates)));
  if (!spec.Sequence.empty()) chunks.push_back(Chunk("seq ", Values(spec.Sequence)));
  std::vector<Bytes> frames;
  const TColor colours[] = {RGBColor(255, 0, 0), RGBColor(0, 255, 0), RGBColor(0, 0, 255), RGBColor(9, 9, 9)};
  for (int i = 0; i < spec.Frames; ++i)
    frames.push_back(Chunk(spec.IconId, CursorFrame(16 + 16 * (i % 2), colours[i % 4], {uint16_t(i), 7})));
  chunks.push_back(List("fram", frames));
  Bytes body;
  if (spec.FormType)
    body = {'A', 'C', 'O', 'N'};
  else
    chunks.insert(chunks.begin() + 1, Chunk("ACON", {}));  // named after the first chunk instead
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes file = {'R', 'I', 'F', 'F'};
  Put32(file, static_cast<uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

std::vector<std::unique_ptr<TAdvancedIcon>> Scan(const Bytes& bytes) {
  std::vector<std::unique_ptr<TAdvancedIcon>> list;
  TAdvancedIcon unused;
  LoadFromRiffBytes(unused, bytes, 0, &list);
  return list;
}

TEST(LoadFromRiffFile, OneIconPerFrameChunk) {
  struct TCase {
    const char* Name;
    Bytes File;
    size_t Icons;
  };
  Bytes sizeTooLarge = Ani({});
  sizeTooLarge[4] = 0xFF;
  const TCase cases[] = {
      {"twelve frames", Ani({.Frames = 12}), 12},
      {"a sequence repeating frames", Ani({.Frames = 3, .Sequence = {0, 1, 2, 1}}), 3},
      {"upper-case chunk ids", Ani({.Frames = 2, .IconId = "ICON"}), 2},
      {"no form type", Ani({.Frames = 2, .FormType = false}), 2},
      {"RIFF size above the file size", sizeTooLarge, 0},
      {"not a RIFF file", Bytes(100, 'x'), 0},
  };
  for (const TCase& c : cases) {
    const auto icons = Scan(c.File);
    ASSERT_EQ(icons.size(), c.Icons) << c.Name;
    for (const auto& icon : icons) EXPECT_EQ(icon->Images.Count(), 1) << c.Name;
  }
  const auto icons = Scan(Ani({.Frames = 2}));
  EXPECT_EQ(icons[0]->Images[0]->GetWidth(), 16);
  EXPECT_EQ(icons[1]->Images[0]->GetWidth(), 32);
  EXPECT_EQ(icons[1]->Images[0]->HotSpot(), THotSpot{}) << "the conversion keeps no hot spots";
}

TEST(LoadFromRiffFile, FileLimitsMostAndTheIconItself) {
  test::TTempDir dir;
  Bytes file = Ani({.Frames = 4});
  Bytes big = file;
  big.resize(2000001);
  test::WriteAll(dir / "walk.ani", file);
  test::WriteAll(dir / "big.ani", big);
  TAdvancedIcon icon;
  std::vector<std::unique_ptr<TAdvancedIcon>> list;
  EXPECT_TRUE(LoadFromRiffFile(icon, (dir / "walk.ani").string(), 0, &list));
  EXPECT_EQ(list.size(), 4u);
  list.clear();
  EXPECT_FALSE(LoadFromRiffFile(icon, (dir / "big.ani").string(), 0, &list));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(LoadFromRiffFile(icon, (dir / "walk.ani").string(), 3, nullptr));
  EXPECT_EQ(icon.Images.Count(), 3);
  EXPECT_THROW(LoadFromRiffFile(icon, (dir / "missing.ani").string(), 0, &list), EStreamError);
}

TEST(TAnimatedCursor, ReadsTheWholeDocument) {
  TAnimatedCursor cursor;
  TMemoryStream stream(
      Ani({.Frames = 3, .Sequence = {0, 1, 2, 1}, .Rates = {10, 6, 6, 10}, .Title = "Walk", .Artist = "Ann Artist"}));
  cursor.LoadFromStream(stream);
  EXPECT_EQ(cursor.Frames.Count(), 3);
  EXPECT_EQ(cursor.StepCount(), 4);
  EXPECT_EQ(cursor.Title, "Walk") << "size 5 with its pad byte";
  EXPECT_EQ(cursor.Artist, "Ann Artist");
  EXPECT_EQ(cursor.Rates.ToVector(), (std::vector<int32_t>{10, 6, 6, 10}));
  EXPECT_EQ(cursor.Frames.Name(0), "Icon 1");
  EXPECT_EQ(cursor.GetStepFrame(3), cursor.GetFrame(1));
  EXPECT_EQ(cursor.StepImage(2)->HotSpot(), (THotSpot{2, 7}));
  EXPECT_NE(dynamic_cast<TAdvancedCursor*>(cursor.GetFrame(0)), nullptr);
  EXPECT_EQ(cursor.Header.nFrames, 3u);
  EXPECT_EQ(cursor.Header.nSteps, 4u);
  EXPECT_EQ(cursor.Header.flags, 3u);
  EXPECT_EQ(cursor.Header.width, 16u);
  EXPECT_EQ(cursor.Header.bitCount, 24u);
  EXPECT_EQ(cursor.Header.dispRate, 10u);
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(TAnimatedCursor, CompletesSequenceAndRates) {
  TAnimatedCursor cursor;
  TMemoryStream stream(Ani({.Frames = 3}));
  cursor.LoadFromStream(stream);
  EXPECT_EQ(cursor.Sequence.ToVector(), (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(cursor.Rates.ToVector(), (std::vector<int32_t>{6, 6, 6}));
  EXPECT_EQ(cursor.Header.flags, 3u);
  EXPECT_EQ(cursor.GetStepFrame(5), nullptr);
}

TEST(TAnimatedCursor, SmallIconChunksAreNoFrames) {
  Bytes tiny = Ani({.Frames = 1});
  // Shrink the frame chunk's size field to 44: the chunk is skipped by its size.
  const Bytes id = {'i', 'c', 'o', 'n'};
  auto at = std::search(tiny.begin(), tiny.end(), id.begin(), id.end()) - tiny.begin();
  tiny[at + 4] = 44, tiny[at + 5] = 0, tiny[at + 6] = 0, tiny[at + 7] = 0;
  TAnimatedCursor cursor;
  TMemoryStream stream(tiny);
  cursor.LoadFromStream(stream);
  EXPECT_EQ(cursor.Frames.Count(), 0);
}

TEST(TAnimatedCursor, RefusesOtherStreams) {
  auto riff = [](const char* id, uint32_t size, const char* form) {
    Bytes b(id, id + 4);
    Put32(b, size);
    b.insert(b.end(), form, form + 4);
    b.resize(64);
    return b;
  };
  for (const Bytes& bytes : {riff("RIFX", 56, "ACON"), riff("RIFF", 43, "ACON"), riff("RIFF", 2000001, "ACON"),
                             riff("RIFF", 56, "WAVE"), Bytes{'R', 'I'}}) {
    TAnimatedCursor cursor;
    TMemoryStream stream(bytes);
    try {
      cursor.LoadFromStream(stream);
      ADD_FAILURE() << "accepted";
    } catch (const EReadError& e) {
      EXPECT_STREQ(e.what(), "Invalid stream format");
    }
  }
}

TEST(TAniCursorImage, AnimatedGifOverButtonFace) {
  TAniCursorImage image;
  TMemoryStream stream(
      Ani({.Frames = 3, .Sequence = {0, 1, 2, 1}, .Rates = {10, 6, 6, 10}, .Title = "Walk", .Artist = "Ann"}));
  image.LoadFromStream(stream);
  EXPECT_EQ(image.StepCount(), 4);
  EXPECT_EQ(image.Depth(), 24);
  const TGifAnimation& gif = image.Animation();
  ASSERT_EQ(gif.Frames.size(), 4u);
  std::vector<int> delays;
  for (const TGifFrame& frame : gif.Frames) {
    delays.push_back(frame.Delay);
    EXPECT_EQ(frame.Disposal, gdRestoreBackground);
    EXPECT_EQ(frame.Bitmap.PixelFormat(), pf8bit);
    EXPECT_EQ(frame.TransparentIndex, -1);
  }
  EXPECT_EQ(delays, (std::vector<int>{17, 10, 10, 17}));
  EXPECT_EQ(gif.LoopCount, 0);
  EXPECT_EQ(gif.Comments, (std::vector<std::string>{"Title: Walk", "Artist: Ann"}));
  EXPECT_EQ(image.Width(), 32);
  TMemoryStream written;
  image.SaveToStream(written);
  const TGifPicture first = DecodeGif(written.Bytes());
  EXPECT_EQ(first.Bitmap.GetPixel(0, 0), AniButtonFace) << "the transparent pixel shows the button face";
  EXPECT_EQ(first.Bitmap.GetPixel(3, 3), RGBColor(255, 0, 0));
}

TEST(AnimatedCursorCorpus, EveryFileLoads) {
  const auto dir = test::CorpusDir() / "ani";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus";
  struct TCase {
    const char* File;
    int Frames, Steps;
  };
  for (const TCase& c : {TCase{"imhex_ani.hexpat.ani", 4, 4}, TCase{"imhex_ani.compatibility.hexpat.ani", 4, 6}}) {
    const std::string path = (dir / c.File).string();
    TAdvancedIcon unused;
    std::vector<std::unique_ptr<TAdvancedIcon>> list;
    EXPECT_TRUE(LoadFromRiffFile(unused, path, 0, &list)) << c.File;
    EXPECT_EQ(list.size(), static_cast<size_t>(c.Frames)) << c.File;
    TAnimatedCursor cursor;
    cursor.LoadFromFile(path);
    EXPECT_EQ(cursor.Frames.Count(), c.Frames) << c.File;
    EXPECT_EQ(cursor.StepCount(), c.Steps) << c.File;
    const auto graphic = LoadAniGraphic(test::ReadAll(dir / c.File));
    EXPECT_GT(graphic->Width(), 0) << c.File;
  }
}

}  // namespace
}  // namespace glyphmill
