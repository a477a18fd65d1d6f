#include "dialog/tallen_app.h"

#include "dialog/file_chooser.h"
#include "dialog/tallen_dlg.h"
#include "dialog/warning_sink.h"

namespace tallen {

CTallenApp::CTallenApp(int& argc, char** argv) : QApplication(argc, argv) {
  setWindowIcon(CTallenDlg::appIcon());
}

int CTallenApp::InitInstance() {
  OpenImageChooser chooser;
  MessageBoxWarnings warnings;
  CTallenDlg dialog(viewer_, chooser, warnings);
  // Exit and Cancel end the program alike; the dialog's result is not needed.
  dialog.exec();
  return 0;
}

}  // namespace tallen
