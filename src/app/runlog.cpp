#include "app/runlog.h"

#include <unistd.h>

#include <span>

#include "platform/folders.h"
#include "support/errors.h"
#include "support/streams.h"

namespace glyphmill {

std::string FormatLogDate(const std::tm& time) {
  static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int month = time.tm_mon >= 0 && time.tm_mon < 12 ? time.tm_mon : 0;
  return Format("%04d-%s-%02d %02d:%02d:%02d", time.tm_year + 1900, Months[month], time.tm_mday, time.tm_hour,
                time.tm_min, time.tm_sec);
}

std::vector<std::string> RunLogLines(const std::tm& time, const std::vector<std::string>& errorLines, int sourceCount,
                                     int processed, int saved) {
  std::vector<std::string> lines;
  lines.reserve(errorLines.size() + 4);
  lines.push_back(FormatLogDate(time));
  lines.insert(lines.end(), errorLines.begin(), errorLines.end());
  lines.push_back("Source files:    " + std::to_string(sourceCount));
  lines.push_back("Processed files: " + std::to_string(processed));
  lines.push_back("保存文件：    " + std::to_string(saved));
  return lines;
}

std::string LogFileName() {
  const std::string programFolder = ProgramFolder();
  if (::access(programFolder.c_str(), W_OK) == 0) return programFolder + "log.txt";
  return SettingsFolder() + "log.txt";
}

bool WriteRunLog(const std::string& fileName, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  try {
    WriteFileAtomically(fileName, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace glyphmill
