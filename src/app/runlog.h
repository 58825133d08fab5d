// log.txt, written after every command-line run: the date line, the failure lines in the order
// they happened, and the three count lines, each ended by CR LF.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace glyphmill {

// "yyyy-mmm-dd hh:nn:ss" with the English month abbreviation, e.g. "2021-Oct-07 14:05:09".
std::string FormatLogDate(const std::tm& time);

// The lines of the log, date line first.
std::vector<std::string> RunLogLines(const std::tm& time, const std::vector<std::string>& errorLines, int sourceCount,
                                     int processed, int saved);

// Where log.txt goes: the program's folder, or the settings folder when the program's folder is
// not writable.
std::string LogFileName();

// Writes the lines to fileName, each ended by CR LF, replacing an older file. False when it could
// not be written (the run does not report that).
bool WriteRunLog(const std::string& fileName, const std::vector<std::string>& lines);

}  // namespace glyphmill
