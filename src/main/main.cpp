// Korvane: a chess engine for UCI and xboard graphical interfaces.

#include "main/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  korvane::platform::setProgramPath(argc > 0 ? argv[0] : nullptr);
  korvane::Driver driver(korvane::parseCommandLine(argc, argv));
  return driver.run();
}
