#include "dialog/file_chooser.h"

#include <QFile>
#include <QStringList>

namespace tallen {

namespace {

const char kTitle[] = "Open Image";
// A name typed without extension is taken as a bitmap.
const char kDefaultSuffix[] = "bmp";

QStringList nameFilters() {
  return {QStringLiteral("image files (*.bmp *.jpg)"), QStringLiteral("AVI files (*.avi)"),
          QStringLiteral("All Files (*)")};
}

}  // namespace

std::unique_ptr<QFileDialog> createOpenImageDialog(QWidget* parent) {
  auto dialog = std::make_unique<QFileDialog>(parent, QString::fromLatin1(kTitle));
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setDefaultSuffix(QString::fromLatin1(kDefaultSuffix));
  const QStringList filters = nameFilters();
  dialog->setNameFilters(filters);
  dialog->selectNameFilter(filters.front());
  return dialog;
}

std::optional<std::string> OpenImageChooser::chooseImageFile(QWidget* parent) {
  std::unique_ptr<QFileDialog> dialog = createOpenImageDialog(parent);
  if (dialog->exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog->selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QFile::encodeName(files.front()).toStdString();
}

}  // namespace tallen
