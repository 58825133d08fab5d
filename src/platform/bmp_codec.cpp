#include "platform/bitmap.h"
#include "support/errors.h"

namespace glyphmill {

void TBitmap::LoadFromStream(TStream&) { throw EReadError("Bitmap image is not valid"); }
void TBitmap::SaveToStream(TStream&) const { throw EStreamError("Stream write error"); }

}  // namespace glyphmill
