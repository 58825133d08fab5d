// Fuzzes icon images made from arbitrary bytes (DIB or PNG): construction, rendering, packing to
// PNG and expanding again, the record forms, and images built from an arbitrary DIB stream.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "icons/subicon.h"

using namespace glyphmill;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the entry's bit count, which steers PNG expansion.
  static const uint16_t BitCounts[] = {0, 1, 4, 8, 16, 24, 32, 2};
  TIconEntry entry;
  entry.wPlanes = 1;
  entry.wBitCount = BitCounts[data[0] % 8];
  const std::vector<uint8_t> bytes(data + 1, data + size);
  try {
    TSubIcon image(entry, bytes);
    TBitmap picture, colour, mask;
    image.RenderBitmaps(&picture, &colour, &mask, 0xFFFFFF);
    image.GetDescription();
    TSubIcon packed;
    image.Pack(packed);
    TSubIcon expanded;
    packed.Unpack(expanded);
    TMemoryStream record;
    image.SaveRecord(record);
    record.SetPosition(0);
    TSubIcon loaded;
    loaded.LoadRecord(record);
  } catch (const std::exception&) {
  }
  try {
    TMemoryStream dib(bytes);
    BuildImageFromDib(dib, nullptr, 0, dib.Size());
  } catch (const std::exception&) {
  }
  {
    TMemoryStream raw(bytes);
    TSubIcon image;
    try {
      image.LoadRawData(raw, (data[0] & 0x80) != 0);
    } catch (const std::exception&) {
    }
    TMemoryStream record(bytes);
    try {
      image.LoadRecord(record);
      record.SetPosition(0);
      TSubIcon::SkipRecord(record);
    } catch (const std::exception&) {
    }
  }
  return 0;
}
