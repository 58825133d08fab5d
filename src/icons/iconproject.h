// Icon projects (ICPR): the finished images of an icon with the layers each was composed from.
// TIconProject reads (and can write) the format and draws as a picture; the conversion takes only
// the images, as one icon or, when the project's flag byte is 4, as one icon per image.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "icons/advancedicon.h"
#include "platform/bitmap.h"
#include "platform/picture.h"
#include "support/streams.h"

namespace glyphmill {

inline constexpr uint8_t IconProjectMagic[4] = {0xB7, 0x49, 0x43, 0x50};
// The flag byte that asks the conversion for one icon per image.
inline constexpr uint8_t SplitProjectFlag = 4;

// The length prefix of layer names: one byte below 252 (or 255) is the length; 252 is followed by
// a u16 length, 254 by a u32 length; 253 stands for an empty text.
int64_t ReadCompactLength(TStream& stream);
void WriteCompactLength(TStream& stream, uint32_t length);

class TIconLayer {
public:
  TBitmap Bitmap;  // 32-bit, blue, green, red, alpha
  uint8_t Version = 0;
  uint8_t BitsPerPixel = 32;
  uint8_t Transparency = 0;  // alpha is scaled by (255 - value) / 255
  uint8_t Effect = 0;
  int32_t EffectA = 0;
  int32_t EffectB = 0;
  uint8_t EffectC = 0;
  int32_t OffsetX = 0;
  int32_t OffsetY = 0;
  std::string Name;
  int32_t Reserved = 0;
  bool Hidden = false;

  // A record of another version ends after its version byte.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
};

class TIconLayersList {
public:
  std::vector<std::unique_ptr<TIconLayer>> Layers;
};

class TIconProject : public TGraphic {
public:
  std::vector<std::unique_ptr<TIconLayersList>> LayerLists;
  TAdvancedIcon ProjectIcon;

  // A stream without the magic is read as an icon or cursor file; neither gives an empty project.
  // Short or damaged data ends the reading with what was read.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& stream) const;

  // The flag byte read (0 for icon and cursor files).
  uint8_t Flag() const { return FFlag; }
  bool Empty() const { return ProjectIcon.Images.Count() == 0; }
  // The largest width and height over the images.
  int Width() const override;
  int Height() const override;
  // The image closest to 32 × 32 with the highest depth, stretched into rect.
  void Draw(TBitmap& target, TRect rect) const override;

private:
  void ReadProject(TStream& stream);
  void ReadIconFile(TStream& stream, int64_t start);

  uint8_t FFlag = 0;
};

// The conversion's entry: icon receives a copy of every image of the project (PNG images are
// expanded and marked for PNG storage).
void LoadIconProjectFile(TAdvancedIcon& icon, const std::string& fileName);

// Loads a project source into icon. When its flag byte is 4 the images are then moved, in order,
// each into a new icon of its own appended to split, and icon ends empty; returns whether it split.
bool LoadIconProjectSource(const std::string& fileName, TAdvancedIcon& icon,
                           std::vector<std::unique_ptr<TAdvancedIcon>>& split);

// The picture of an ".icpr" file for the registry.
std::unique_ptr<TGraphic> LoadIconProjectGraphic(std::span<const uint8_t> bytes);

}  // namespace glyphmill
