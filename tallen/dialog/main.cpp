#include "cli/command_line.h"
#include "core/freed_memory.h"
#include "dialog/tallen_app.h"

int main(int argc, char** argv) {
  // Every picture is as large as the one before: its pages are kept for the next.
  tallen::keepFreedMemory();
  // Subcommands run headless: no application object, no windows.
  if (tallen::isCommandLineInvocation(argc, argv)) return tallen::runCommandLine(argc, argv);
  tallen::CTallenApp app(argc, argv);
  return app.InitInstance();
}
