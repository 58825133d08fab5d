// Registers the picture formats whose readers live above the platform layer (icons, cursors,
// metafiles and the other readers) with the generic picture object, once per process.
#pragma once

namespace glyphmill {

void RegisterPictureFormats();

}  // namespace glyphmill
