// Font, vector and GLib libraries keep process-wide caches until exit,
// which the leak checker would otherwise report after every metafile or vector conversion.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libcairo\nleak:librsvg\nleak:libpoppler\nleak:libglib\nleak:libgobject\n";
}

// The list of suppressions used would otherwise end the standard error of every run.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
