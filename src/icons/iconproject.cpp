#include "icons/iconproject.h"

#include <algorithm>
#include <cstring>

#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

constexpr uint8_t CompactU16 = 252;
constexpr uint8_t CompactEmpty = 253;
constexpr uint8_t CompactU32 = 254;

void Need(TStream& stream, uint64_t count) {
  if (count > static_cast<uint64_t>(std::max<int64_t>(stream.Remaining(), 0))) throw EStreamError("Stream read error");
}

}  // namespace

int64_t ReadCompactLength(TStream& stream) {
  const uint8_t b = stream.ReadU8();
  switch (b) {
    case CompactU16: return stream.ReadU16LE();
    case CompactEmpty: return -1;
    case CompactU32: return stream.ReadU32LE();
    default: return b;
  }
}

void WriteCompactLength(TStream& stream, uint32_t length) {
  if (length < CompactU16) {
    stream.WriteU8(static_cast<uint8_t>(length));
  } else if (length <= 0xFFFF) {
    stream.WriteU8(CompactU16);
    stream.WriteU16LE(static_cast<uint16_t>(length));
  } else {
    stream.WriteU8(CompactU32);
    stream.WriteU32LE(length);
  }
}

// ---- TIconLayer ----------------------------------------------------------------------------

void TIconLayer::LoadFromStream(TStream& stream) {
  Version = stream.ReadU8();
  if (Version != 0) return;
  BitsPerPixel = stream.ReadU8();
  const int32_t width = stream.ReadI32LE();
  const int32_t height = stream.ReadI32LE();
  Bitmap = TBitmap();
  if (width > 0 && height > 0) {
    CheckPictureSize(width, height);
    const size_t length = CheckedMul(CheckedMul(static_cast<size_t>(width), static_cast<size_t>(height)), 4);
    Need(stream, length);
    Bitmap.SetPixelFormat(pf32bit);
    Bitmap.SetSize(width, height);
    stream.ReadBuffer(Bitmap.Bits(), static_cast<int64_t>(length));
  } else if (static_cast<int64_t>(width) * height > 0) {
    // Two negative sides: the bytes are there but make no picture.
    const uint64_t length = static_cast<uint64_t>(static_cast<int64_t>(width) * height) * 4;
    Need(stream, length);
    stream.Seek(static_cast<int64_t>(length), TSeekOrigin::Current);
  }
  Transparency = stream.ReadU8();
  Effect = stream.ReadU8();
  if (Effect != 0) {
    EffectA = stream.ReadI32LE();
    EffectB = stream.ReadI32LE();
    EffectC = stream.ReadU8();
  }
  OffsetX = stream.ReadI32LE();
  OffsetY = stream.ReadI32LE();
  const int64_t nameLength = ReadCompactLength(stream);
  Name.clear();
  if (nameLength > 0) {
    Need(stream, static_cast<uint64_t>(nameLength));
    Name.resize(static_cast<size_t>(nameLength));
    stream.ReadBuffer(Name.data(), nameLength);
  }
  Reserved = stream.ReadI32LE();
  Hidden = stream.ReadU8() != 0;
}

void TIconLayer::SaveToStream(TStream& stream) const {
  stream.WriteU8(Version);
  if (Version != 0) return;
  stream.WriteU8(32);
  stream.WriteI32LE(Bitmap.Width());
  stream.WriteI32LE(Bitmap.Height());
  if (!Bitmap.Empty()) {
    TBitmap pixels(Bitmap);
    pixels.SetPixelFormat(pf32bit);
    stream.WriteBuffer(pixels.Bits(), static_cast<int64_t>(pixels.BitsSize()));
  }
  stream.WriteU8(Transparency);
  stream.WriteU8(Effect);
  if (Effect != 0) {
    stream.WriteI32LE(EffectA);
    stream.WriteI32LE(EffectB);
    stream.WriteU8(EffectC);
  }
  stream.WriteI32LE(OffsetX);
  stream.WriteI32LE(OffsetY);
  WriteCompactLength(stream, static_cast<uint32_t>(Name.size()));
  stream.WriteBuffer(Name.data(), static_cast<int64_t>(Name.size()));
  stream.WriteI32LE(Reserved);
  stream.WriteU8(Hidden ? 1 : 0);
}

// ---- TIconProject --------------------------------------------------------------------------

void TIconProject::LoadFromFile(const std::string& fileName) {
  TMemoryStream stream(ReadFileBytes(fileName));
  LoadFromStream(stream);
}

void TIconProject::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t magic[4] = {};
  const int64_t got = stream.Read(magic, 4);
  if (got == 4 && std::memcmp(magic, IconProjectMagic, 4) == 0) {
    ReadProject(stream);
  } else {
    ReadIconFile(stream, start);
  }
}

void TIconProject::ReadProject(TStream& stream) {
  ProjectIcon.Images.Clear();
  LayerLists.clear();
  FFlag = 0;
  try {
    FFlag = stream.ReadU8();
    const uint32_t imageCount = stream.ReadU32LE();
    for (uint32_t i = 0; i < imageCount && stream.Remaining() > 0; ++i) {
      auto image = std::make_unique<TSubIcon>();
      image->LoadRecord(stream);
      if (FFlag != 0) {
        const uint16_t x = stream.ReadU16LE();
        const uint16_t y = stream.ReadU16LE();
        image->SetHotSpot({x, y});
      }
      // A record without bytes would become an image an icon file cannot hold.
      if (!image->Empty()) ProjectIcon.Images.Add(std::move(image));
    }
    const uint32_t listCount = stream.ReadU32LE();
    for (uint32_t i = 0; i < listCount; ++i) {
      auto list = std::make_unique<TIconLayersList>();
      const uint32_t layerCount = stream.ReadU32LE();
      LayerLists.push_back(std::move(list));
      for (uint32_t j = 0; j < layerCount; ++j) {
        auto layer = std::make_unique<TIconLayer>();
        layer->LoadFromStream(stream);
        LayerLists.back()->Layers.push_back(std::move(layer));
      }
    }
    if (FFlag != 0) {
      const uint32_t length = stream.ReadU32LE();
      stream.Seek(std::min<int64_t>(length, std::max<int64_t>(stream.Remaining(), 0)), TSeekOrigin::Current);
    }
  } catch (const EGlyphmillError&) {
    // A short or damaged file keeps what was read before the fault.
  }
}

void TIconProject::ReadIconFile(TStream& stream, int64_t start) {
  FFlag = 0;
  LayerLists.clear();
  ProjectIcon.Images.Clear();
  stream.SetPosition(start);
  uint8_t head[4] = {};
  if (stream.Read(head, 4) != 4) return;
  stream.SetPosition(start);
  if (LoadU16LE(head + 2) == 2) {
    TAdvancedCursor cursor;
    cursor.LoadCursorFromStream(stream);
    ProjectIcon.Images.TakeAll(&cursor);
  } else {
    ProjectIcon.LoadFromStream(stream);
  }
  for (int i = 0; i < ProjectIcon.Images.Count(); ++i) LayerLists.push_back(std::make_unique<TIconLayersList>());
}

void TIconProject::SaveToStream(TStream& stream) const {
  const bool hotSpots = std::any_of(ProjectIcon.Images.begin(), ProjectIcon.Images.end(),
                                    [](const auto& image) { return image->HotSpot() != THotSpot{}; });
  stream.WriteBuffer(IconProjectMagic, 4);
  stream.WriteU8(hotSpots ? 1 : 0);
  stream.WriteU32LE(static_cast<uint32_t>(ProjectIcon.Images.Count()));
  for (const auto& image : ProjectIcon.Images) {
    image->SaveRecord(stream);
    if (hotSpots) {
      stream.WriteU16LE(image->HotSpot().X);
      stream.WriteU16LE(image->HotSpot().Y);
    }
  }
  stream.WriteU32LE(static_cast<uint32_t>(LayerLists.size()));
  for (const auto& list : LayerLists) {
    stream.WriteU32LE(static_cast<uint32_t>(list->Layers.size()));
    for (const auto& layer : list->Layers) layer->SaveToStream(stream);
  }
  if (hotSpots) {
    stream.WriteU32LE(4);
    stream.WriteU32LE(0);
  }
}

int TIconProject::Width() const { return ProjectIcon.GetMaxDimensions().Width; }
int TIconProject::Height() const { return ProjectIcon.GetMaxDimensions().Height; }

void TIconProject::Draw(TBitmap& target, TRect rect) const {
  const TSubIcon* image = ProjectIcon.FindBest(32, 32, 255);
  if (!image) return;
  TBitmap colour, mask;
  image->RenderBitmaps(nullptr, &colour, &mask, 0);
  if (colour.PixelFormat() == pf32bit)
    TBitmapGraphic(std::move(colour), true).Draw(target, rect);
  else
    TBitmapGraphic(std::move(colour), std::move(mask)).Draw(target, rect);
}

void LoadIconProjectFile(TAdvancedIcon& icon, const std::string& fileName) {
  TIconProject project;
  project.LoadFromFile(fileName);
  icon.Assign(project.ProjectIcon);
}

bool LoadIconProjectSource(const std::string& fileName, TAdvancedIcon& icon,
                           std::vector<std::unique_ptr<TAdvancedIcon>>& split) {
  TIconProject project;
  project.LoadFromFile(fileName);
  icon.Assign(project.ProjectIcon);
  if (project.Flag() != SplitProjectFlag) return false;
  while (icon.Images.Count() > 0) {
    auto single = std::make_unique<TAdvancedIcon>();
    single->Images.TakeFrom(&icon, 0);
    split.push_back(std::move(single));
  }
  return true;
}

std::unique_ptr<TGraphic> LoadIconProjectGraphic(std::span<const uint8_t> bytes) {
  auto project = std::make_unique<TIconProject>();
  TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  project->LoadFromStream(stream);
  return project;
}

}  // namespace glyphmill
