#pragma once

#include <QFileDialog>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

namespace tallen {

// Asks the operator for the picture to work on.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The chosen file's full path in the local 8-bit encoding, or nothing when cancelled.
  virtual std::optional<std::string> chooseImageFile(QWidget* parent) = 0;
};

// The file-open chooser "Open Image", configured but not yet shown: existing files only, the
// filters for still images, AVI files and all files, the first one selected.
std::unique_ptr<QFileDialog> createOpenImageDialog(QWidget* parent);

// Runs the chooser of createOpenImageDialog modally.
class OpenImageChooser : public FileChooser {
 public:
  std::optional<std::string> chooseImageFile(QWidget* parent) override;
};

}  // namespace tallen
