// Renders the screenshots of the documentation: the dialog, and every image window after a
// session of template registration, sample registrations and one inspection.
//   tallen_screenshots OUT_DIR INSPECTED_PICTURE GOOD_PICTURE...
// Runs under an X server (Xvfb) from a working directory with ../param.csv. It drives the real
// dialog with the real highgui windows; only the file chooser is answered from the command line.
// Xvfb has no window manager, so the captions are drawn above each window's picture here.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/procedure.h"
#include "dialog/source_image.h"
#include "dialog/tallen_app.h"
#include "dialog/tallen_dlg.h"
#include "dialog/test_support.h"
#include "windows/highgui_viewer.h"

namespace {

constexpr int kCaptionHeight = 24;
constexpr int kGap = 12;
constexpr int kSheetColumns = 4;
constexpr int kMaxTileWidth = 256;
constexpr int kMaxTileHeight = 240;
// Time for highgui to lay out and paint the windows before they are grabbed.
constexpr int kSettleMs = 500;

// The picture of a window as a window manager would frame it: a caption bar with the title.
QImage framed(const QImage& content, const QString& title, const QIcon& icon) {
  QImage result(content.width() + 2, content.height() + kCaptionHeight + 1, QImage::Format_RGB32);
  result.fill(QColor(90, 96, 110));
  QPainter painter(&result);
  painter.fillRect(0, 0, result.width(), kCaptionHeight, QColor(52, 70, 110));
  int textX = 6;
  if (!icon.isNull()) {
    painter.drawPixmap(4, (kCaptionHeight - 16) / 2, icon.pixmap(16, 16));
    textX = 26;
  }
  painter.setPen(Qt::white);
  painter.drawText(QRect(textX, 0, result.width() - textX, kCaptionHeight),
                   Qt::AlignVCenter | Qt::AlignLeft, title);
  painter.drawImage(1, kCaptionHeight, content);
  return result;
}

QWidget* visibleWindowTitled(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->windowTitle() == title) return w;
  }
  return nullptr;
}

// Every image window in the order of a session, framed and tiled.
QImage windowSheet() {
  const char* const order[] = {tallen::kOriginalWindow,  "ソースイメージ",
                               "テンプレートマッチング", tallen::kTemplateWindow,
                               tallen::kResultingWindow, tallen::kMeanWindow,
                               tallen::kLowerWindow,     tallen::kUpperWindow,
                               tallen::kThresholdWindow, tallen::kDefectMapWindow};
  std::vector<QImage> tiles;
  for (const char* name : order) {
    QWidget* window = visibleWindowTitled(QString::fromUtf8(name));
    if (window == nullptr) {
      std::fprintf(stderr, "tallen_screenshots: no window \"%s\"\n", name);
      continue;
    }
    QImage content = window->grab().toImage();
    if (content.width() > kMaxTileWidth || content.height() > kMaxTileHeight) {
      content = content.scaled(kMaxTileWidth, kMaxTileHeight, Qt::KeepAspectRatio,
                               Qt::SmoothTransformation);
    }
    tiles.push_back(framed(content, window->windowTitle(), QIcon()));
  }
  std::vector<int> columnWidth(kSheetColumns, 0);
  std::vector<int> rowHeight((tiles.size() + kSheetColumns - 1) / kSheetColumns, 0);
  for (size_t i = 0; i < tiles.size(); ++i) {
    columnWidth[i % kSheetColumns] = std::max(columnWidth[i % kSheetColumns], tiles[i].width());
    rowHeight[i / kSheetColumns] = std::max(rowHeight[i / kSheetColumns], tiles[i].height());
  }
  int width = kGap;
  for (int w : columnWidth) width += w + kGap;
  int height = kGap;
  for (int h : rowHeight) height += h + kGap;
  QImage sheet(width, height, QImage::Format_RGB32);
  sheet.fill(QColor(40, 44, 52));
  QPainter painter(&sheet);
  int y = kGap;
  for (size_t row = 0; row < rowHeight.size(); ++row) {
    int x = kGap;
    for (int column = 0; column < kSheetColumns; ++column) {
      const size_t i = row * kSheetColumns + column;
      if (i < tiles.size()) painter.drawImage(x, y, tiles[i]);
      x += columnWidth[column] + kGap;
    }
    y += rowHeight[row] + kGap;
  }
  return sheet;
}

bool save(const QImage& image, const QString& path) {
  if (image.save(path)) return true;
  std::fprintf(stderr, "tallen_screenshots: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  tallen::CTallenApp app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: tallen_screenshots OUT_DIR INSPECTED_PICTURE GOOD_PICTURE...\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const std::string inspected = argv[2];
  const std::vector<std::string> goods(argv + 3, argv + argc);

  tallen::HighguiViewer viewer;
  tallen::dialog_testing::ScriptedChooser chooser;
  tallen::dialog_testing::CollectedWarnings warnings;
  tallen::CTallenDlg dialog(viewer, chooser, warnings);
  auto button = [&](const char* name) {
    return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
  };
  bool saved = true;

  QTimer::singleShot(kSettleMs, &dialog, [&] {
    saved &= save(framed(dialog.grab().toImage(), dialog.windowTitle(), dialog.windowIcon()),
                  out.filePath(QStringLiteral("tallen-dialog.png")));
    for (const std::string& good : goods) {
      chooser.answers.push_back(good);
      button("selectFileButton")->click();
      button("registerButton")->click();
    }
    chooser.answers.push_back(inspected);
    button("selectFileButton")->click();
    button("inspectButton")->click();
    QTimer::singleShot(kSettleMs, &dialog, [&] {
      saved &= save(windowSheet(), out.filePath(QStringLiteral("tallen-windows.png")));
      // Cancel, as an operator may: the program ends with its image windows still open.
      button("cancelButton")->click();
    });
  });
  dialog.exec();

  for (const QString& text : warnings.texts) std::fprintf(stderr, "%s\n", qPrintable(text));
  return saved && warnings.texts.isEmpty() ? 0 : 1;
}
