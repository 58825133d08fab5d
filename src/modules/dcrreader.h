// The icons of resource files: compiled 32-bit resource files (.res), whose icon images are grouped
// by the group resource that follows them, and component resource files (.dcr) holding one bitmap.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "modules/iconlibrary.h"

namespace glyphmill {

// Appends the icons of a .res or .dcr file to the library's list; files of 75 bytes or less and
// files of neither kind give nothing. Every fault of a .res file is swallowed; a malformed DCR
// header throws EReadError with its message ("Header bad: is this a DCR?", "Bad biBitCount", ...).
void LoadResourceFileIcons(const std::string& fileName, TIconLibrary& library);
// The same over the file's bytes.
void LoadResourceFileIcons(std::span<const uint8_t> bytes, TIconLibrary& library);

}  // namespace glyphmill
