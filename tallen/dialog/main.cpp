#include "cli/command_line.h"
#include "core/freed_memory.h"
#include "dialog/tallen_app.h"
#include "display_check.h"

#include <cstdio>

int main(int argc, char** argv) {
  // Every picture is as large as the one before: its pages are kept for the next.
  tallen::keepFreedMemory();
  // Subcommands run headless: no application object, no windows.
  if (tallen::isCommandLineInvocation(argc, argv)) return tallen::runCommandLine(argc, argv);
  // Without a display Qt would abort the process when the application is made.
  if (!kit::qtPlatformUsable()) {
    std::fprintf(stderr, "tallen: %s\n", kit::kNoDisplayMessage);
    return tallen::kExitError;
  }
  tallen::CTallenApp app(argc, argv);
  return app.InitInstance();
}
