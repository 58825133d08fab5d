#include "modules/unitresourcedetails.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace glyphmill {

TResourceDetails::TResourceDetails(TResourceModule* module, uint32_t languageId, std::string nameText,
                                   std::string typeText, std::span<const uint8_t> data)
    : FModule(module),
      FContent(std::vector<uint8_t>(data.begin(), data.end())),
      FLanguageId(languageId),
      FNameText(std::move(nameText)),
      FTypeText(std::move(typeText)) {}

int TResourceModule::AddResource(std::unique_ptr<TResourceDetails>) { return -1; }

TResourceDetails* TResourceModule::FindByTypeAndName(const std::string& typeText, const std::string& nameText) const {
  const int count = ResourceCount();
  for (int i = 0; i < count; ++i) {
    TResourceDetails* details = ResourceAt(i);
    if (details->TypeText() == typeText && details->NameText() == nameText) return details;
  }
  return nullptr;
}

namespace {

std::vector<const TResourceDetailsClass*>& Registry() {
  static std::vector<const TResourceDetailsClass*> registry;
  return registry;
}

using TCreateArgs =
    std::tuple<TResourceModule*, uint32_t, const std::string&, const std::string&, std::span<const uint8_t>>;

std::unique_ptr<TResourceDetails> CreateByTypeKey(const TCreateArgs& args) {
  const auto& [module, languageId, nameText, typeText, data] = args;
  try {
    for (const TResourceDetailsClass* detailsClass : Registry()) {
      if (detailsClass->DetailsTypeKey() != typeText) continue;
      // Type 10 (raw data) is shared by many kinds, so a class must claim the bytes as well.
      if (typeText == "10" && !detailsClass->AcceptsRCData(nameText, data)) continue;
      return detailsClass->Create(module, languageId, nameText, typeText, data);
    }
  } catch (...) {
  }
  return nullptr;
}

std::unique_ptr<TResourceDetails> CreateByContent(const TCreateArgs& args) {
  const auto& [module, languageId, nameText, typeText, data] = args;
  try {
    for (const TResourceDetailsClass* detailsClass : Registry())
      if (detailsClass->AcceptsData(data)) return detailsClass->Create(module, languageId, nameText, typeText, data);
  } catch (...) {
  }
  return nullptr;
}

}  // namespace

void RegisterDetailsClass(const TResourceDetailsClass& detailsClass) {
  auto& registry = Registry();
  if (registry.size() == registry.capacity()) registry.reserve(registry.size() + 10);
  registry.push_back(&detailsClass);
}

void UnregisterDetailsClass(const TResourceDetailsClass& detailsClass) {
  auto& registry = Registry();
  registry.erase(std::remove(registry.begin(), registry.end(), &detailsClass), registry.end());
}

const std::vector<const TResourceDetailsClass*>& RegisteredDetailsClasses() { return Registry(); }

std::unique_ptr<TResourceDetails> CreateResourceDetails(TResourceModule* module, uint32_t languageId,
                                                        const std::string& nameText, const std::string& typeText,
                                                        std::span<const uint8_t> data) {
  const TCreateArgs args{module, languageId, nameText, typeText, data};
  std::unique_ptr<TResourceDetails> details;
  if (!typeText.empty() && std::isdigit(static_cast<unsigned char>(typeText[0]))) details = CreateByTypeKey(args);
  if (!details) details = CreateByContent(args);
  if (!details) details = std::make_unique<TResourceDetails>(module, languageId, nameText, typeText, data);
  return details;
}

}  // namespace glyphmill
