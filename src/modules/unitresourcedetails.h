// Resources as the module readers hand them out: the abstract container of resources, one resource
// with its type, name, language and a private copy of its bytes, and the registry of details classes
// that chooses, by type and content, which class a new resource becomes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "support/streams.h"

namespace glyphmill {

class TResourceModule;
class TResourceDetails;

// A details class as the registry holds it: the class-level operations of one TResourceDetails
// subclass. Make one with DetailsClassOf<T>(); its address identifies the class.
struct TResourceDetailsClass {
  std::string (*DetailsTypeKey)();
  bool (*AcceptsRCData)(const std::string& nameText, std::span<const uint8_t> data);
  bool (*AcceptsData)(std::span<const uint8_t> data);
  std::unique_ptr<TResourceDetails> (*Create)(TResourceModule* module, uint32_t languageId, const std::string& nameText,
                                              const std::string& typeText, std::span<const uint8_t> data);
};

// One resource. The bytes are copied into Content, so the source may go away afterwards.
class TResourceDetails {
public:
  TResourceDetails(TResourceModule* module, uint32_t languageId, std::string nameText, std::string typeText,
                   std::span<const uint8_t> data);
  virtual ~TResourceDetails() = default;
  TResourceDetails(const TResourceDetails&) = delete;
  TResourceDetails& operator=(const TResourceDetails&) = delete;

  // Class-level operations; subclasses hide them with their own.
  static std::string DetailsTypeKey() { return "0"; }
  static bool AcceptsRCData(const std::string&, std::span<const uint8_t>) { return false; }
  static bool AcceptsData(std::span<const uint8_t>) { return false; }

  TResourceModule* Module() const { return FModule; }
  TMemoryStream& Content() { return FContent; }
  std::span<const uint8_t> Data() const { return FContent.Bytes(); }
  uint32_t CodePage() const { return FCodePage; }
  uint32_t LanguageId() const { return FLanguageId; }
  const std::string& NameText() const { return FNameText; }
  const std::string& TypeText() const { return FTypeText; }
  bool NameIsString() const { return FNameIsString; }
  uint16_t MemoryFlags() const { return FMemoryFlags; }
  uint32_t DataVersion() const { return FDataVersion; }
  uint32_t Version() const { return FVersion; }
  uint32_t Characteristics() const { return FCharacteristics; }

  void SetCodePage(uint32_t value) { FCodePage = value; }
  void SetNameIsString(bool value) { FNameIsString = value; }
  void SetMemoryFlags(uint16_t value) { FMemoryFlags = value; }
  void SetDataVersion(uint32_t value) { FDataVersion = value; }
  void SetVersion(uint32_t value) { FVersion = value; }
  void SetCharacteristics(uint32_t value) { FCharacteristics = value; }

private:
  TResourceModule* FModule;
  TMemoryStream FContent;
  uint32_t FCodePage = 0;
  uint32_t FLanguageId;
  std::string FNameText;
  std::string FTypeText;
  bool FNameIsString = false;
  uint16_t FMemoryFlags = 0;
  uint32_t FDataVersion = 0;
  uint32_t FVersion = 0;
  uint32_t FCharacteristics = 0;
};

template <class T>
const TResourceDetailsClass& DetailsClassOf() {
  static const TResourceDetailsClass detailsClass{
      &T::DetailsTypeKey, &T::AcceptsRCData, &T::AcceptsData,
      [](TResourceModule* module, uint32_t languageId, const std::string& nameText, const std::string& typeText,
         std::span<const uint8_t> data) -> std::unique_ptr<TResourceDetails> {
        return std::make_unique<T>(module, languageId, nameText, typeText, data);
      }};
  return detailsClass;
}

// The abstract container of resources; concrete modules supply the list.
class TResourceModule {
public:
  TResourceModule() = default;
  virtual ~TResourceModule() = default;
  TResourceModule(const TResourceModule&) = delete;
  TResourceModule& operator=(const TResourceModule&) = delete;

  virtual int ResourceCount() const = 0;
  virtual TResourceDetails* ResourceAt(int index) const = 0;
  // Takes the resource over; returns its index (-1 when this module keeps no list).
  virtual int AddResource(std::unique_ptr<TResourceDetails> details);
  virtual int IndexOfResource(const TResourceDetails* details) const = 0;
  virtual void LoadFromFile(const std::string& fileName) = 0;

  // The first resource in list order with exactly this type and name text, whatever its language.
  TResourceDetails* FindByTypeAndName(const std::string& typeText, const std::string& nameText) const;
};

// The registry, in registration order. Unregistering removes every occurrence.
void RegisterDetailsClass(const TResourceDetailsClass& detailsClass);
void UnregisterDetailsClass(const TResourceDetailsClass& detailsClass);
const std::vector<const TResourceDetailsClass*>& RegisteredDetailsClasses();

// Chooses the details class for a new resource (by numeric type key first, then by content) and
// constructs it; the caller adds it to its module.
std::unique_ptr<TResourceDetails> CreateResourceDetails(TResourceModule* module, uint32_t languageId,
                                                        const std::string& nameText, const std::string& typeText,
                                                        std::span<const uint8_t> data);

}  // namespace glyphmill
