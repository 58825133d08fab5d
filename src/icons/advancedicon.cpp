#include "icons/advancedicon.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "support/byte_reader.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

constexpr int DirEntrySize = 16;
// Readers stop once the images of one set reach this many bytes: directory entries may all point
// at one large image, and a small file must not ask for unbounded memory.
constexpr int64_t MaxHeldImageBytes = 256LL * 1024 * 1024;

// Property-streaming value tags.
constexpr uint8_t vaInt8 = 2, vaInt16 = 3, vaInt32 = 4;

int SizeDistance(int actual, int wanted) {
  if (wanted == 0) return 0;
  // More than an eighth smaller than wanted: a larger image is always preferred.
  if (static_cast<double>(actual - wanted) / wanted < -0.125) return 4096;
  return std::abs(actual - wanted);
}

int DepthDistance(int actual, int wanted) {
  if (wanted == 0) return 0;
  return std::abs(actual - wanted) + (wanted == 16 && actual < 8 ? 8 : 0);
}

// Higher depth first; at equal depth the wider image first, a Mac-compressed image counting one
// pixel narrower.
int CompareForSort(const TSubIcon& a, const TSubIcon& b) {
  const int depthA = a.GetBitsPerPixel(), depthB = b.GetBitsPerPixel();
  if (depthA != depthB) return depthA > depthB ? -1 : 1;
  const int widthA = a.GetWidth() - (a.IsMacCompressed() ? 1 : 0);
  const int widthB = b.GetWidth() - (b.IsMacCompressed() ? 1 : 0);
  if (widthA != widthB) return widthA > widthB ? -1 : 1;
  return 0;
}

void QuickSort(std::vector<std::unique_ptr<TSubIcon>>& items, int left, int right) {
  int i = left;
  do {
    i = left;
    int j = right;
    const TSubIcon* pivot = items[static_cast<size_t>((left + right) >> 1)].get();
    do {
      while (CompareForSort(*items[static_cast<size_t>(i)], *pivot) < 0) ++i;
      while (CompareForSort(*items[static_cast<size_t>(j)], *pivot) > 0) --j;
      if (i <= j) {
        std::swap(items[static_cast<size_t>(i)], items[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (left < j) QuickSort(items, left, j);
    left = i;
  } while (i < right);
}

struct TImageKey {
  int Width, Height, Depth;
  bool operator==(const TImageKey&) const = default;
};

TImageKey KeyOf(const TSubIcon& image) { return {image.GetWidth(), image.GetHeight(), image.GetBitsPerPixel()}; }

}  // namespace

// ---- TSubIconList --------------------------------------------------------------------------

TSubIcon* TSubIconList::Get(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(index)].get();
}

int TSubIconList::Add(std::unique_ptr<TSubIcon> image) {
  if (Count() >= MaxCount) throw EGlyphmillError("Too many images in icon");
  FItems.push_back(std::move(image));
  FCapacity = std::max(FCapacity, Count());
  return Count() - 1;
}

void TSubIconList::Insert(int index, std::unique_ptr<TSubIcon> image) {
  if (index < 0 || index >= Count()) {
    Add(std::move(image));
    return;
  }
  if (Count() >= MaxCount) throw EGlyphmillError("Too many images in icon");
  FItems.insert(FItems.begin() + index, std::move(image));
  FCapacity = std::max(FCapacity, Count());
}

void TSubIconList::Delete(int index) { Extract(index); }

std::unique_ptr<TSubIcon> TSubIconList::Extract(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  std::unique_ptr<TSubIcon> image = std::move(FItems[static_cast<size_t>(index)]);
  FItems.erase(FItems.begin() + index);
  return image;
}

void TSubIconList::Move(int from, int to) {
  if (from == to || from < 0 || from >= Count() || to < 0 || to >= Count()) return;
  std::unique_ptr<TSubIcon> image = std::move(FItems[static_cast<size_t>(from)]);
  FItems.erase(FItems.begin() + from);
  FItems.insert(FItems.begin() + to, std::move(image));
}

void TSubIconList::SetCapacity(int capacity) {
  FCapacity = std::clamp(capacity, Count(), MaxCount);
  FItems.reserve(static_cast<size_t>(FCapacity));
}

void TSubIconList::TakeFrom(TAdvancedIcon* icon, int index) {
  if (!icon || &icon->Images == this) return;
  std::unique_ptr<TSubIcon> image = icon->Images.Extract(index);
  if (image) Add(std::move(image));
}

void TSubIconList::TakeAll(TAdvancedIcon* icon) {
  if (!icon || &icon->Images == this) return;
  while (icon->Images.Count() > 0) Add(icon->Images.Extract(0));
}

void TSubIconList::Clear() {
  FItems.clear();
  FItems.shrink_to_fit();
  FCapacity = 0;
}

void TSubIconList::Sort() {
  if (Count() > 1) QuickSort(FItems, 0, Count() - 1);
}

void TSubIconList::AddFromBitmap(const TBitmap& bitmap, const TBitmap* mask, uint8_t byteArg) {
  Add(PrepareImageFromBitmap(bitmap, mask, byteArg));
}

int TSubIconList::FindBestIndex(int width, int height, int depth) const {
  if (Count() == 0) return -1;
  int best = 0;
  int bestSize = 0, bestDepth = 0;
  for (int i = 0; i < Count(); ++i) {
    const TSubIcon& image = *FItems[static_cast<size_t>(i)];
    const int size = SizeDistance(image.GetWidth(), width) + SizeDistance(image.GetHeight(), height);
    const int depthDistance = DepthDistance(image.GetBitsPerPixel(), depth);
    if (i == 0 || size < bestSize || (size == bestSize && depthDistance < bestDepth)) {
      best = i;
      bestSize = size;
      bestDepth = depthDistance;
    }
  }
  return best;
}

int TSubIconList::FindExact(int width, int height, int depth) const {
  for (int i = 0; i < Count(); ++i)
    if (KeyOf(*FItems[static_cast<size_t>(i)]) == TImageKey{width, height, depth}) return i;
  return -1;
}

// ---- TAdvancedIcon: reading ----------------------------------------------------------------

void TAdvancedIcon::Assign(const TAdvancedIcon& source) {
  if (&source == this) return;
  Images.Clear();
  Images.SetCapacity(source.Images.Count());
  for (const auto& image : source.Images) Images.Add(TSubIcon::CreateCopy(*image));
}

bool TAdvancedIcon::ReadHeader(TStream& stream, TIconDirHeader& header) {
  header.Reserved = stream.ReadU16LE();
  header.Type = stream.ReadU16LE();
  header.Count = stream.ReadU16LE();
  if (!header.Valid()) return false;
  Images.SetCapacity(std::max<int>(header.Count, Images.Count()));
  return true;
}

bool TAdvancedIcon::LoadFromFile(const std::string& fileName) {
  TFileMappingStream stream(fileName);
  return LoadFromFileStream(stream);
}

bool TAdvancedIcon::LoadFromFileStream(TStream& stream) {
  Images.Clear();
  const int64_t size = stream.Size();
  TIconDirHeader header;
  bool valid = false;
  stream.SetPosition(0);
  try {
    valid = ReadHeader(stream, header);
  } catch (const EStreamError&) {
    return false;
  }
  if (!valid) {
    if (size < 22) return false;
    stream.SetPosition(0);
    const uint16_t first = stream.ReadU16LE();
    stream.SetPosition(18);
    if (first != 1 || stream.ReadU32LE() != 40) return false;
    auto image = std::make_unique<TFileIconImage>();
    try {
      image->LoadHeaderlessIco(stream);
    } catch (const std::exception&) {
      return false;
    }
    if (!image->Empty()) Images.Add(std::move(image));
    return false;
  }
  int64_t held = 0;
  for (int i = 0; i < header.Count; ++i) {
    uint8_t entryBytes[DirEntrySize];
    if (stream.Read(entryBytes, DirEntrySize) != DirEntrySize) break;
    const int64_t next = stream.Position();
    const TIconEntry entry =
        TIconEntry::FromBytes(std::span<const uint8_t, TIconEntry::Size>(entryBytes, TIconEntry::Size));
    const int64_t offset = LoadU32LE(entryBytes + 12);
    // An offset into the header or directory, or past the end, ends the directory.
    if (next > offset || offset >= size) break;
    if (entry.dwBytesInRes <= 40 || entry.dwBytesInRes > size) continue;
    try {
      stream.SetPosition(offset);
      auto image = std::make_unique<TFileIconImage>(stream, entry, TEntryRead::Sequential);
      held += static_cast<int64_t>(image->Data().size());
      if (held > MaxHeldImageBytes) break;
      Images.Add(std::move(image));
    } catch (const std::exception&) {
      // A damaged image is dropped; the others are still worth having.
    }
    stream.SetPosition(next);
  }
  return Images.Count() > 0;
}

bool TAdvancedIcon::ReadSet(TStream& stream, bool relative, bool cursor) {
  const int64_t base = relative ? stream.Position() : 0;
  TIconDirHeader header;
  if (!ReadHeader(stream, header)) return false;
  const bool hotSpots = cursor && header.Type == 2;
  int64_t held = 0;
  for (int i = 0; i < header.Count; ++i) {
    std::unique_ptr<TSubIcon> image;
    if (cursor)
      image = std::make_unique<TFileCursorImage>(stream, base, hotSpots);
    else
      image = std::make_unique<TFileIconImage>(stream, base, false);
    held += static_cast<int64_t>(image->Data().size());
    if (held > MaxHeldImageBytes) throw EReadError("Icon too large");
    Images.Add(std::move(image));
  }
  return true;
}

bool TAdvancedIcon::LoadFromStream(TStream& stream) {
  Images.Clear();
  ReadSet(stream, false, false);
  return Images.Count() > 0;
}

bool TAdvancedIcon::LoadFromStreamAt(TStream& stream) { return ReadSet(stream, true, false); }

bool TAdvancedIcon::LoadCursorFromStream(TStream& stream) {
  Images.Clear();
  ReadSet(stream, false, true);
  return Images.Count() > 0;
}

bool TAdvancedIcon::LoadCursorFromStreamAt(TStream& stream) { return ReadSet(stream, true, true); }

// ---- TAdvancedIcon: writing ----------------------------------------------------------------

void TAdvancedIcon::WriteSet(TStream& stream, bool cursor) const {
  const int count = Images.Count();
  if (count == 0) return;
  stream.WriteU16LE(0);
  stream.WriteU16LE(cursor ? 2 : 1);
  stream.WriteU16LE(static_cast<uint16_t>(count));
  // Images follow the directory back to back in list order.
  uint64_t offset = TIconDirHeader::Size + static_cast<uint64_t>(DirEntrySize) * count;
  for (const auto& image : Images) {
    TIconEntry entry = image->Entry();
    if (cursor) {
      entry.wPlanes = image->HotSpot().X;
      entry.wBitCount = image->HotSpot().Y;
    }
    if (offset > 0xFFFFFFFFu) throw EGlyphmillError("Icon too large");
    entry.Write(stream);
    stream.WriteU32LE(static_cast<uint32_t>(offset));
    offset += image->Data().size();
  }
  for (const auto& image : Images) image->WriteData(stream);
}

void TAdvancedIcon::SaveToStream(TStream& stream) const {
  bool packing = false;
  for (const auto& image : Images) packing = packing || (image->Packed() && !image->IsPngData());
  if (!packing) {
    WriteSet(stream, false);
    return;
  }
  // Packing happens in a temporary copy, so the icon keeps its DIB images.
  TAdvancedIcon packed;
  packed.Images.SetCapacity(Images.Count());
  for (const auto& image : Images) {
    auto copy = std::make_unique<TSubIcon>();
    if (image->Packed() && !image->IsPngData())
      image->Pack(*copy);
    else
      image->AssignTo(*copy);
    packed.Images.Add(std::move(copy));
  }
  packed.WriteSet(stream, false);
}

void TAdvancedIcon::SaveToFile(const std::string& fileName) const {
  if (Images.Count() == 0) throw EGlyphmillError("No images in icon");
  TMemoryStream stream;
  SaveToStream(stream);
  WriteFileAtomically(fileName, stream.Bytes());
}

void TAdvancedIcon::SaveCursorToStream(TStream& stream) const { WriteSet(stream, true); }

void TAdvancedIcon::WriteImages(TStream& stream) const {
  WriteFilerInteger(stream, Images.Count());
  for (const auto& image : Images) image->WriteFiler(stream);
}

void TAdvancedIcon::ReadImages(TStream& stream) {
  const int32_t count = ReadFilerInteger(stream);
  Images.Clear();
  // Every record takes at least one byte.
  if (count < 0 || count > TSubIconList::MaxCount || count > stream.Remaining())
    throw EReadError("Invalid property value");
  Images.SetCapacity(count);
  for (int i = 0; i < count; ++i) {
    auto image = std::make_unique<TSubIcon>();
    image->ReadFiler(stream);
    Images.Add(std::move(image));
  }
}

// ---- TAdvancedIcon: lookups and order ------------------------------------------------------

TSubIcon* TAdvancedIcon::FindBest(int width, int height, int depth) const {
  return Images.Get(Images.FindBestIndex(width, height, depth));
}

TIconHandle TAdvancedIcon::FindBestHandle(int width, int height, int depth) const {
  const TSubIcon* image = FindBest(width, height, depth);
  return image ? image->GetHandle() : nullptr;
}

TIconDimensions TAdvancedIcon::GetMaxDimensions() const {
  TIconDimensions result;
  for (const auto& image : Images) {
    result.Width = std::max(result.Width, image->GetWidth());
    result.Height = std::max(result.Height, image->GetHeight());
    result.Depth = std::max(result.Depth, image->GetBitsPerPixel());
  }
  return result;
}

void TAdvancedIcon::DrawToPicture(TBitmap& picture, int width, int height, int depth, TColor background) const {
  const TSubIcon* image = FindBest(width, height, depth);
  if (!image) return;
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(image->GetWidth(), image->GetHeight());
  if (image->Entry().wBitCount == 32) {
    image->DrawMasked(bitmap, 0, 0, background);
  } else {
    bitmap.FillRect(Rect(0, 0, bitmap.Width(), bitmap.Height()), background);
    if (image->GetWidth() < 127 && image->GetHeight() < 127)
      image->Draw(bitmap, 0, 0);
    else
      image->DrawMasked(bitmap, 0, 0, background);
  }
  picture.Assign(bitmap);
}

bool TAdvancedIcon::ArrangeStandardOrder() {
  const int count = Images.Count();
  if (count < 2) return false;
  std::vector<TImageKey> keys;
  keys.reserve(static_cast<size_t>(count));
  for (const auto& image : Images) keys.push_back(KeyOf(*image));
  const TImageKey first = keys[0];
  if (std::all_of(keys.begin(), keys.end(), [&](const TImageKey& k) { return k == first; })) return false;
  if (std::none_of(keys.begin(), keys.end(), [&](const TImageKey& k) { return k.Height == first.Width; })) return false;

  std::vector<int> order;
  std::vector<bool> moved(static_cast<size_t>(count), false);
  for (const int depth : {4, 8, 32}) {
    int limit = 257;
    for (;;) {
      int best = -1;
      for (int i = 0; i < count; ++i) {
        const TImageKey& k = keys[static_cast<size_t>(i)];
        if (moved[static_cast<size_t>(i)] || k.Depth != depth || k.Width != k.Height || k.Width >= limit) continue;
        if (best < 0 || k.Width > keys[static_cast<size_t>(best)].Width) best = i;
      }
      if (best < 0) break;
      moved[static_cast<size_t>(best)] = true;
      order.push_back(best);
      limit = keys[static_cast<size_t>(best)].Width;
    }
  }
  for (int i = 0; i < count; ++i)
    if (!moved[static_cast<size_t>(i)]) order.push_back(i);

  std::vector<std::unique_ptr<TSubIcon>> taken;
  while (Images.Count() > 0) taken.push_back(Images.Extract(0));
  bool changed = false;
  for (int i = 0; i < count; ++i) {
    const int from = order[static_cast<size_t>(i)];
    changed = changed || !(keys[static_cast<size_t>(from)] == keys[static_cast<size_t>(i)]);
    Images.Add(std::move(taken[static_cast<size_t>(from)]));
  }
  return changed;
}

// ---- filer integers ------------------------------------------------------------------------

void WriteFilerInteger(TStream& stream, int32_t value) {
  if (value >= -128 && value <= 127) {
    stream.WriteU8(vaInt8);
    stream.WriteU8(static_cast<uint8_t>(static_cast<int8_t>(value)));
  } else if (value >= -32768 && value <= 32767) {
    stream.WriteU8(vaInt16);
    stream.WriteU16LE(static_cast<uint16_t>(static_cast<int16_t>(value)));
  } else {
    stream.WriteU8(vaInt32);
    stream.WriteI32LE(value);
  }
}

int32_t ReadFilerInteger(TStream& stream) {
  switch (stream.ReadU8()) {
    case vaInt8: return static_cast<int8_t>(stream.ReadU8());
    case vaInt16: return static_cast<int16_t>(stream.ReadU16LE());
    case vaInt32: return stream.ReadI32LE();
    default: throw EReadError("Invalid property value");
  }
}

}  // namespace glyphmill
