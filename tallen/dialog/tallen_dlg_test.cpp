#include "dialog/tallen_dlg.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "core/procedure.h"
#include "core/recording_viewer.h"
#include "dialog/source_image.h"
#include "dialog/test_support.h"

using tallen::CTallenDlg;
using tallen::g_sampleCount;
using tallen::g_sourceImage;
using tallen::RecordingViewer;
using namespace tallen::dialog_testing;

namespace {

// A recording viewer that can act in the middle of a show, where highgui runs the event loop.
class ReentrantViewer : public RecordingViewer {
 public:
  void show(const std::string& name, const cv::Mat& image) override {
    RecordingViewer::show(name, image);
    if (duringShow) {
      const std::function<void()> hook = duringShow;
      duringShow = nullptr;
      hook();
    }
  }
  std::function<void()> duringShow;
};

int countOf(const std::vector<std::string>& names, const std::string& name) {
  return static_cast<int>(std::count(names.begin(), names.end(), name));
}

}  // namespace

class TallenDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void showsTheCaptionsAndLayoutOfTheDialog();
  void exitHasTheFocusSoEnterEndsTheDialog_data();
  void exitHasTheFocusSoEnterEndsTheDialog();
  void sessionRegistersTemplateAndSamplesThenInspects();
  void pressesBeforeAnyFileDoNothing();
  void cancelledChooserKeepsEverything();
  void undecodableFileReleasesThePreviousPictureAndWarns();
  void procedureErrorLeavesTheCounterAndFiles_data();
  void procedureErrorLeavesTheCounterAndFiles();
  void counterRunsOnAcrossFileChoices();
  void registerAtCounter1000Inspects();
  void exitClosesWindowsAndCancelLeavesThem_data();
  void exitClosesWindowsAndCancelLeavesThem();
  void pressesDuringACallAreIgnored();

 private:
  QPushButton* button(const char* name) const {
    return dialog_->findChild<QPushButton*>(QString::fromLatin1(name));
  }
  void choose(const std::string& path) {
    chooser_.answers.push_back(path);
    button("selectFileButton")->click();
  }
  void pressRegister() { button("registerButton")->click(); }
  void pressInspect() { button("inspectButton")->click(); }

  std::unique_ptr<TestWorkspace> workspace_;
  std::unique_ptr<ReentrantViewer> viewer_;
  ScriptedChooser chooser_;
  CollectedWarnings warnings_;
  std::unique_ptr<CTallenDlg> dialog_;
  std::string pictureA_;
  std::string pictureB_;
};

void TallenDlgTest::init() {
  workspace_ = std::make_unique<TestWorkspace>();
  resetShellState();
  viewer_ = std::make_unique<ReentrantViewer>();
  chooser_ = ScriptedChooser();
  warnings_ = CollectedWarnings();
  dialog_ = std::make_unique<CTallenDlg>(*viewer_, chooser_, warnings_);
  pictureA_ = workspace_->writePicture("good_1.bmp", productPicture(0));
  pictureB_ = workspace_->writePicture("good_2.jpg", productPicture(1));
}

void TallenDlgTest::cleanup() {
  dialog_.reset();
  resetShellState();
  workspace_.reset();
}

void TallenDlgTest::showsTheCaptionsAndLayoutOfTheDialog() {
  QCOMPARE(dialog_->windowTitle(), QStringLiteral("Lumidor"));
  QPushButton* exit = button("exitButton");
  QPushButton* cancel = button("cancelButton");
  QPushButton* select = button("selectFileButton");
  QPushButton* reg = button("registerButton");
  QPushButton* inspect = button("inspectButton");
  QVERIFY(exit && cancel && select && reg && inspect);
  QCOMPARE(exit->text(), QStringLiteral("終了"));
  QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
  QCOMPARE(select->text(), QStringLiteral("ファイル選択"));
  QCOMPARE(reg->text(), QStringLiteral("サンプル登録"));
  QCOMPARE(inspect->text(), QStringLiteral("検査"));
  QVERIFY(exit->isDefault());
  QVERIFY(!cancel->isDefault() && !select->isDefault());

  // Tall buttons in a row from the left, exit over cancel at the right.
  QVERIFY(select->x() < reg->x() && reg->x() < inspect->x() && inspect->x() < exit->x());
  QCOMPARE(select->y(), reg->y());
  QCOMPARE(reg->height(), select->height());
  QVERIFY(select->height() > 2 * exit->height());
  QCOMPARE(cancel->x(), exit->x());
  QVERIFY(cancel->y() > exit->geometry().bottom());
  for (QPushButton* b : {exit, cancel, select, reg, inspect}) {
    QVERIFY2(dialog_->rect().contains(b->geometry()), qPrintable(b->text()));
    QVERIFY2(b->sizeHint().width() <= b->width() + 8, qPrintable(b->text()));
  }

  // 255 x 68 dialog units: fixed, and wider than tall in that proportion.
  QCOMPARE(dialog_->minimumSize(), dialog_->maximumSize());
  const double aspect = double(dialog_->width()) / dialog_->height();
  QVERIFY2(aspect > 2.5 && aspect < 4.5, qPrintable(QString::number(aspect)));

  const QList<QWidget*> tabOrder{exit, cancel, select, reg, inspect};
  for (int i = 0; i + 1 < tabOrder.size(); ++i) {
    QCOMPARE(tabOrder[i]->nextInFocusChain(), tabOrder[i + 1]);
  }

  const QList<QSize> sizes = dialog_->windowIcon().availableSizes();
  QVERIFY(sizes.contains(QSize(32, 32)));
  QVERIFY(sizes.contains(QSize(16, 16)));
}

void TallenDlgTest::exitHasTheFocusSoEnterEndsTheDialog_data() {
  QTest::addColumn<bool>("fileChosen");
  QTest::newRow("right after start") << false;
  QTest::newRow("after a file choice") << true;
}

void TallenDlgTest::exitHasTheFocusSoEnterEndsTheDialog() {
  QFETCH(bool, fileChosen);
  dialog_->show();
  QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
  QCOMPARE(QApplication::focusWidget(), button("exitButton"));
  if (fileChosen) {
    choose(pictureA_);
    QCOMPARE(QApplication::focusWidget(), button("exitButton"));
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QVERIFY(!dialog_->isVisible());
  QCOMPARE(dialog_->result(), int(QDialog::Accepted));
  QCOMPARE(viewer_->closeAllCount(), fileChosen ? 1 : 0);
}

void TallenDlgTest::sessionRegistersTemplateAndSamplesThenInspects() {
  choose(pictureA_);
  pressRegister();
  QVERIFY(workspace_->hasWorkFile(tallen::kTemplateFile));
  QVERIFY(!workspace_->hasWorkFile(tallen::kMeanFile));
  pressRegister();
  pressRegister();
  QVERIFY2(warnings_.texts.isEmpty(), qPrintable(warnings_.texts.join('\n')));
  QCOMPARE(g_sampleCount, 3);
  QVERIFY(workspace_->hasWorkFile(tallen::kMeanFile));
  QVERIFY(workspace_->hasWorkFile(tallen::kThresholdFile));

  const QList<QByteArray> model = workingFiles(*workspace_);
  choose(workspace_->writePicture("part.jpg", productPicture(2)));
  pressInspect();
  QVERIFY2(warnings_.texts.isEmpty(), qPrintable(warnings_.texts.join('\n')));
  QCOMPARE(g_sampleCount, 3);
  QCOMPARE(workingFiles(*workspace_), model);

  const std::vector<std::string> names = viewer_->names();
  QCOMPARE(countOf(names, tallen::kOriginalWindow), 2);
  QCOMPARE(countOf(names, tallen::kTemplateWindow), 1);
  QCOMPARE(countOf(names, tallen::kResultingWindow), 3);
  for (const char* window : {tallen::kMeanWindow, tallen::kLowerWindow, tallen::kUpperWindow,
                             tallen::kThresholdWindow}) {
    QCOMPARE(countOf(names, window), 2);
  }
  QCOMPARE(countOf(names, tallen::kDefectMapWindow), 1);
  QCOMPARE(viewer_->latest(tallen::kDefectMapWindow).size(),
           cv::Size(kTemplateWidth, kTemplateHeight));
  // The flaw of the inspected part shows in its defect map.
  QVERIFY(cv::countNonZero(viewer_->latest(tallen::kDefectMapWindow)) > 0);
  // "Resulting Image" shows the held picture itself.
  QCOMPARE(cv::norm(viewer_->latest(tallen::kResultingWindow), viewer_->shown().front().image,
                    cv::NORM_INF),
           0.0);
}

void TallenDlgTest::pressesBeforeAnyFileDoNothing() {
  pressRegister();
  pressInspect();
  pressRegister();
  QCOMPARE(g_sampleCount, 0);
  QVERIFY(viewer_->shown().empty());
  QVERIFY(warnings_.texts.isEmpty());
  QCOMPARE(workingFiles(*workspace_), QList<QByteArray>({{}, {}, {}}));
  // The first registration after a file is chosen is still the template.
  choose(pictureA_);
  pressRegister();
  QCOMPARE(countOf(viewer_->names(), tallen::kTemplateWindow), 1);
}

void TallenDlgTest::cancelledChooserKeepsEverything() {
  choose(pictureA_);
  pressRegister();
  tallen::SourceImage* held = g_sourceImage.get();
  const size_t shownBefore = viewer_->shown().size();

  button("selectFileButton")->click();  // no answer queued: cancelled
  QCOMPARE(chooser_.calls, 2);
  QCOMPARE(g_sourceImage.get(), held);
  QVERIFY(!g_sourceImage->image().empty());
  QCOMPARE(g_sampleCount, 1);
  QCOMPARE(viewer_->shown().size(), shownBefore);
  pressRegister();
  QCOMPARE(countOf(viewer_->names(), tallen::kMeanWindow), 1);
}

void TallenDlgTest::undecodableFileReleasesThePreviousPictureAndWarns() {
  choose(pictureA_);
  pressRegister();
  const std::string bad = workspace_->writeBytes("clip.avi", QByteArray("RIFF\0\0\0\0AVI ", 12));
  const size_t shownBefore = viewer_->shown().size();
  const QList<QByteArray> files = workingFiles(*workspace_);

  choose(bad);
  QVERIFY(g_sourceImage);
  QVERIFY(g_sourceImage->image().empty());
  QCOMPARE(viewer_->shown().size(), shownBefore);  // "Original Image" keeps its last picture
  QVERIFY(warnings_.texts.isEmpty());

  pressRegister();
  pressInspect();
  QCOMPARE(warnings_.texts.size(), 2);
  for (const QString& text : warnings_.texts) {
    QVERIFY2(text.contains(QFile::decodeName(bad.c_str())), qPrintable(text));
  }
  QCOMPARE(g_sampleCount, 1);
  QCOMPARE(viewer_->shown().size(), shownBefore);
  QCOMPARE(workingFiles(*workspace_), files);

  button("exitButton")->click();
  QCOMPARE(viewer_->closeAllCount(), 1);
  QCOMPARE(dialog_->result(), int(QDialog::Accepted));
}

void TallenDlgTest::procedureErrorLeavesTheCounterAndFiles_data() {
  QTest::addColumn<int>("goodPresses");
  QTest::addColumn<QString>("breakage");
  QTest::addColumn<bool>("inspect");
  QTest::addColumn<QString>("named");
  QTest::newRow("no settings file") << 0 << "param" << false << "param.csv";
  QTest::newRow("settings without a size") << 1 << "size" << false << "param.csv";
  QTest::newRow("template missing") << 1 << "template" << false << "templImage.jpg";
  QTest::newRow("mean missing") << 2 << "mean" << false << "gdaccnumI.jpg";
  QTest::newRow("template of another size") << 2 << "resize" << false << "templImage.jpg";
  QTest::newRow("inspect before any sample") << 1 << "" << true << "gdaccnumI.jpg";
  QTest::newRow("no object in the picture") << 0 << "dark" << false << "object";
  QTest::newRow("no object in a sample") << 2 << "black" << false << "object";
  QTest::newRow("no object to inspect") << 2 << "black" << true << "object";
}

void TallenDlgTest::procedureErrorLeavesTheCounterAndFiles() {
  QFETCH(int, goodPresses);
  QFETCH(QString, breakage);
  QFETCH(bool, inspect);
  QFETCH(QString, named);
  choose(pictureA_);
  for (int i = 0; i < goodPresses; ++i) pressRegister();
  QVERIFY(warnings_.texts.isEmpty());

  const QByteArray goodParam = QByteArray("w,h\n") + QByteArray::number(kTemplateWidth) + ',' +
                               QByteArray::number(kTemplateHeight) + '\n';
  const QString breakFile = breakage == "template" ? tallen::kTemplateFile : tallen::kMeanFile;
  const QByteArray saved = workspace_->workFile(breakFile);
  if (breakage == "param") workspace_->removeParamFile();
  if (breakage == "size") workspace_->writeParamFile("w,h\nwide,tall\n");
  if (breakage == "template" || breakage == "mean") workspace_->removeWorkFile(breakFile);
  if (breakage == "resize") workspace_->writeParamFile("w,h\n90,150\n");
  if (breakage == "dark")
    choose(workspace_->writePicture("dark.bmp", cv::Mat::zeros(50, 60, CV_8UC3)));
  if (breakage == "black") {
    choose(
        workspace_->writePicture("black.bmp", cv::Mat::zeros(productPicture(0).size(), CV_8UC3)));
  }
  const QList<QByteArray> files = workingFiles(*workspace_);
  const size_t shownBefore = viewer_->shown().size();
  const char* expected = goodPresses == 0 ? tallen::kTemplateWindow : tallen::kMeanWindow;
  const int expectedBefore = countOf(viewer_->names(), expected);

  inspect ? pressInspect() : pressRegister();
  QCOMPARE(warnings_.texts.size(), 1);
  QVERIFY2(warnings_.texts.front().contains(named), qPrintable(warnings_.texts.front()));
  QVERIFY2(warnings_.texts.front().contains(QFile::decodeName(g_sourceImage->path().c_str())),
           qPrintable(warnings_.texts.front()));
  QCOMPARE(g_sampleCount, goodPresses);
  QCOMPARE(workingFiles(*workspace_), files);
  QCOMPARE(viewer_->shown().size(), shownBefore);

  // Once mended, the next press makes the registration that failed.
  workspace_->writeParamFile(goodParam);
  if (breakage == "template" || breakage == "mean") workspace_->writeWorkFile(breakFile, saved);
  if (breakage == "dark" || breakage == "black") choose(pictureA_);
  pressRegister();
  QVERIFY2(warnings_.texts.size() == 1, qPrintable(warnings_.texts.join('\n')));
  QCOMPARE(g_sampleCount, goodPresses + 1);
  QCOMPARE(countOf(viewer_->names(), expected), expectedBefore + 1);
}

void TallenDlgTest::counterRunsOnAcrossFileChoices() {
  choose(pictureA_);
  pressRegister();
  QCOMPARE(countOf(viewer_->names(), tallen::kTemplateWindow), 1);
  pressRegister();
  // Sample 1 starts the model afresh: no spread yet.
  QCOMPARE(cv::countNonZero(viewer_->latest(tallen::kThresholdWindow).reshape(1)), 0);

  choose(pictureB_);
  pressRegister();
  QVERIFY(warnings_.texts.isEmpty());
  QCOMPARE(g_sampleCount, 3);
  const std::vector<std::string> names = viewer_->names();
  QCOMPARE(countOf(names, tallen::kTemplateWindow), 1);
  QCOMPARE(countOf(names, tallen::kMeanWindow), 2);
  // Sample 2 is folded into sample 1: the two pictures differ, so the tolerance is no longer 0.
  QVERIFY(cv::countNonZero(viewer_->latest(tallen::kThresholdWindow).reshape(1)) > 0);
}

void TallenDlgTest::registerAtCounter1000Inspects() {
  choose(pictureA_);
  pressRegister();
  pressRegister();
  g_sampleCount = tallen::kInspectMode;
  const QList<QByteArray> model = workingFiles(*workspace_);
  const size_t meansBefore = countOf(viewer_->names(), tallen::kMeanWindow);

  pressRegister();
  QVERIFY(warnings_.texts.isEmpty());
  QCOMPARE(g_sampleCount, 1001);
  QCOMPARE(countOf(viewer_->names(), tallen::kDefectMapWindow), 1);
  QCOMPARE(size_t(countOf(viewer_->names(), tallen::kMeanWindow)), meansBefore);
  QCOMPARE(workingFiles(*workspace_), model);

  pressRegister();  // sample 1001 is a registration again
  QCOMPARE(g_sampleCount, 1002);
  QCOMPARE(size_t(countOf(viewer_->names(), tallen::kMeanWindow)), meansBefore + 1);
  QVERIFY(workingFiles(*workspace_) != model);
}

void TallenDlgTest::exitClosesWindowsAndCancelLeavesThem_data() {
  QTest::addColumn<bool>("fileChosen");
  QTest::addColumn<QString>("buttonName");
  QTest::addColumn<int>("closeAlls");
  QTest::addColumn<int>("result");
  QTest::newRow("exit") << true << "exitButton" << 1 << int(QDialog::Accepted);
  QTest::newRow("exit before any file") << false << "exitButton" << 0 << int(QDialog::Accepted);
  QTest::newRow("cancel") << true << "cancelButton" << 0 << int(QDialog::Rejected);
}

void TallenDlgTest::exitClosesWindowsAndCancelLeavesThem() {
  QFETCH(bool, fileChosen);
  QFETCH(QString, buttonName);
  QFETCH(int, closeAlls);
  QFETCH(int, result);
  dialog_->show();
  if (fileChosen) {
    choose(pictureA_);
    pressRegister();
  }
  const QList<QByteArray> files = workingFiles(*workspace_);
  button(qPrintable(buttonName))->click();
  QVERIFY(!dialog_->isVisible());
  QCOMPARE(dialog_->result(), result);
  QCOMPARE(viewer_->closeAllCount(), closeAlls);
  QCOMPARE(workingFiles(*workspace_), files);
  QVERIFY(warnings_.texts.isEmpty());
}

void TallenDlgTest::pressesDuringACallAreIgnored() {
  dialog_->show();
  QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
  choose(pictureA_);
  QPushButton* reg = button("registerButton");
  bool disabledDuringCall = false;
  viewer_->duringShow = [&] {
    disabledDuringCall = !reg->isEnabled() && !button("exitButton")->isEnabled();
    // A click delivered by the event loop that highgui runs, and direct calls of every handler.
    const QPoint centre = reg->rect().center();
    QApplication::postEvent(reg, new QMouseEvent(QEvent::MouseButtonPress, centre, Qt::LeftButton,
                                                 Qt::LeftButton, Qt::NoModifier));
    QApplication::postEvent(reg, new QMouseEvent(QEvent::MouseButtonRelease, centre, Qt::LeftButton,
                                                 Qt::NoButton, Qt::NoModifier));
    QApplication::processEvents();
    reg->click();
    dialog_->OnRegisterSample();
    dialog_->OnInspect();
    dialog_->OnSelectFile();
    dialog_->OnExit();
    dialog_->reject();
  };
  reg->setFocus();
  pressRegister();

  QVERIFY(disabledDuringCall);
  QVERIFY(!viewer_->duringShow);  // the hook ran
  QCOMPARE(g_sampleCount, 1);
  QCOMPARE(countOf(viewer_->names(), tallen::kTemplateWindow), 1);
  QCOMPARE(countOf(viewer_->names(), tallen::kResultingWindow), 1);
  QCOMPARE(chooser_.calls, 1);
  QCOMPARE(viewer_->closeAllCount(), 0);
  QVERIFY(dialog_->isVisible());
  QVERIFY(warnings_.texts.isEmpty());
  // Afterwards the dialog answers again, with the focus where it was.
  QVERIFY(reg->isEnabled());
  QCOMPARE(QApplication::focusWidget(), reg);
  pressRegister();
  QCOMPARE(g_sampleCount, 2);
}

QTEST_MAIN(TallenDlgTest)
#include "tallen_dlg_test.moc"
