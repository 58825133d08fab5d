#include "modules/dcrreader.h"

#include <algorithm>
#include <cstring>

#include "modules/unitpefile.h"
#include "modules/unitresfile.h"
#include "platform/bitmap.h"
#include "support/byte_reader.h"
#include "support/errors.h"
#include "support/limits.h"

namespace glyphmill {

namespace {

constexpr uint8_t EmptyHeaderEntry[32] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
constexpr size_t DcrHeaderWindow = 103;
constexpr size_t MaxDcrName = 64;

std::unique_ptr<TSubIcon> ImageFromDib(std::span<const uint8_t> dib, int64_t available) {
  TMemoryStream stream(std::vector<uint8_t>(dib.begin(), dib.end()));
  return BuildImageFromDib(stream, nullptr, 0, available);
}

// Images are grouped by position: those before a group resource form the icon it names.
bool LoadGroupedByPosition(std::span<const uint8_t> bytes, TIconLibrary& library) {
  const int before = library.Icons().Count();
  TResModule module;
  TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  module.LoadFromStream(stream);
  std::unique_ptr<TAdvancedIcon> current;
  auto finish = [&](const std::string& name) {
    if (current && current->Images.Count() > 0) library.Icons().AddIcon(name, std::move(current));
    current.reset();
  };
  for (int i = 0; i < module.ResourceCount(); ++i) {
    const TResourceDetails& details = *module.ResourceAt(i);
    const std::string& type = details.TypeText();
    try {
      if (type == "3" || type == "1") {
        auto image = std::make_unique<TSubIcon>();
        TMemoryStream data(std::vector<uint8_t>(details.Data().begin(), details.Data().end()));
        image->LoadRawData(data, type == "1");
        if (image->Empty()) continue;
        if (!current) current = std::make_unique<TAdvancedIcon>();
        current->Images.Add(std::move(image));
      } else if (type == "14" || type == "12") {
        finish(details.NameText());
      } else if (type == "2") {
        finish("");
        auto icon = std::make_unique<TAdvancedIcon>();
        icon->Images.Add(ImageFromDib(details.Data(), static_cast<int64_t>(details.Data().size())));
        library.Icons().AddIcon(details.NameText(), std::move(icon));
      }
    } catch (...) {
      // A resource that cannot be read is skipped; the grouping goes on.
    }
  }
  finish("");
  return library.Icons().Count() > before;
}

// Bitmaps found by walking the raw entry headers, for files the resource reader made nothing of.
void LoadRawEntries(std::span<const uint8_t> bytes, TIconLibrary& library) {
  const TByteReader file(bytes);
  size_t offset = 32;
  while (file.Contains(offset, 8)) {
    const uint32_t dataSize = LoadU32LE(bytes.data() + offset);
    const uint32_t headerSize = LoadU32LE(bytes.data() + offset + 4);
    if (dataSize < 100 || dataSize > 36000000 || headerSize > 1024) return;
    if (!file.Contains(offset, std::max<size_t>(headerSize, 12))) return;
    std::string name;
    for (size_t i = 12; i < headerSize; i += 2) {
      const uint8_t byte = bytes[offset + i];
      if (byte == 0) break;
      name += static_cast<char>(byte);
    }
    const size_t dataStart = offset + headerSize;
    if (file.Contains(dataStart, 4) && LoadU32LE(bytes.data() + dataStart) == 40) {
      const size_t available = std::min<size_t>(dataSize, bytes.size() - dataStart);
      auto icon = std::make_unique<TAdvancedIcon>();
      icon->Images.Add(ImageFromDib(bytes.subspan(dataStart, available), static_cast<int64_t>(available)));
      library.Icons().AddIcon(AnsiNameToText({reinterpret_cast<const uint8_t*>(name.data()), name.size()}),
                              std::move(icon));
    }
    offset = dataStart + dataSize;
  }
}

void LoadDcr(std::span<const uint8_t> bytes, TIconLibrary& library) {
  const std::span<const uint8_t> window = bytes.first(std::min(bytes.size(), DcrHeaderWindow));
  if (window.size() < 3 || window[0] != 0xFF || window[1] != 0x02 || window[2] != 0x00)
    throw EReadError("Header bad: is this a DCR?");
  const auto zero = std::find(window.begin() + 3, window.end(), 0);
  const size_t nameLength = static_cast<size_t>(zero - (window.begin() + 3));
  if (zero == window.end() || nameLength < 1 || nameLength > MaxDcrName) throw EReadError("DCR name is unrecoverable");

  // The fixed fields after the name, zero where the file ends early.
  const size_t fieldsStart = 3 + nameLength + 1;
  const size_t infoStart = fieldsStart + 6;
  std::vector<uint8_t> memory(infoStart + 40, 0);
  std::copy_n(bytes.begin(), std::min(memory.size(), bytes.size()), memory.begin());
  const uint8_t* info = memory.data() + infoStart;
  const uint32_t dataSize = LoadU32LE(memory.data() + fieldsStart + 2);
  const uint32_t infoSize = LoadU32LE(info);
  if (infoSize != 40) throw EReadError(Format("Bad TBITMAPINFOHEADER biSize: %u", infoSize));
  if (LoadU16LE(info + 12) != 1) throw EReadError("Bad biPlanes");
  const uint16_t bitCount = LoadU16LE(info + 14);
  size_t colours;
  switch (bitCount) {
    case 1: colours = 2; break;
    case 4: colours = 16; break;
    case 8: colours = 256; break;
    default: throw EReadError("Bad biBitCount");
  }
  const uint32_t compression = LoadU32LE(info + 16);
  if (compression == 1 && colours != 256) throw EReadError("RLE8 mismatch");
  if (compression == 2 && colours != 16) throw EReadError("RLE4 mismatch");
  if (compression > 3) throw EReadError("Bad biCompression");

  // Uncompressed pixels need RowBytes × height bytes, also when the header leaves the size 0;
  // beyond that, and beyond what the file holds of compressed data, zeros would only be padding.
  const int64_t width = static_cast<int32_t>(LoadU32LE(info + 4));
  const int64_t height = std::abs(static_cast<int64_t>(static_cast<int32_t>(LoadU32LE(info + 8))));
  const bool compressed = compression == 1 || compression == 2;
  size_t uncompressed = 0;
  if (!compressed && width > 0 && PictureSizeAllowed(width, height))
    uncompressed = static_cast<size_t>(RowBytes(static_cast<int>(width), bitCount)) * static_cast<size_t>(height);
  const size_t pixelStart = memory.size() + colours * 4;
  const size_t present = bytes.size() > pixelStart ? bytes.size() - pixelStart : 0;
  uint32_t imageSize = LoadU32LE(info + 20);
  if (imageSize == 0 && !compressed) imageSize = static_cast<uint32_t>(uncompressed);
  const size_t pixelCount = std::min<size_t>(imageSize, std::max(present, uncompressed));
  memory.resize(pixelStart + pixelCount, 0);
  if (bytes.size() > infoStart + 40) {
    const size_t copied = std::min(bytes.size(), memory.size()) - (infoStart + 40);
    std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(infoStart + 40), copied,
                memory.begin() + static_cast<ptrdiff_t>(infoStart + 40));
  }

  const std::string name = AnsiNameToText(bytes.subspan(3, nameLength));
  const size_t available = std::min<size_t>(dataSize, memory.size() - infoStart);
  auto icon = std::make_unique<TAdvancedIcon>();
  icon->Images.Add(ImageFromDib(std::span<const uint8_t>(memory).subspan(infoStart), static_cast<int64_t>(available)));
  library.Icons().AddIcon(name, std::move(icon));
}

}  // namespace

void LoadResourceFileIcons(std::span<const uint8_t> bytes, TIconLibrary& library) {
  if (bytes.size() <= 75) return;
  if (std::memcmp(bytes.data(), EmptyHeaderEntry, sizeof EmptyHeaderEntry) == 0) {
    bool added = false;
    try {
      added = LoadGroupedByPosition(bytes, library);
    } catch (...) {
      added = false;
    }
    if (!added) {
      try {
        LoadRawEntries(bytes, library);
      } catch (...) {
        // Whatever the raw walk found before the fault stays listed.
      }
    }
  } else if (bytes[0] == 0xFF && bytes[1] == 0x02 && bytes[2] == 0x00) {
    LoadDcr(bytes, library);
  }
}

void LoadResourceFileIcons(const std::string& fileName, TIconLibrary& library) {
  LoadResourceFileIcons(ReadFileBytes(fileName), library);
}

}  // namespace glyphmill
