#include "dialog/tallen_app.h"

#ifdef TALLEN_HAS_COMMAND_LINE
#include "cli/command_line.h"
#endif

int main(int argc, char** argv) {
#ifdef TALLEN_HAS_COMMAND_LINE
  // Subcommands run headless: no application object, no windows.
  if (tallen::isCommandLineInvocation(argc, argv)) return tallen::runCommandLine(argc, argv);
#endif
  tallen::CTallenApp app(argc, argv);
  return app.InitInstance();
}
