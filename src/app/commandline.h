// The command line: the source argument, the options and their effect on the conversion options.
//
//   glyphmill SOURCE [OPTION ...]
//
// SOURCE is a file or a mask ("*", "?" in its file-name part). Options are "-name", "/name",
// "name" with "+"/"-" for switches and "=value" for valued options, letter case ignored.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/conversionoptions.h"

namespace glyphmill {

// ASCII lower case; other bytes (UTF-8 included) stay.
std::string LowerCase(std::string text);
// Removes leading and trailing blanks and control characters.
std::string Trim(const std::string& text);

// The source list of the first argument: a name without folder is looked for in the current
// folder; a mask lists the matching files of its folder (not its subfolders) in the order the
// file system gives them; a plain name is taken whether or not the file exists.
std::vector<std::string> ExpandSourceArgument(const std::string& argument);

// Everything after the first "=", trimmed.
std::string OptionValue(const std::string& argument);

// True when the lower-cased argument is the valued option name ("name=value", "/name=", "-name=").
bool IsValuedOption(const std::string& lowerArgument, const std::string& name);
// The state the lower-cased argument sets for the switch name ("name", "name+", "name-", each
// optionally after "/" or "-"), or nothing when it is not that switch.
std::optional<bool> SwitchState(const std::string& lowerArgument, const std::string& name);

// Adds the items of one "sz" value to the size and depth lists. One item is appended as it is;
// of several items, only sizes and depths not yet listed are appended.
void AddSizeList(const std::string& value, TConversionOptions& options);

// Applies one option argument; false when it matches no option. Fails with EConvertError on a bad
// colour in "t".
bool ApplyOption(const std::string& argument, TConversionOptions& options);

// Resets the fields the command line owns, applies the options (arguments after the first) in
// order, then puts a destination file without folder into the destination folder.
void ParseCommandLineOptions(const std::vector<std::string>& arguments, TConversionOptions& options);

// True when any argument asks for the options text: the switch "?" in any form, "-h" or "--help".
bool HelpRequested(const std::vector<std::string>& arguments);

// The run's sources: those of the first argument, then every further argument that is no option
// and names an existing file (a shell that expanded a mask hands the names over one by one).
std::vector<std::string> CommandLineSources(const std::vector<std::string>& arguments);

}  // namespace glyphmill
