#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "core/procedure.h"
#include "dialog/source_image.h"
#include "dialog/tallen_dlg.h"
#include "dialog/test_support.h"
#include "windows/highgui_viewer.h"

using namespace tallen::dialog_testing;

namespace {

// Counts the paint events of every top-level window and its children, by window title.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType()) {
      ++paints[static_cast<QWidget*>(watched)->window()->windowTitle()];
    }
    return false;
  }
  std::map<QString, int> paints;
};

QWidget* visibleWindowTitled(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->windowTitle() == title) return w;
  }
  return nullptr;
}

}  // namespace

class TallenDlgEventLoopTest : public QObject {
  Q_OBJECT

 private slots:
  void imageWindowsArePaintedByTheDialogsOwnLoop();
};

void TallenDlgEventLoopTest::imageWindowsArePaintedByTheDialogsOwnLoop() {
  TestWorkspace workspace;
  resetShellState();
  const cv::Mat picture = productPicture(0);
  tallen::HighguiViewer viewer;
  ScriptedChooser chooser;
  chooser.answers.push_back(workspace.writePicture("good_1.bmp", picture));
  CollectedWarnings warnings;
  tallen::CTallenDlg dialog(viewer, chooser, warnings);
  auto* select = dialog.findChild<QPushButton*>(QStringLiteral("selectFileButton"));
  auto* reg = dialog.findChild<QPushButton*>(QStringLiteral("registerButton"));
  auto* exit = dialog.findChild<QPushButton*>(QStringLiteral("exitButton"));

  PaintCounter counter;
  qApp->installEventFilter(&counter);
  const QStringList titles{tallen::kOriginalWindow, tallen::kTemplateWindow,
                           tallen::kResultingWindow};
  bool handlersReturned = false;
  int resultingPaintsAtReturn = 0;
  bool allPainted = false;
  QImage original;

  // Everything below runs inside dialog.exec(): the presses, then a watch until every window has
  // been painted; nothing waits for a key.
  QTimer::singleShot(0, &dialog, [&] {
    select->click();
    reg->click();
    resultingPaintsAtReturn = counter.paints[tallen::kResultingWindow];
    handlersReturned = true;
  });
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!handlersReturned) return;
    for (const QString& title : titles) {
      if (visibleWindowTitled(title) == nullptr || counter.paints[title] == 0) return;
    }
    // The window shown last by the register handler is drawn only after the handler returned.
    if (counter.paints[tallen::kResultingWindow] == resultingPaintsAtReturn) return;
    allPainted = true;
    original = visibleWindowTitled(tallen::kOriginalWindow)->grab().toImage();
    exit->click();
  });
  watch.start();
  // A safety net only: the test fails, rather than hangs, if the windows never get painted.
  QTimer::singleShot(30000, &dialog, &QDialog::reject);

  dialog.exec();
  watch.stop();
  qApp->removeEventFilter(&counter);

  QVERIFY2(warnings.texts.isEmpty(), qPrintable(warnings.texts.join('\n')));
  QVERIFY(allPainted);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  // The window shows the chosen picture: the plate's colour at its centre.
  QVERIFY(!original.isNull());
  const QColor centre = original.pixelColor(original.width() / 2, original.height() / 2);
  const cv::Vec3b expected = picture.at<cv::Vec3b>(picture.rows / 2, picture.cols / 2);
  QVERIFY2(std::abs(centre.red() - expected[2]) < 12 && std::abs(centre.blue() - expected[0]) < 12,
           qPrintable(centre.name()));

  // Exit closed every image window.
  QApplication::processEvents();
  for (const QString& title : titles) QVERIFY(visibleWindowTitled(title) == nullptr);
  resetShellState();
}

QTEST_MAIN(TallenDlgEventLoopTest)
#include "tallen_dlg_event_loop_test.moc"
