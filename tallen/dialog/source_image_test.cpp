#include "dialog/source_image.h"

#include <QtTest>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "core/procedure.h"
#include "core/procedure_error.h"
#include "core/recording_viewer.h"
#include "dialog/test_support.h"

using tallen::RecordingViewer;
using tallen::SourceImage;
using namespace tallen::dialog_testing;

class SourceImageTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { workspace_ = std::make_unique<TestWorkspace>(); }
  void cleanup() { workspace_.reset(); }

  void decodesEveryPictureAsColour_data();
  void decodesEveryPictureAsColour();
  void showFlagShowsTheDecodedPicture();
  void undecodableFileHoldsNoImageAndShowsNothing_data();
  void undecodableFileHoldsNoImageAndShowsNothing();
  void processRunsTheProcedureWithoutChangingThePicture();

 private:
  std::unique_ptr<TestWorkspace> workspace_;
};

void SourceImageTest::decodesEveryPictureAsColour_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("type");
  QTest::newRow("gray bmp") << "gray.bmp" << CV_8UC1;
  QTest::newRow("colour jpg") << "colour.jpg" << CV_8UC3;
  QTest::newRow("16-bit png") << "deep.png" << CV_16UC3;
}

void SourceImageTest::decodesEveryPictureAsColour() {
  QFETCH(QString, name);
  QFETCH(int, type);
  cv::Mat picture(30, 40, type, cv::Scalar::all(type == CV_16UC3 ? 40000 : 150));
  const std::string path = workspace_->writePicture(name, picture);

  RecordingViewer viewer;
  SourceImage holder(path, false, viewer);
  QCOMPARE(holder.image().type(), CV_8UC3);
  QCOMPARE(holder.image().size(), cv::Size(40, 30));
  QCOMPARE(holder.path(), path);
  QVERIFY(viewer.shown().empty());
}

void SourceImageTest::showFlagShowsTheDecodedPicture() {
  const cv::Mat picture = productPicture(0);
  const std::string path = workspace_->writePicture("a.bmp", picture);
  RecordingViewer viewer;
  SourceImage holder(path, true, viewer);
  QCOMPARE(viewer.names(), std::vector<std::string>{tallen::kOriginalWindow});
  QCOMPARE(cv::norm(viewer.latest(tallen::kOriginalWindow), picture, cv::NORM_INF), 0.0);
}

void SourceImageTest::undecodableFileHoldsNoImageAndShowsNothing_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("text named jpg") << "notes.jpg" << QByteArray("not a picture\n");
  QTest::newRow("avi") << "clip.avi" << QByteArray("RIFF\x10\0\0\0AVI LIST", 16);
  QTest::newRow("empty bmp") << "empty.bmp" << QByteArray();
  // OpenCV alone decodes a cut JPEG partly, without an error.
  std::vector<uchar> jpeg;
  cv::imencode(".jpg", productPicture(0), jpeg);
  const QByteArray whole(reinterpret_cast<const char*>(jpeg.data()), int(jpeg.size()));
  QTest::newRow("jpg cut at half") << "half.jpg" << whole.left(whole.size() / 2);
  QTest::newRow("jpg cut at 2000 bytes") << "start.jpg" << whole.left(2000);
}

void SourceImageTest::undecodableFileHoldsNoImageAndShowsNothing() {
  QFETCH(QString, name);
  QFETCH(QByteArray, bytes);
  const std::string path = workspace_->writeBytes(name, bytes);
  RecordingViewer viewer;
  SourceImage holder(path, true, viewer);
  QVERIFY(holder.image().empty());
  QVERIFY(viewer.shown().empty());

  // Modes that need the picture report the file; exit still closes the windows.
  try {
    holder.process(tallen::kTemplateMode);
    QFAIL("no error for a picture that did not decode");
  } catch (const tallen::InspectionError& e) {
    QVERIFY2(std::string(e.what()).find(path) != std::string::npos, e.what());
  }
  QVERIFY_EXCEPTION_THROWN(holder.process(tallen::kInspectMode), tallen::InspectionError);
  QVERIFY(!workspace_->hasWorkFile(tallen::kTemplateFile));
  holder.process(tallen::kExitMode);
  QCOMPARE(viewer.closeAllCount(), 1);
  holder.process(-2);
  QVERIFY(viewer.shown().empty());
}

void SourceImageTest::processRunsTheProcedureWithoutChangingThePicture() {
  const std::string path = workspace_->writePicture("a.bmp", productPicture(0));
  RecordingViewer viewer;
  SourceImage holder(path, false, viewer);
  const cv::Mat before = holder.image().clone();

  holder.process(tallen::kTemplateMode);
  QVERIFY(workspace_->hasWorkFile(tallen::kTemplateFile));
  QCOMPARE(viewer.latest(tallen::kTemplateWindow).size(),
           cv::Size(kTemplateWidth, kTemplateHeight));
  holder.process(1);
  QVERIFY(workspace_->hasWorkFile(tallen::kMeanFile));
  QCOMPARE(cv::norm(holder.image(), before, cv::NORM_INF), 0.0);
}

QTEST_MAIN(SourceImageTest)
#include "source_image_test.moc"
