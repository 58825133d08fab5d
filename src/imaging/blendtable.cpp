#include "imaging/blendtable.h"

#include <atomic>
#include <cmath>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/folders.h"

namespace glyphmill {

namespace {

std::mutex gLock;
std::vector<uint8_t> gLoaded;
std::vector<uint8_t> gComputed;
// The table in use; set once the program folder was looked at or a table was loaded.
std::atomic<const uint8_t*> gTable{nullptr};

const uint8_t* ComputedTable() {
  if (gComputed.empty()) {
    gComputed.assign(BlendTableSize, 0);
    for (int lower = 0; lower < 256; ++lower)
      for (int upper = 0; upper < 256; ++upper) {
        const double coverage = upper + lower - upper * lower / 255.0;
        const double weight = coverage > 0 ? 255.0 * upper / coverage : 0.0;
        gComputed[static_cast<size_t>(lower * 256 + upper)] =
            static_cast<uint8_t>(std::min(255.0, std::nearbyint(weight)));
      }
  }
  return gComputed.data();
}

bool ReadTableFile(const std::filesystem::path& fileName) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(fileName, error);
  if (error || size != static_cast<uintmax_t>(BlendTableSize)) return false;
  std::ifstream file(fileName, std::ios::binary);
  std::vector<uint8_t> bytes(BlendTableSize);
  if (!file.read(reinterpret_cast<char*>(bytes.data()), BlendTableSize)) return false;
  gLoaded = std::move(bytes);
  return true;
}

}  // namespace

bool LoadBlendTable(const std::filesystem::path& fileName) {
  std::lock_guard guard(gLock);
  if (!ReadTableFile(fileName)) return false;
  gTable.store(gLoaded.data(), std::memory_order_release);
  return true;
}

const uint8_t* BlendTable() {
  if (const uint8_t* table = gTable.load(std::memory_order_acquire)) return table;
  std::lock_guard guard(gLock);
  if (const uint8_t* table = gTable.load(std::memory_order_acquire)) return table;
  const uint8_t* table =
      ReadTableFile(std::filesystem::path(ProgramFolder()) / "data" / "blend.dat") ? gLoaded.data() : ComputedTable();
  gTable.store(table, std::memory_order_release);
  return table;
}

void ResetBlendTable() {
  std::lock_guard guard(gLock);
  gTable.store(ComputedTable(), std::memory_order_release);
}

}  // namespace glyphmill
