#include "app/conversionoptions.h"

#include "platform/folders.h"

namespace glyphmill {

void TConversionOptions::AddSize(int32_t width, int32_t height) {
  FWidths.Add(width);
  FHeights.Add(height);
}

bool TConversionOptions::HasSize(int32_t width, int32_t height) const {
  for (int32_t i = 0; i < FWidths.Count(); ++i)
    if (FWidths[i] == width && FHeights[i] == height) return true;
  return false;
}

void OptionsFromSettings(const TPageSettings& settings, TConversionOptions& options) {
  const TDestinationSettings& destination = settings.Destination;
  options.DestFolder = destination.FDirAsSource ? std::string() : AddTrailingBackslash(destination.FDir);
  options.Overwrite = destination.FOverwrite;

  options.FWidths.Clear();
  options.FHeights.Clear();
  options.FDepths.Clear();
  const std::pair<bool, int> squares[] = {{destination.FSizeAsIs, 0}, {destination.FSize16, 16},
                                          {destination.FSize24, 24},  {destination.FSize32, 32},
                                          {destination.FSize48, 48},  {destination.FSize256, 256}};
  for (const auto& [checked, side] : squares)
    if (checked) options.AddSize(side, side);
  if (destination.FSizeCustom) options.AddSize(destination.FCustomWidth, destination.FCustomHeight);
  const std::pair<bool, int> depths[] = {{destination.FDepthAsIs, 0}, {destination.FDepth1, 1},
                                         {destination.FDepth4, 4},    {destination.FDepth8, 8},
                                         {destination.FDepth24, 24},  {destination.FDepth32, 32}};
  for (const auto& [checked, bits] : depths)
    if (checked) options.FDepths.Add(bits);

  options.ZoomToFit = destination.FZoom;
  options.ShrinkToFit = destination.FShrink;
  options.KeepProportions = destination.FStoreProportions;
  options.Smooth = destination.FSmooth;
  options.PngLargeImages = destination.FPackLargeImages;

  const int mode = settings.Transparency.FCheckedMode;
  options.TransparencyMode = mode == TTransparencySettings::NoModeChecked ? tmNone : mode;
  options.TransparentColor = options.TransparencyMode == tmColor ? settings.Transparency.FColor24 : NoColor;
}

}  // namespace glyphmill
