// Decodes hostile bytes as a 32-bit and as a 64-bit module, walks the resource tree and assembles
// every icon group: any input must end in an error or a resource list, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <span>

#include "modules/unitpefile.h"
#include "modules/unitresourcegraphics.h"
#include "support/errors.h"

namespace {

template <class TModule, class TAssemble>
void Exercise(std::span<const uint8_t> bytes, TAssemble assemble) {
  TModule module;
  try {
    module.DecodeModule(bytes);
  } catch (const glyphmill::EGlyphmillError&) {
  }
  for (int i = 0; i < module.ResourceCount(); ++i) {
    const glyphmill::TResourceDetails* details = module.ResourceAt(i);
    if (details->TypeText() != "14") continue;
    glyphmill::TAdvancedIcon icon;
    try {
      assemble(icon, module, *details);
    } catch (const glyphmill::EGlyphmillError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace glyphmill;
  const std::span<const uint8_t> bytes(data, size);
  Exercise<TPEResourceModule>(bytes, [](TAdvancedIcon& icon, TPEResourceModule& module, const TResourceDetails& group) {
    LoadFromModuleGroup(icon, module, group.NameText());
  });
  Exercise<TPE64ResourceModule>(bytes,
                                [](TAdvancedIcon& icon, TPE64ResourceModule& module, const TResourceDetails& group) {
                                  LoadFromGroupResource(icon, module, group.NameIsString(), group.NameText());
                                });
  return 0;
}
