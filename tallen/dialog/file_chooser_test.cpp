#include "dialog/file_chooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <string>
#include <utility>

#include "dialog/test_support.h"

using namespace tallen::dialog_testing;

namespace {

// Answers the chooser from inside its own modal loop for as long as it is up: the folder loads in
// the background, and an answer given before it is read may be lost.
class ChooserAnswerer {
 public:
  explicit ChooserAnswerer(std::function<void(QFileDialog&)> answer) : answer_(std::move(answer)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog != nullptr && dialog->isVisible()) answer_(*dialog);
    });
    poll_.start(20);
  }

 private:
  std::function<void(QFileDialog&)> answer_;
  QTimer poll_;
};

}  // namespace

class FileChooserTest : public QObject {
  Q_OBJECT

 private slots:
  void chooserIsConfiguredForExistingPictures();
  void chooserReturnsTheChosenPathOrNothing_data();
  void chooserReturnsTheChosenPathOrNothing();
};

void FileChooserTest::chooserIsConfiguredForExistingPictures() {
  const std::unique_ptr<QFileDialog> dialog = tallen::createOpenImageDialog(nullptr);
  QCOMPARE(dialog->windowTitle(), QStringLiteral("Open Image"));
  QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
  QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
  const QStringList filters{QStringLiteral("image files (*.bmp *.jpg)"),
                            QStringLiteral("AVI files (*.avi)"), QStringLiteral("All Files (*)")};
  QCOMPARE(dialog->nameFilters(), filters);
  QCOMPARE(dialog->selectedNameFilter(), filters.front());
  QCOMPARE(dialog->defaultSuffix(), QStringLiteral("bmp"));
}

void FileChooserTest::chooserReturnsTheChosenPathOrNothing_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("accept");
  QTest::newRow("plain name") << "good_1.jpg" << true;
  QTest::newRow("japanese name") << QStringLiteral("良品_2.bmp") << true;
  QTest::newRow("cancelled") << "good_1.jpg" << false;
}

void FileChooserTest::chooserReturnsTheChosenPathOrNothing() {
  QFETCH(QString, name);
  QFETCH(bool, accept);
  TestWorkspace workspace;
  const std::string path = workspace.writePicture(name, productPicture(0));
  const ChooserAnswerer answerer([&](QFileDialog& dialog) {
    if (!accept) {
      dialog.reject();
      return;
    }
    // As an operator would: the full path typed into the name field, then Open.
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name != nullptr);
    name->setText(QFile::decodeName(path.c_str()));
    // accept() checks the name against the chooser's rules, as the Open button does.
    QMetaObject::invokeMethod(&dialog, "accept");
  });

  tallen::OpenImageChooser chooser;
  const std::optional<std::string> chosen = chooser.chooseImageFile(nullptr);
  if (!accept) {
    QVERIFY(!chosen);
    return;
  }
  QVERIFY(chosen);
  QCOMPARE(*chosen, path);
  // The path is usable as it is by the decoder, whatever characters the name holds.
  QVERIFY(!cv::imread(*chosen, cv::IMREAD_COLOR).empty());
}

QTEST_MAIN(FileChooserTest)
#include "file_chooser_test.moc"
