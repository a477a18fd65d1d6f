#pragma once

#include <QApplication>

#include "windows/highgui_viewer.h"

namespace tallen {

// The windowed program: one application object whose start-up runs the main dialog. Constructed
// before any highgui call so that highgui's windows live in this application and its event loop.
class CTallenApp : public QApplication {
 public:
  CTallenApp(int& argc, char** argv);

  // Runs the main dialog modally with the real image windows, file chooser and message boxes;
  // returns the process's exit status once the dialog has ended (0).
  int InitInstance();

 private:
  HighguiViewer viewer_;
};

}  // namespace tallen
