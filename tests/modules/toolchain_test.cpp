// Modules made by an independent toolchain (mingw-w64's windres and gcc) and real modules of the
// corpus, read by our libraries and compared with what wrestool extracts from the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "module_builder.h"
#include "modules/dcrreader.h"
#include "modules/iconlibrary.h"
#include "platform/png_codec.h"
#include "test_support.h"

namespace glyphmill {
namespace {

using test::DibIconImage;
using test::TBytes;

const char* const Wrestool = "/usr/bin/wrestool";

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

struct TWresResource {
  std::string Type;
  std::string Name;
  std::string Language;  // empty for NE modules
  TBytes Bytes;
};

// The value of "--key=" in a wrestool listing line, without its quotes; empty when absent.
std::string ListingValue(const std::string& line, const std::string& key) {
  const size_t start = line.find("--" + key + "=");
  if (start == std::string::npos) return {};
  size_t begin = start + key.size() + 3;
  if (begin < line.size() && line[begin] == '\'') ++begin;
  const size_t end = line.find_first_of("' ", begin);
  return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// Every resource wrestool lists, in its order, with the bytes it extracts.
std::vector<TWresResource> WrestoolResources(const std::filesystem::path& module) {
  std::string listing;
  test::RunCommand(std::string(Wrestool) + " -l " + Quoted(module.string()) + " 2>/dev/null", &listing);
  std::vector<TWresResource> resources;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    if (ListingValue(line, "type").empty()) continue;
    TWresResource resource{ListingValue(line, "type"), ListingValue(line, "name"), ListingValue(line, "language"), {}};
    std::string bytes;
    std::string command = std::string(Wrestool) + " -x --raw --type=" + resource.Type +
                          " --name=" + Quoted(resource.Name) + " " + Quoted(module.string());
    if (!resource.Language.empty()) command += " --language=" + resource.Language;
    test::RunCommand(command + " 2>/dev/null", &bytes);
    resource.Bytes.assign(bytes.begin(), bytes.end());
    resources.push_back(std::move(resource));
  }
  return resources;
}

struct TExpectedImage {
  TIconEntry Entry;
  TBytes Bytes;
};
struct TExpectedIcon {
  std::string Name;
  std::vector<TExpectedImage> Images;
};

// The icons a library should list, built from wrestool's resources: every group listing with the
// images of the first variant of its name (32-bit path), or each name once in the variant the
// loader picks, language neutral first (64-bit path).
std::vector<TExpectedIcon> ExpectedIcons(const std::vector<TWresResource>& resources, bool asLoader) {
  auto find = [&](const std::string& type, const std::string& name) -> const TWresResource* {
    const TWresResource* first = nullptr;
    for (const auto& resource : resources) {
      if (resource.Type != type || resource.Name != name) continue;
      if (asLoader && resource.Language == "0") return &resource;
      if (first == nullptr) first = &resource;
    }
    return first;
  };
  std::vector<TExpectedIcon> icons;
  for (const auto& resource : resources) {
    if (resource.Type != "14") continue;
    if (asLoader &&
        std::any_of(icons.begin(), icons.end(), [&](const auto& icon) { return icon.Name == resource.Name; }))
      continue;
    TExpectedIcon icon{resource.Name, {}};
    const TBytes& group = find("14", resource.Name)->Bytes;
    const size_t count = group.size() >= 6 ? group[4] | (group[5] << 8) : 0;
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i) {
      const uint8_t* entry = group.data() + 6 + 14 * i;
      const int id = entry[12] | (entry[13] << 8);
      if (const TWresResource* image = find("3", std::to_string(id)))
        icon.Images.push_back({TIconEntry::FromBytes(std::span<const uint8_t, 12>(entry, 12)), image->Bytes});
    }
    icons.push_back(std::move(icon));
  }
  return icons;
}

// DIB images must be the extracted bytes exactly; PNG images are held expanded and must show every
// pixel of the PNG that is not fully transparent.
void ExpectSameImage(const TSubIcon& image, const TExpectedImage& expected) {
  if (!HasPngSignature(expected.Bytes)) {
    EXPECT_EQ(TBytes(image.Data().begin(), image.Data().end()), expected.Bytes);
    return;
  }
  EXPECT_TRUE(image.Packed());
  TPNGImage png;
  png.LoadFromBytes(expected.Bytes);
  TBitmap reference(png.Bitmap());
  reference.SetPixelFormat(pf32bit);
  TBitmap colour;
  image.RenderBitmaps(nullptr, &colour, nullptr, NoColor);
  ASSERT_EQ(colour.Width(), reference.Width());
  ASSERT_EQ(colour.Height(), reference.Height());
  colour.SetPixelFormat(pf32bit);
  int differing = 0;
  for (int y = 0; y < reference.Height(); ++y)
    for (int x = 0; x < reference.Width(); ++x) {
      const uint8_t* want = reference.ScanLine(y) + 4 * x;
      const uint8_t* got = colour.ScanLine(y) + 4 * x;
      if (want[3] != 0 && !std::equal(want, want + 4, got)) ++differing;
    }
  EXPECT_EQ(differing, 0);
}

void ExpectSameIcons(const TIconLibrary& library, const std::vector<TExpectedIcon>& expected) {
  ASSERT_EQ(library.Icons().Count(), static_cast<int>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("icon " + expected[i].Name);
    EXPECT_EQ(library.Icons().Name(static_cast<int>(i)), expected[i].Name);
    const TAdvancedIcon& icon = *library.Icons().IconAt(static_cast<int>(i));
    ASSERT_EQ(icon.Images.Count(), static_cast<int>(expected[i].Images.size()));
    for (int k = 0; k < icon.Images.Count(); ++k) ExpectSameImage(*icon.Images[k], expected[i].Images[k]);
  }
}

TBytes Png256() {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf32bit);
  bitmap.SetSize(256, 256);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      uint8_t* pixel = bitmap.ScanLine(y) + 4 * x;
      pixel[0] = static_cast<uint8_t>(x);
      pixel[1] = static_cast<uint8_t>(y);
      pixel[2] = static_cast<uint8_t>(x ^ y);
      pixel[3] = static_cast<uint8_t>(x < 32 ? 0 : (x < 64 ? 128 : 255));
    }
  TPNGImage png;
  png.Assign(bitmap);
  return png.SaveToBytes();
}

bool ToolchainPresent() {
  for (const char* tool : {"/usr/bin/i686-w64-mingw32-windres", "/usr/bin/x86_64-w64-mingw32-windres",
                           "/usr/bin/i686-w64-mingw32-gcc", "/usr/bin/x86_64-w64-mingw32-gcc", Wrestool})
    if (!test::ToolExists(tool)) return false;
  return true;
}

class ToolchainModules : public ::testing::Test {
protected:
  void SetUp() override {
    if (!ToolchainPresent()) GTEST_SKIP() << "mingw-w64 or icoutils missing";
    test::WriteAll(FFolder / "all.ico", test::IcoFile({{16, 4, DibIconImage(16, 4, 1)},
                                                       {32, 8, DibIconImage(32, 8, 2)},
                                                       {48, 32, DibIconImage(48, 32, 3)},
                                                       {256, 32, Png256()}}));
    test::WriteAll(FFolder / "mono.ico", test::IcoFile({{32, 1, DibIconImage(32, 1, 4)}}));
    test::WriteAll(FFolder / "german.ico",
                   test::IcoFile({{24, 8, DibIconImage(24, 8, 5)}, {16, 1, DibIconImage(16, 1, 6)}}));
    test::WriteAll(FFolder / "app.rc", Text("1 ICON \"all.ico\"\n"
                                            "MAINICON ICON \"mono.ico\"\n"
                                            "7 ICON \"mono.ico\"\n"
                                            "LANGUAGE 0x07, 0x01\n"
                                            "5 ICON \"german.ico\"\n"
                                            "LANGUAGE 0x09, 0x01\n"
                                            "5 ICON \"all.ico\"\n"));
    test::WriteAll(FFolder / "main.c", Text("int main(void) { return 0; }\n"));
  }

  static TBytes Text(const std::string& text) { return TBytes(text.begin(), text.end()); }

  // Runs a command in the folder; fails the test when it fails.
  void Run(const std::string& command) {
    std::string output;
    ASSERT_EQ(test::RunCommand("cd " + Quoted(FFolder.Path().string()) + " && " + command + " 2>&1", &output), 0)
        << command << "\n"
        << output;
  }

  test::TTempDir FFolder;
};

TEST_F(ToolchainModules, LibrariesMatchWrestoolForEveryKindOfModule) {
  const struct {
    const char* Prefix;
    const char* Link;
    const char* Output;
    bool Is64Bit;
  } cases[] = {
      {"i686", "-mwindows", "app32.exe", false},
      {"i686", "-shared", "lib32.dll", false},
      {"x86_64", "-mwindows", "app64.exe", true},
      {"x86_64", "-shared", "lib64.dll", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Output);
    const std::string prefix = std::string("/usr/bin/") + c.Prefix + "-w64-mingw32-";
    Run(prefix + "windres app.rc -O coff -o app.o");
    Run(prefix + "gcc " + c.Link + " main.c app.o -o " + c.Output);
    const auto module = FFolder / c.Output;
    const auto resources = WrestoolResources(module);
    ASSERT_FALSE(resources.empty());

    TIconLibrary library;
    EXPECT_TRUE(library.LoadFromFile(module.string()));
    EXPECT_TRUE(library.IsPEModule());
    const auto expected = ExpectedIcons(resources, c.Is64Bit);
    // Group 5 is listed once per language by the 32-bit path, once by the loader path.
    EXPECT_EQ(expected.size(), c.Is64Bit ? 4u : 5u);
    EXPECT_EQ(library.ProbedIconCount(), static_cast<int>(expected.size()));
    ExpectSameIcons(library, expected);
  }
}

TEST_F(ToolchainModules, ResourceFilesListIconsGroupedByPosition) {
  // windres writes resources sorted by type: every image comes before every group, so all images
  // precede the first group in directory order (the string name MAINICON) and form its icon.
  Run("/usr/bin/x86_64-w64-mingw32-windres app.rc -O res -o app.res");
  TIconLibrary library;
  LoadResourceFileIcons((FFolder / "app.res").string(), library);
  ASSERT_EQ(library.Icons().Count(), 1);
  EXPECT_EQ(library.Icons().Name(0), "MAINICON");
  const TAdvancedIcon& icon = *library.Icons().IconAt(0);
  ASSERT_EQ(icon.Images.Count(), 12);
  const TBytes expected[] = {DibIconImage(16, 4, 1), DibIconImage(32, 8, 2), DibIconImage(48, 32, 3)};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(TBytes(icon.Images[i]->Data().begin(), icon.Images[i]->Data().end()), expected[i]);
  EXPECT_TRUE(icon.Images[3]->Packed());
}

class CorpusModules : public ::testing::Test {
protected:
  void SetUp() override {
    if (test::CorpusDir().empty() || !test::ToolExists(Wrestool)) GTEST_SKIP() << "corpus or wrestool missing";
  }
};

TEST_F(CorpusModules, IconLibrariesMatchWrestool) {
  for (const char* name : {"pe32/neko_Neko98.icl", "pe32/neko_Footprint.icl"}) {
    SCOPED_TRACE(name);
    const auto module = test::CorpusDir() / name;
    TIconLibrary library;
    EXPECT_TRUE(library.LoadFromFile(module.string()));
    const auto expected = ExpectedIcons(WrestoolResources(module), false);
    EXPECT_EQ(expected.size(), std::string(name).find("Neko98") != std::string::npos ? 40u : 8u);
    ExpectSameIcons(library, expected);
  }
}

TEST_F(CorpusModules, NeModuleMatchesWrestool) {
  const auto module = test::CorpusDir() / "ne/anim8.exe";
  TIconLibrary library;
  EXPECT_TRUE(library.LoadFromFile(module.string()));
  ASSERT_EQ(library.Icons().Count(), 1);
  // The module names many resources, so the count of names differs from the one group.
  EXPECT_EQ(library.Icons().Name(0), "anim8 001");
  const auto resources = WrestoolResources(module);
  const auto image = std::find_if(resources.begin(), resources.end(), [](const auto& r) { return r.Type == "3"; });
  ASSERT_NE(image, resources.end());
  const TAdvancedIcon& icon = *library.Icons().IconAt(0);
  ASSERT_EQ(icon.Images.Count(), 1);
  EXPECT_EQ(TBytes(icon.Images[0]->Data().begin(), icon.Images[0]->Data().end()), image->Bytes);
}

TEST_F(CorpusModules, ModulesWithoutIconsAndMalformedOnesGiveNothing) {
  for (const char* name : {"pe64/imhex_pe.hexpat.exe", "ne/imhex_ne.hexpat.exe", "ne/r2_nepocaligns-09.exe"}) {
    SCOPED_TRACE(name);
    TIconLibrary library;
    EXPECT_FALSE(library.LoadFromFile((test::CorpusDir() / name).string()));
    EXPECT_EQ(library.Icons().Count(), 0);
    EXPECT_TRUE(library.IsModule());
  }
}

}  // namespace
}  // namespace glyphmill
