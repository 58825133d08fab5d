#include "app/startup.h"

namespace glyphmill {

int RunMain(int, char**) { return 0; }

}  // namespace glyphmill
