#include "icons/iconlist.h"

#include "support/errors.h"

namespace glyphmill {

namespace {

constexpr const char* PropertyName = "ICONS";
// Property-streaming value tags of strings: short (one length byte) and long (four).
constexpr uint8_t ValueString = 6;
constexpr uint8_t ValueLongString = 12;

void WriteShortText(TStream& stream, const std::string& text) {
  stream.WriteU8(static_cast<uint8_t>(text.size()));
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

std::string ReadCountedText(TStream& stream, uint32_t length) {
  if (length > stream.Remaining()) throw EReadError("Invalid property value");
  std::string text(length, '\0');
  stream.ReadBuffer(text.data(), length);
  return text;
}

void WriteFilerString(TStream& stream, const std::string& text) {
  if (text.size() <= 255) {
    stream.WriteU8(ValueString);
    WriteShortText(stream, text);
  } else {
    stream.WriteU8(ValueLongString);
    stream.WriteU32LE(static_cast<uint32_t>(text.size()));
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  }
}

std::string ReadFilerString(TStream& stream) {
  const uint8_t tag = stream.ReadU8();
  if (tag == ValueString) return ReadCountedText(stream, stream.ReadU8());
  if (tag == ValueLongString) return ReadCountedText(stream, stream.ReadU32LE());
  throw EReadError("Invalid property value");
}

}  // namespace

void TIconList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EGlyphmillError(Format("List index out of bounds (%d)", index));
}

const std::string& TIconList::Name(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].first;
}

TAdvancedIcon* TIconList::IconAt(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].second.get();
}

void TIconList::SetName(int index, const std::string& name) {
  CheckIndex(index);
  FItems[static_cast<size_t>(index)].first = name;
}

void TIconList::AddIcon(const std::string& name, std::unique_ptr<TAdvancedIcon> icon) {
  if (!icon) return;
  FItems.emplace_back(name.empty() ? Format("Icon %d", Count() + 1) : name, std::move(icon));
}

void TIconList::Delete(int index) {
  CheckIndex(index);
  FItems.erase(FItems.begin() + index);
}

std::unique_ptr<TAdvancedIcon> TIconList::Extract(int index) {
  CheckIndex(index);
  auto icon = std::move(FItems[static_cast<size_t>(index)].second);
  FItems.erase(FItems.begin() + index);
  return icon;
}

void TIconList::Clear() {
  // Last to first, as the library frees them.
  while (!FItems.empty()) FItems.pop_back();
}

void TIconList::MoveIcon(int from, int to) {
  if (from == to) return;
  CheckIndex(from);
  CheckIndex(to);
  auto pair = std::move(FItems[static_cast<size_t>(from)]);
  FItems.erase(FItems.begin() + from);
  FItems.insert(FItems.begin() + to, std::move(pair));
}

void TIconList::Assign(TIconList& source) {
  if (&source == this) return;
  Clear();
  FItems = std::move(source.FItems);
  source.FItems.clear();
}

void TIconList::WriteProperty(TStream& stream) const {
  if (FItems.empty()) return;
  WriteShortText(stream, PropertyName);
  WriteFilerInteger(stream, 0);
  WriteFilerInteger(stream, 1);
  WriteFilerInteger(stream, Count());
  for (const auto& [name, icon] : FItems) {
    WriteFilerString(stream, name);
    icon->WriteImages(stream);
  }
  WriteFilerInteger(stream, 0);
}

void TIconList::ReadProperty(TStream& stream) {
  const uint8_t nameLength = stream.ReadU8();
  if (ReadCountedText(stream, nameLength) != PropertyName) throw EReadError("Invalid property value");
  ReadFilerInteger(stream);
  ReadFilerInteger(stream);
  const int32_t count = ReadFilerInteger(stream);
  Clear();
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = ReadFilerString(stream);
    auto icon = std::make_unique<TAdvancedIcon>();
    icon->ReadImages(stream);
    AddIcon(name, std::move(icon));
  }
  ReadFilerInteger(stream);
}

}  // namespace glyphmill
