#pragma once

#include <QDialog>
#include <QIcon>
#include <QPushButton>
#include <QString>
#include <functional>

#include "core/image_viewer.h"
#include "dialog/file_chooser.h"
#include "dialog/warning_sink.h"

namespace tallen {

// The main dialog "Lumidor": choose a picture, register it (template first, then good samples),
// inspect it, exit. Each press makes at most one call of the inspection procedure through
// g_sourceImage; a press that arrives while a call runs (highgui runs the event loop inside its
// window calls) is ignored.
class CTallenDlg : public QDialog {
  Q_OBJECT

 public:
  // `viewer` receives every picture, `chooser` answers the select button, `warnings` shows the
  // errors; all three must outlive the dialog.
  CTallenDlg(ImageViewer& viewer, FileChooser& chooser, WarningSink& warnings,
             QWidget* parent = nullptr);

  // The dialog's icon: 32 x 32 and 16 x 16 pictures.
  static QIcon appIcon();

 public slots:
  // Asks for a file and makes it the held picture, showing it under "Original Image".
  void OnSelectFile();
  // Runs the procedure with mode g_sampleCount, advances the counter on success and shows the
  // held picture under "Resulting Image".
  void OnRegisterSample();
  // Runs the procedure in inspection mode.
  void OnInspect();
  // Closes every image window (when a picture is held) and ends the dialog as accepted.
  void OnExit();
  // Ends the dialog as rejected, leaving the image windows open; ignored while a call runs.
  void reject() override;

 private:
  // Runs `handler` with the buttons disabled and returns true, unless another handler is running.
  bool runExclusive(const std::function<void()>& handler);
  // Runs `step`; reports an error under `context` (what failed, for which file) and returns false
  // instead of throwing.
  bool attempt(const QString& context, const std::function<void()>& step);
  // True when the held file decoded; otherwise tells the operator under `context`.
  bool holdsPicture(const QString& context);
  void warn(const QString& context, const QString& problem);
  // The held picture's path for messages.
  static QString heldPath();
  void setButtonsEnabled(bool enabled);

  ImageViewer& viewer_;
  FileChooser& chooser_;
  WarningSink& warnings_;
  QPushButton* exitButton_;
  QPushButton* cancelButton_;
  QPushButton* selectFileButton_;
  QPushButton* registerButton_;
  QPushButton* inspectButton_;
  bool busy_ = false;
};

}  // namespace tallen
