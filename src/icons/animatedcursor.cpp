#include "icons/animatedcursor.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "support/byte_reader.h"
#include "support/errors.h"

namespace glyphmill {

namespace {

constexpr int64_t MinAniRiffSize = 44;
// "icon" chunks of the document outside (44, 500000) are not frames.
constexpr uint32_t MinFrameChunkSize = 44;
constexpr uint32_t MaxFrameChunkSize = 500000;

bool TagIs(std::span<const uint8_t> bytes, size_t offset, const char* tag) {
  return offset <= bytes.size() && bytes.size() - offset >= 4 && std::memcmp(bytes.data() + offset, tag, 4) == 0;
}

bool TagIsNoCase(const uint8_t* p, const char* lowerTag) {
  for (int i = 0; i < 4; ++i)
    if (std::tolower(p[i]) != lowerTag[i]) return false;
  return true;
}

bool ValidDirHeader(const uint8_t* p) {
  TIconDirHeader header;
  header.Reserved = LoadU16LE(p);
  header.Type = LoadU16LE(p + 2);
  header.Count = LoadU16LE(p + 4);
  return header.Valid() && header.Count != 0;
}

std::string ReadText(TStream& stream, uint32_t length) {
  std::string text(length, '\0');
  stream.ReadBuffer(text.data(), length);
  return text;
}

}  // namespace

bool LoadFromRiffBytes(TAdvancedIcon& icon, std::span<const uint8_t> bytes, int most,
                       std::vector<std::unique_ptr<TAdvancedIcon>>* list) {
  const size_t size = bytes.size();
  if (size > static_cast<size_t>(MaxAniFileSize) || size < 12) return false;
  if (!TagIs(bytes, 0, "RIFF") || LoadU32LE(bytes.data() + 4) > size) return false;
  size_t position = 8;
  if (!TagIs(bytes, 8, "ACON")) {
    // Some writers leave the form type out and start with the first chunk.
    const bool formless = TagIs(bytes, 8, "anih") || TagIs(bytes, 8, "rate") || TagIs(bytes, 8, "seq ") ||
                          (std::memcmp(bytes.data() + 8, "seq", 3) == 0 && bytes[11] == 0);
    if (!formless) return false;
    const uint8_t* found = nullptr;
    for (size_t i = 8; i + 4 <= size && !found; ++i)
      if (std::memcmp(bytes.data() + i, "ACON", 4) == 0) found = bytes.data() + i;
    if (!found) return false;
    position = static_cast<size_t>(found - bytes.data());
  }

  TMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  const size_t countBefore = list ? list->size() : static_cast<size_t>(icon.Images.Count());
  auto reached = [&] {
    if (most <= 0) return false;
    const size_t count = list ? list->size() - countBefore : static_cast<size_t>(icon.Images.Count()) - countBefore;
    return count >= static_cast<size_t>(most);
  };
  while (position + 4 <= size && !reached()) {
    if (!TagIsNoCase(bytes.data() + position, "icon")) {
      ++position;
      continue;
    }
    position += 4;
    if (position + 4 + TIconDirHeader::Size > size) break;
    const uint32_t chunkSize = LoadU32LE(bytes.data() + position);
    position += 4;
    if (chunkSize == 0 || chunkSize >= size || !ValidDirHeader(bytes.data() + position)) continue;
    auto frame = std::make_unique<TAdvancedIcon>();
    stream.SetPosition(static_cast<int64_t>(position));
    try {
      frame->LoadFromStreamAt(stream);
    } catch (const std::exception&) {
      // A damaged frame is dropped; the scan goes on after its directory header.
      position += TIconDirHeader::Size;
      continue;
    }
    position = static_cast<size_t>(stream.Position());
    if (list) {
      list->push_back(std::move(frame));
    } else {
      for (int i = 0; i < frame->Images.Count() && !reached(); ++i) icon.Images.Add(frame->Images.Extract(0));
    }
  }
  return list ? list->size() > countBefore : static_cast<size_t>(icon.Images.Count()) > countBefore;
}

bool LoadFromRiffFile(TAdvancedIcon& icon, const std::string& fileName, int most,
                      std::vector<std::unique_ptr<TAdvancedIcon>>* list) {
  TFileStream file(fileName, TFileMode::OpenRead);
  const int64_t size = file.Size();
  if (size > MaxAniFileSize || size < 12) return false;
  uint8_t head[8];
  file.ReadBuffer(head, sizeof head);
  if (std::memcmp(head, "RIFF", 4) != 0 || LoadU32LE(head + 4) > static_cast<uint64_t>(size)) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  file.SetPosition(0);
  file.ReadBuffer(bytes.data(), size);
  return LoadFromRiffBytes(icon, bytes, most, list);
}

// ---- TAnimatedCursor -----------------------------------------------------------------------

void TAnimatedCursor::Clear() {
  Title.clear();
  Artist.clear();
  Sequence.Clear();
  Frames.Clear();
  Rates.Clear();
}

void TAnimatedCursor::LoadFromFile(const std::string& fileName) {
  TMemoryStream stream(ReadFileBytes(fileName));
  LoadFromStream(stream);
}

void TAnimatedCursor::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  char id[4];
  if (stream.Read(id, 4) != 4) throw EReadError("Invalid stream format");
  uint32_t riffSize = 0;
  if (stream.Read(&riffSize, 4) != 4) throw EReadError("Invalid stream format");
  char form[4];
  if (std::memcmp(id, "RIFF", 4) != 0 || riffSize < MinAniRiffSize || riffSize > MaxAniFileSize ||
      stream.Read(form, 4) != 4 || std::memcmp(form, "ACON", 4) != 0)
    throw EReadError("Invalid stream format");
  Clear();
  // The RIFF size counts the bytes after the size field.
  const int64_t end = start + 8 + riffSize;
  ReadChunks(stream, std::min(end, stream.Size()));
  stream.SetPosition(end);
  Complete();
}

void TAnimatedCursor::ReadChunks(TStream& stream, int64_t end) {
  // A file shorter than its RIFF size ends the reading where its data ends.
  while (stream.Position() + 8 <= end) {
    uint8_t tag[4];
    stream.ReadBuffer(tag, 4);
    const uint32_t size = stream.ReadU32LE();
    const int64_t dataStart = stream.Position();
    const int64_t next = dataStart + size;
    if (TagIsNoCase(tag, "list")) {
      if (dataStart + 4 > end) break;
      char type[4];
      stream.ReadBuffer(type, 4);
      if (std::memcmp(type, "INFO", 4) != 0) continue;  // "fram" and others: sub-chunks read in line
      const int64_t listEnd = std::min(next, end);
      while (stream.Position() + 8 <= listEnd) {
        uint8_t subTag[4];
        stream.ReadBuffer(subTag, 4);
        const uint32_t subSize = stream.ReadU32LE();
        const int64_t subStart = stream.Position();
        const bool title = TagIsNoCase(subTag, "inam"), artist = TagIsNoCase(subTag, "iart");
        if ((title || artist) && subSize > 0 && subStart + subSize <= end) {
          std::string text = ReadText(stream, subSize - 1);
          text.resize(std::strlen(text.c_str()));
          (title ? Title : Artist) = std::move(text);
          stream.SetPosition(subStart + subSize + (subSize & 1));
        } else {
          stream.SetPosition(subStart + subSize);
        }
      }
    } else if (TagIsNoCase(tag, "anih")) {
      uint32_t values[9];
      for (uint32_t& value : values) value = stream.ReadU32LE();
      Header = {values[0], values[1], values[2], values[3], values[4], values[5], values[6], values[7], values[8]};
    } else if (TagIsNoCase(tag, "rate") || TagIsNoCase(tag, "seq ")) {
      TListLongint& values = TagIsNoCase(tag, "rate") ? Rates : Sequence;
      const int64_t count = std::min<int64_t>(size, end - dataStart) / 4;
      for (int64_t i = 0; i < count; ++i) values.Add(stream.ReadI32LE());
    } else if (TagIsNoCase(tag, "icon") && size > MinFrameChunkSize && size < MaxFrameChunkSize) {
      uint8_t head[TIconDirHeader::Size];
      if (stream.Read(head, sizeof head) == sizeof head && ValidDirHeader(head)) {
        stream.SetPosition(dataStart);
        auto frame = std::make_unique<TAdvancedCursor>();
        frame->LoadCursorFromStreamAt(stream);
        Frames.AddIcon("", std::move(frame));
      }
    }
    stream.SetPosition(next);
  }
}

void TAnimatedCursor::Complete() {
  if (Sequence.Count() == 0) {
    for (int i = 0; i < Frames.Count(); ++i) Sequence.Add(i);
    Header.flags |= 2;
  }
  if (Rates.Count() == 0) {
    // A header may claim any step count; rates beyond the sequence would never be shown.
    const int64_t steps = std::min<int64_t>(Header.nSteps, Sequence.Count());
    for (int64_t i = 0; i < steps; ++i) Rates.Add(static_cast<int32_t>(Header.dispRate));
  }
  Header.cbSize = TAniHeader::Size;
  Header.nFrames = static_cast<uint32_t>(Frames.Count());
  if (Sequence.Count() > 0) Header.nSteps = static_cast<uint32_t>(Sequence.Count());
  Header.flags = Sequence.Count() > 0 ? 3 : 1;
  if (const TSubIcon* image = FrameImage(0)) {
    Header.width = static_cast<uint32_t>(image->GetWidth());
    Header.height = static_cast<uint32_t>(image->GetHeight());
    Header.bitCount = static_cast<uint32_t>(image->GetBitsPerPixel());
    Header.planes = 1;
  }
  if (Rates.Count() > 0) Header.dispRate = static_cast<uint32_t>(Rates[0]);
}

TAdvancedIcon* TAnimatedCursor::GetFrame(int index) const {
  return index >= 0 && index < Frames.Count() ? Frames.IconAt(index) : nullptr;
}

TAdvancedIcon* TAnimatedCursor::GetStepFrame(int step) const {
  return step >= 0 && step < Sequence.Count() ? GetFrame(Sequence[step]) : nullptr;
}

TSubIcon* TAnimatedCursor::FrameImage(int index) const {
  const TAdvancedIcon* frame = GetFrame(index);
  return frame ? frame->Images.Get(0) : nullptr;
}

TSubIcon* TAnimatedCursor::StepImage(int step) const {
  const TAdvancedIcon* frame = GetStepFrame(step);
  return frame ? frame->Images.Get(0) : nullptr;
}

}  // namespace glyphmill
