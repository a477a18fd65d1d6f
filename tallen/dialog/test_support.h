#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "dialog/file_chooser.h"
#include "dialog/warning_sink.h"
#include "generator/product_scene.h"

namespace tallen::dialog_testing {

// Size of the generated pictures, and the template size of their settings file: the whole plate
// with a dark margin.
const cv::Size kPictureSize(320, 240);
const int kTemplateWidth = demo::templateSizeFor(kPictureSize).width;
const int kTemplateHeight = demo::templateSizeFor(kPictureSize).height;

// A fresh folder tree for one test: the process works in root/work, so that the settings file is
// root/param.csv; chosen pictures live in root/pictures. The previous working directory comes
// back on destruction.
class TestWorkspace {
 public:
  TestWorkspace();
  ~TestWorkspace();
  TestWorkspace(const TestWorkspace&) = delete;
  TestWorkspace& operator=(const TestWorkspace&) = delete;

  // Replaces root/param.csv with `content`, or removes it.
  void writeParamFile(const QByteArray& content) const;
  void removeParamFile() const;
  // Writes a picture (format from the extension) or raw bytes under root/pictures; returns the
  // absolute path in the local 8-bit encoding.
  std::string writePicture(const QString& name, const cv::Mat& picture) const;
  std::string writeBytes(const QString& name, const QByteArray& bytes) const;
  // A working file of root/work: its bytes (empty when missing), replaced or removed.
  QByteArray workFile(const QString& name) const;
  void writeWorkFile(const QString& name, const QByteArray& bytes) const;
  void removeWorkFile(const QString& name) const;
  bool hasWorkFile(const QString& name) const;

 private:
  QTemporaryDir root_;
  QString previous_;
};

// The bytes of the three working images, in a fixed order, for before/after comparisons.
QList<QByteArray> workingFiles(const TestWorkspace& workspace);

// A synthetic product photograph of kPictureSize: `variant` 0 is an upright good product, 1 the
// same turned and moved a little (another good sample), 2 one with a stain (a part under
// inspection).
cv::Mat productPicture(int variant);

// Answers the select button from a queue; an empty queue answers as a cancelled chooser.
class ScriptedChooser : public FileChooser {
 public:
  std::optional<std::string> chooseImageFile(QWidget* parent) override;
  std::deque<std::optional<std::string>> answers;
  int calls = 0;
};

// Keeps every warning instead of showing it.
class CollectedWarnings : public WarningSink {
 public:
  void warn(QWidget* parent, const QString& text) override;
  QStringList texts;
};

// Drops the held picture and sets the register counter back to 0, as at program start.
void resetShellState();

}  // namespace tallen::dialog_testing
