#include "app/commandline.h"

#include <filesystem>

#include "app/colornames.h"
#include "app/integertext.h"
#include "platform/folders.h"

namespace glyphmill {

namespace {

bool IsFile(const std::string& name) {
  std::error_code error;
  return std::filesystem::is_regular_file(name, error);
}

// The argument without its one optional leading "/" or "-".
std::string WithoutLead(const std::string& lowerArgument) {
  if (!lowerArgument.empty() && (lowerArgument[0] == '/' || lowerArgument[0] == '-')) return lowerArgument.substr(1);
  return lowerArgument;
}

// A depth left out of a size item: icons are wanted with alpha unless the item says otherwise.
constexpr int32_t DefaultItemDepth = 32;

struct TSizeItem {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Depth = DefaultItemDepth;
};

// A part that is missing or no valid decimal number stands for the source's own value (0).
int32_t SizePart(const std::string& text) { return TryDecimal(Trim(text)).value_or(0); }

TSizeItem ParseSizeItem(const std::string& item) {
  TSizeItem size;
  const size_t first = item.find('x');
  size.Width = SizePart(item.substr(0, first));
  // A lone number is a square: "16" is 16 × 16.
  size.Height = size.Width;
  if (first == std::string::npos) return size;
  const size_t second = item.find('x', first + 1);
  size.Height = SizePart(item.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
  if (second != std::string::npos) size.Depth = SizePart(item.substr(second + 1));
  return size;
}

void AddSizeItem(const std::string& item, bool unique, TConversionOptions& options) {
  const auto addSize = [&](int32_t width, int32_t height) {
    if (!unique || !options.HasSize(width, height)) options.AddSize(width, height);
  };
  const auto addDepth = [&](int32_t depth) {
    if (!unique || options.FDepths.IndexOf(depth) < 0) options.FDepths.Add(depth);
  };
  if (item == "winxp") {
    for (const int side : {16, 32, 48}) addSize(side, side);
    addDepth(8);
    addDepth(32);
    return;
  }
  const TSizeItem size = ParseSizeItem(item);
  addSize(size.Width, size.Height);
  addDepth(size.Depth);
}

void ApplyTransparency(const std::string& value, TConversionOptions& options) {
  if (value == "lt" || value == "tl") {
    options.TransparencyMode = tmLeftTop;
  } else if (value == "lb" || value == "bl") {
    options.TransparencyMode = tmLeftBottom;
  } else if (value == "rt" || value == "tr") {
    options.TransparencyMode = tmRightTop;
  } else if (value == "rb" || value == "br") {
    options.TransparencyMode = tmRightBottom;
  } else {
    options.TransparentColor = TextToColor(value);
    options.TransparencyMode = tmColor;
  }
}

// The switches in the order they are tested, after the valued options.
struct TSwitch {
  const char* Name;
  bool TConversionOptions::*Field;
};
constexpr TSwitch Switches[] = {
    {"o", &TConversionOptions::Overwrite},    {"zf", &TConversionOptions::ZoomToFit},
    {"sf", &TConversionOptions::ShrinkToFit}, {"sp", &TConversionOptions::KeepProportions},
    {"sr", &TConversionOptions::Smooth},
};

}  // namespace

std::string LowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::vector<std::string> ExpandSourceArgument(const std::string& argument) {
  std::vector<std::string> sources;
  std::string name = argument;
  if (name.find('/') == std::string::npos) {
    std::error_code error;
    name = AddTrailingBackslash(std::filesystem::current_path(error).string()) + name;
  }
  const size_t slash = name.rfind('/');
  const std::string folder = name.substr(0, slash + 1);
  const std::string mask = name.substr(slash + 1);
  if (mask.find_first_of("*?") == std::string::npos) {
    sources.push_back(LongPathName(name));
    return sources;
  }
  for (const std::string& found : FindFilesInFolder(folder, mask)) sources.push_back(LongPathName(folder + found));
  return sources;
}

std::string OptionValue(const std::string& argument) {
  const size_t equals = argument.find('=');
  return equals == std::string::npos ? std::string() : Trim(argument.substr(equals + 1));
}

bool IsValuedOption(const std::string& lowerArgument, const std::string& name) {
  return WithoutLead(lowerArgument).starts_with(name + "=");
}

std::optional<bool> SwitchState(const std::string& lowerArgument, const std::string& name) {
  const std::string rest = WithoutLead(lowerArgument);
  if (rest != name && rest != name + "+" && rest != name + "-") return std::nullopt;
  return lowerArgument.find('-', 1) == std::string::npos;
}

void AddSizeList(const std::string& value, TConversionOptions& options) {
  const bool several = value.find(',') != std::string::npos;
  size_t start = 0;
  while (start <= value.size()) {
    const size_t comma = std::min(value.find(',', start), value.size());
    const std::string item = Trim(value.substr(start, comma - start));
    if (!item.empty()) AddSizeItem(item, several, options);
    start = comma + 1;
  }
}

bool ApplyOption(const std::string& argument, TConversionOptions& options) {
  const std::string lower = LowerCase(argument);
  if (IsValuedOption(lower, "d") || IsValuedOption(lower, "dest")) {
    const std::string folder = OptionValue(argument);
    options.DestFolder = IsFile(folder) ? folder : AddTrailingBackslash(folder);
  } else if (IsValuedOption(lower, "df") || IsValuedOption(lower, "destfile")) {
    options.DestFile = OptionValue(argument);
  } else if (IsValuedOption(lower, "sz") || IsValuedOption(lower, "size")) {
    AddSizeList(OptionValue(lower), options);
  } else if (IsValuedOption(lower, "t") || IsValuedOption(lower, "tr")) {
    ApplyTransparency(OptionValue(lower), options);
  } else {
    for (const TSwitch& option : Switches) {
      if (const auto state = SwitchState(lower, option.Name)) {
        options.*option.Field = *state;
        return true;
      }
    }
    return false;
  }
  return true;
}

void ParseCommandLineOptions(const std::vector<std::string>& arguments, TConversionOptions& options) {
  options.Overwrite = false;
  options.TransparencyMode = tmNone;
  options.TransparentColor = 0xFFFFFF;
  options.FWidths.Clear();
  options.FHeights.Clear();
  options.FDepths.Clear();
  options.ZoomToFit = false;
  options.ShrinkToFit = true;
  options.KeepProportions = true;
  options.DestFile.clear();
  for (size_t i = 1; i < arguments.size(); ++i) ApplyOption(arguments[i], options);
  if (!options.DestFolder.empty() && !options.DestFile.empty() && options.DestFile.find('/') == std::string::npos)
    options.DestFile = options.DestFolder + options.DestFile;
}

bool HelpRequested(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (argument == "-h" || argument == "--help" || SwitchState(LowerCase(argument), "?").has_value()) return true;
  }
  return false;
}

std::vector<std::string> CommandLineSources(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return {};
  std::vector<std::string> sources = ExpandSourceArgument(arguments[0]);
  TConversionOptions scratch;
  for (size_t i = 1; i < arguments.size(); ++i) {
    bool isOption = false;
    try {
      isOption = ApplyOption(arguments[i], scratch);
    } catch (const EConvertError&) {
      isOption = true;
    }
    if (!isOption && IsFile(arguments[i])) sources.push_back(LongPathName(arguments[i]));
  }
  return sources;
}

}  // namespace glyphmill
