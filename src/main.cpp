#include "app/startup.h"

int main(int argc, char** argv) { return glyphmill::RunMain(argc, argv); }
