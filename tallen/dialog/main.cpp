#include "cli/command_line.h"
#include "dialog/tallen_app.h"

int main(int argc, char** argv) {
  // Subcommands run headless: no application object, no windows.
  if (tallen::isCommandLineInvocation(argc, argv)) return tallen::runCommandLine(argc, argv);
  tallen::CTallenApp app(argc, argv);
  return app.InitInstance();
}
