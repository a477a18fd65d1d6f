// The dialog's presses leave a model record that describes the files they wrote.
#include <QPushButton>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "core/model_record.h"
#include "core/procedure.h"
#include "core/recording_viewer.h"
#include "dialog/tallen_dlg.h"
#include "dialog/test_support.h"

using namespace tallen::dialog_testing;

namespace {

std::string digestOf(const QByteArray& bytes) {
  return tallen::sha256Hex(std::vector<uchar>(bytes.begin(), bytes.end()));
}

}  // namespace

class ModelRecordDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void sessionWritesTheRecordWithEverySave();
};

void ModelRecordDialogTest::sessionWritesTheRecordWithEverySave() {
  TestWorkspace workspace;
  resetShellState();
  tallen::RecordingViewer viewer;
  ScriptedChooser chooser;
  CollectedWarnings warnings;
  tallen::CTallenDlg dialog(viewer, chooser, warnings);
  const auto press = [&](const char* name) {
    dialog.findChild<QPushButton*>(QString::fromLatin1(name))->click();
  };

  chooser.answers.push_back(workspace.writePicture("good_1.bmp", productPicture(0)));
  press("selectFileButton");
  press("registerButton");  // the template
  std::optional<tallen::ModelRecord> record = tallen::readModelRecord();
  QVERIFY(record.has_value());
  QCOMPARE(record->samples, 0);
  QCOMPARE(record->templateSize, cv::Size(kTemplateWidth, kTemplateHeight));
  QCOMPARE(record->sha256.size(), size_t(1));
  QCOMPARE(record->sha256.at(tallen::kTemplateFile),
           digestOf(workspace.workFile(tallen::kTemplateFile)));

  press("registerButton");  // sample 1
  chooser.answers.push_back(workspace.writePicture("good_2.jpg", productPicture(1)));
  press("selectFileButton");
  press("registerButton");  // sample 2
  QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('\n')));
  record = tallen::readModelRecord();
  QVERIFY(record.has_value());
  QCOMPARE(record->samples, 2);
  for (const char* file : {tallen::kTemplateFile, tallen::kMeanFile, tallen::kThresholdFile}) {
    QCOMPARE(record->sha256.at(file), digestOf(workspace.workFile(file)));
  }
  QVERIFY(tallen::recordMatches(tallen::verifyModelRecord(*record)));

  // Inspecting writes nothing, the record included.
  const QByteArray before = workspace.workFile(tallen::kModelRecordFile);
  chooser.answers.push_back(workspace.writePicture("part.jpg", productPicture(2)));
  press("selectFileButton");
  press("inspectButton");
  QCOMPARE(workspace.workFile(tallen::kModelRecordFile), before);
  resetShellState();
}

QTEST_MAIN(ModelRecordDialogTest)
#include "model_record_dialog_test.moc"
