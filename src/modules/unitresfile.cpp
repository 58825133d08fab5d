#include "modules/unitresfile.h"

#include "modules/unitpefile.h"
#include "support/byte_reader.h"

namespace glyphmill {

TResourceDetails* TResourceList::ResourceAt(int index) const {
  if (index < 0 || index >= ResourceCount()) return nullptr;
  return FResources[static_cast<size_t>(index)].get();
}

int TResourceList::AddResource(std::unique_ptr<TResourceDetails> details) {
  FResources.push_back(std::move(details));
  return ResourceCount() - 1;
}

int TResourceList::IndexOfResource(const TResourceDetails* details) const {
  for (size_t i = 0; i < FResources.size(); ++i)
    if (FResources[i].get() == details) return static_cast<int>(i);
  return -1;
}

namespace {

// A type or name field: 0xFFFF and an id, or UTF-16 text ending with a 0 unit.
std::string ReadIdOrText(TByteReader& reader, bool& isText) {
  const uint16_t first = reader.U16LE();
  isText = first != 0xFFFF;
  if (!isText) return std::to_string(reader.U16LE());
  std::vector<uint16_t> units;
  for (uint16_t unit = first; unit != 0; unit = reader.U16LE()) units.push_back(unit);
  return WideNameToText(units);
}

}  // namespace

void TResModule::LoadFromStream(TStream& stream) {
  const int64_t remaining = stream.Remaining();
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(remaining, 0)));
  stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  FFlag = true;
  TByteReader file(bytes, "Invalid resource file");
  size_t offset = 0;
  while (bytes.size() - offset > 8) {
    const uint32_t dataSize = LoadU32LE(bytes.data() + offset);
    const uint32_t headerSize = LoadU32LE(bytes.data() + offset + 4);
    if (!file.Contains(offset, headerSize) || !file.Contains(offset + headerSize, dataSize)) return;
    try {
      TByteReader header = file.Sub(offset, headerSize);
      header.Skip(8);
      bool typeIsText = false;
      bool nameIsText = false;
      const std::string typeText = ReadIdOrText(header, typeIsText);
      const std::string nameText = ReadIdOrText(header, nameIsText);
      header.Seek((header.Offset() + 3) & ~size_t{3});
      const uint32_t dataVersion = header.U32LE();
      const uint16_t memoryFlags = header.U16LE();
      const uint16_t language = header.U16LE();
      const uint32_t version = header.U32LE();
      const uint32_t characteristics = header.U32LE();
      if (dataSize == 0 && nameText == "0") {
        FFlag = false;
      } else {
        auto details =
            CreateResourceDetails(this, language, nameText, typeText, file.Slice(offset + headerSize, dataSize));
        details->SetNameIsString(nameIsText);
        details->SetDataVersion(dataVersion);
        details->SetMemoryFlags(memoryFlags);
        details->SetVersion(version);
        details->SetCharacteristics(characteristics);
        AddResource(std::move(details));
      }
    } catch (const EReadError&) {
      return;
    }
    const uint64_t next = (static_cast<uint64_t>(offset) + headerSize + dataSize + 3) & ~uint64_t{3};
    if (next >= bytes.size()) return;
    offset = static_cast<size_t>(next);
  }
}

void TResModule::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, TFileMode::OpenRead);
  LoadFromStream(stream);
}

}  // namespace glyphmill
