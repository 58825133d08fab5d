// Speed of pulling every icon out of a folder of real modules, written as one .ico file per icon
// group, against wrestool doing the same (`wrestool -x -t 14 -o DIR FILE`) on the same files.
// The folder is GLYPHMILL_MODULES when set, else the corpus's PE and NE modules.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "modules/iconlibrary.h"

namespace {

using namespace glyphmill;
namespace fs = std::filesystem;

std::vector<fs::path> Modules() {
  std::vector<fs::path> folders;
  if (const char* folder = std::getenv("GLYPHMILL_MODULES")) {
    folders.emplace_back(folder);
  } else {
    const fs::path corpus = fs::path(__FILE__).parent_path() / "../../shared/corpus";
    for (const char* kind : {"pe32", "pe64", "ne"}) folders.push_back(corpus / kind);
  }
  std::vector<fs::path> modules;
  for (const fs::path& folder : folders) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
      if (entry.is_regular_file()) modules.push_back(entry.path());
  }
  return modules;
}

fs::path OutputFolder(const char* name) {
  const fs::path folder = fs::temp_directory_path() / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

void BM_IconLibraryExtract(benchmark::State& state) {
  const auto modules = Modules();
  const fs::path output = OutputFolder("glyphmill-bench-modules");
  int64_t icons = 0;
  for (auto _ : state) {
    for (const fs::path& module : modules) {
      TIconLibrary library;
      library.LoadFromFile(module.string());
      for (int i = 0; i < library.Icons().Count(); ++i) {
        const TAdvancedIcon& icon = *library.Icons().IconAt(i);
        if (icon.Images.Count() == 0) continue;
        icon.SaveToFile((output / (module.filename().string() + "_" + std::to_string(i) + ".ico")).string());
        ++icons;
      }
    }
  }
  state.counters["modules"] = static_cast<double>(modules.size());
  state.counters["icons/iter"] = benchmark::Counter(static_cast<double>(icons), benchmark::Counter::kAvgIterations);
  fs::remove_all(output);
}
BENCHMARK(BM_IconLibraryExtract)->Unit(benchmark::kMillisecond);

void BM_WrestoolExtract(benchmark::State& state) {
  if (!fs::exists("/usr/bin/wrestool")) {
    state.SkipWithError("wrestool missing");
    return;
  }
  const auto modules = Modules();
  const fs::path output = OutputFolder("glyphmill-bench-wrestool");
  for (auto _ : state)
    for (const fs::path& module : modules) {
      const std::string command =
          "/usr/bin/wrestool -x -t 14 -o '" + output.string() + "' '" + module.string() + "' 2>/dev/null";
      benchmark::DoNotOptimize(std::system(command.c_str()));
    }
  state.counters["modules"] = static_cast<double>(modules.size());
  fs::remove_all(output);
}
BENCHMARK(BM_WrestoolExtract)->Unit(benchmark::kMillisecond);

}  // namespace
