#include "dialog/test_support.h"

#include <QDir>
#include <QFile>
#include <opencv2/imgcodecs.hpp>

#include "core/procedure.h"
#include "dialog/source_image.h"

namespace tallen::dialog_testing {

namespace {

constexpr unsigned kNoiseSeed = 7;

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    qFatal("cannot write %s", qPrintable(path));
  }
}

}  // namespace

TestWorkspace::TestWorkspace() : previous_(QDir::currentPath()) {
  if (!root_.isValid()) qFatal("no temporary folder");
  QDir root(root_.path());
  root.mkpath(QStringLiteral("work"));
  root.mkpath(QStringLiteral("pictures"));
  writeParamFile(QByteArray("width,height\n") + QByteArray::number(kTemplateWidth) + ',' +
                 QByteArray::number(kTemplateHeight) + '\n');
  QDir::setCurrent(root.filePath(QStringLiteral("work")));
}

TestWorkspace::~TestWorkspace() { QDir::setCurrent(previous_); }

void TestWorkspace::writeParamFile(const QByteArray& content) const {
  writeFile(QDir(root_.path()).filePath(QStringLiteral("param.csv")), content);
}

void TestWorkspace::removeParamFile() const {
  QFile::remove(QDir(root_.path()).filePath(QStringLiteral("param.csv")));
}

std::string TestWorkspace::writePicture(const QString& name, const cv::Mat& picture) const {
  const QString path = QDir(root_.path()).filePath(QStringLiteral("pictures/") + name);
  const std::string local = QFile::encodeName(path).toStdString();
  if (!cv::imwrite(local, picture)) qFatal("cannot write %s", qPrintable(path));
  return local;
}

std::string TestWorkspace::writeBytes(const QString& name, const QByteArray& bytes) const {
  const QString path = QDir(root_.path()).filePath(QStringLiteral("pictures/") + name);
  writeFile(path, bytes);
  return QFile::encodeName(path).toStdString();
}

QByteArray TestWorkspace::workFile(const QString& name) const {
  QFile file(QDir(root_.path()).filePath(QStringLiteral("work/") + name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestWorkspace::writeWorkFile(const QString& name, const QByteArray& bytes) const {
  writeFile(QDir(root_.path()).filePath(QStringLiteral("work/") + name), bytes);
}

void TestWorkspace::removeWorkFile(const QString& name) const {
  QFile::remove(QDir(root_.path()).filePath(QStringLiteral("work/") + name));
}

bool TestWorkspace::hasWorkFile(const QString& name) const {
  return QFile::exists(QDir(root_.path()).filePath(QStringLiteral("work/") + name));
}

QList<QByteArray> workingFiles(const TestWorkspace& workspace) {
  return {workspace.workFile(QString::fromLatin1(kTemplateFile)),
          workspace.workFile(QString::fromLatin1(kMeanFile)),
          workspace.workFile(QString::fromLatin1(kThresholdFile))};
}

cv::Mat productPicture(int variant) {
  demo::ProductShot shot;
  shot.seed = kNoiseSeed;
  if (variant == 1) {
    shot.angleDegrees = 4.0;
    shot.shift = cv::Point2d(12, 8);
    shot.seed = kNoiseSeed + 1;
  } else if (variant == 2) {
    shot.defect = demo::Defect::kBlob;
  }
  return demo::drawProductPicture(kPictureSize, shot);
}

std::optional<std::string> ScriptedChooser::chooseImageFile(QWidget*) {
  ++calls;
  if (answers.empty()) return std::nullopt;
  std::optional<std::string> answer = answers.front();
  answers.pop_front();
  return answer;
}

void CollectedWarnings::warn(QWidget*, const QString& text) { texts.append(text); }

void resetShellState() {
  g_sourceImage.reset();
  g_sampleCount = 0;
}

}  // namespace tallen::dialog_testing
