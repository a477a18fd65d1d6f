#include "dialog/tallen_dlg.h"

#include <QFile>
#include <QFontMetrics>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "core/procedure.h"
#include "core/procedure_error.h"
#include "dialog/source_image.h"

// Qt's resource initialiser must be named outside every namespace.
static void initDialogResources() { Q_INIT_RESOURCE(tallen_dialog); }

namespace tallen {

namespace {

const char kCaption[] = "Lumidor";
const char kIcon32[] = ":/tallen/tallen_32.png";
const char kIcon16[] = ":/tallen/tallen_16.png";

// The dialog's layout in dialog units: a quarter of the font's mean character width across and an
// eighth of its height down, so that the dialog keeps its proportions at any font size.
constexpr QSize kDialogSize(255, 68);
constexpr QRect kExitRect(198, 7, 50, 14);
constexpr QRect kCancelRect(198, 23, 50, 14);
constexpr QRect kSelectFileRect(7, 7, 54, 54);
constexpr QRect kRegisterRect(76, 7, 50, 54);
constexpr QRect kInspectRect(139, 7, 52, 54);

// Font base units as the classic dialog manager measures them.
struct DialogUnits {
  int baseX;
  int baseY;

  explicit DialogUnits(const QFontMetrics& metrics)
      : baseX((metrics.horizontalAdvance(
                   QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                   26 +
               1) /
              2),
        baseY(metrics.height()) {}

  int x(int units) const { return (units * baseX + 2) / 4; }
  int y(int units) const { return (units * baseY + 4) / 8; }
  QRect rect(const QRect& units) const {
    return QRect(x(units.x()), y(units.y()), x(units.width()), y(units.height()));
  }
  QSize size(const QSize& units) const { return QSize(x(units.width()), y(units.height())); }
};

// Restores the dialog's interactive state however the handler leaves.
class BusyScope {
 public:
  BusyScope(bool& busy, std::function<void(bool)> setEnabled, QWidget* focused)
      : busy_(busy), setEnabled_(std::move(setEnabled)), focused_(focused) {
    busy_ = true;
    setEnabled_(false);
  }
  ~BusyScope() {
    setEnabled_(true);
    // Disabling moved the focus away from the pressed button; give it back.
    if (focused_) focused_->setFocus();
    busy_ = false;
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& busy_;
  std::function<void(bool)> setEnabled_;
  QPointer<QWidget> focused_;
};

}  // namespace

CTallenDlg::CTallenDlg(ImageViewer& viewer, FileChooser& chooser, WarningSink& warnings,
                       QWidget* parent)
    : QDialog(parent), viewer_(viewer), chooser_(chooser), warnings_(warnings) {
  setWindowTitle(QString::fromLatin1(kCaption));
  setWindowIcon(appIcon());
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  // Created in tab order: exit first, so that it holds the focus at start.
  exitButton_ = new QPushButton(QStringLiteral("終了"), this);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
  selectFileButton_ = new QPushButton(QStringLiteral("ファイル選択"), this);
  registerButton_ = new QPushButton(QStringLiteral("サンプル登録"), this);
  inspectButton_ = new QPushButton(QStringLiteral("検査"), this);
  exitButton_->setObjectName(QStringLiteral("exitButton"));
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  selectFileButton_->setObjectName(QStringLiteral("selectFileButton"));
  registerButton_->setObjectName(QStringLiteral("registerButton"));
  inspectButton_->setObjectName(QStringLiteral("inspectButton"));
  setTabOrder(exitButton_, cancelButton_);
  setTabOrder(cancelButton_, selectFileButton_);
  setTabOrder(selectFileButton_, registerButton_);
  setTabOrder(registerButton_, inspectButton_);
  exitButton_->setDefault(true);
  exitButton_->setFocus();

  const DialogUnits units{QFontMetrics(font())};
  exitButton_->setGeometry(units.rect(kExitRect));
  cancelButton_->setGeometry(units.rect(kCancelRect));
  selectFileButton_->setGeometry(units.rect(kSelectFileRect));
  registerButton_->setGeometry(units.rect(kRegisterRect));
  inspectButton_->setGeometry(units.rect(kInspectRect));
  setFixedSize(units.size(kDialogSize));

  connect(exitButton_, &QPushButton::clicked, this, &CTallenDlg::OnExit);
  connect(cancelButton_, &QPushButton::clicked, this, &CTallenDlg::reject);
  connect(selectFileButton_, &QPushButton::clicked, this, &CTallenDlg::OnSelectFile);
  connect(registerButton_, &QPushButton::clicked, this, &CTallenDlg::OnRegisterSample);
  connect(inspectButton_, &QPushButton::clicked, this, &CTallenDlg::OnInspect);
}

QIcon CTallenDlg::appIcon() {
  initDialogResources();
  QIcon icon;
  icon.addFile(QString::fromLatin1(kIcon32), QSize(32, 32));
  icon.addFile(QString::fromLatin1(kIcon16), QSize(16, 16));
  return icon;
}

void CTallenDlg::OnSelectFile() {
  runExclusive([this] {
    const std::optional<std::string> path = chooser_.chooseImageFile(this);
    if (!path) return;
    // The previous picture goes before the new file is read: a file that does not decode leaves
    // no picture rather than the old one.
    g_sourceImage.reset();
    attempt(tr("Could not open %1").arg(QFile::decodeName(path->c_str())),
            [&] { g_sourceImage = std::make_unique<SourceImage>(*path, true, viewer_); });
  });
}

void CTallenDlg::OnRegisterSample() {
  runExclusive([this] {
    if (!g_sourceImage) return;
    const QString context = tr("Could not register %1").arg(heldPath());
    if (!holdsPicture(context)) return;
    if (!attempt(context, [] { g_sourceImage->process(g_sampleCount); })) return;
    ++g_sampleCount;
    attempt(context, [this] { viewer_.show(kResultingWindow, g_sourceImage->image()); });
  });
}

void CTallenDlg::OnInspect() {
  runExclusive([this] {
    if (!g_sourceImage) return;
    const QString context = tr("Could not inspect %1").arg(heldPath());
    if (holdsPicture(context)) attempt(context, [] { g_sourceImage->process(kInspectMode); });
  });
}

void CTallenDlg::OnExit() {
  const bool ran = runExclusive([this] {
    if (g_sourceImage) {
      attempt(tr("Could not close the image windows"), [] { g_sourceImage->process(kExitMode); });
    }
  });
  if (ran) accept();
}

void CTallenDlg::reject() {
  if (busy_) return;
  QDialog::reject();
}

bool CTallenDlg::runExclusive(const std::function<void()>& handler) {
  if (busy_) return false;
  const BusyScope scope(
      busy_, [this](bool enabled) { setButtonsEnabled(enabled); }, focusWidget());
  handler();
  return true;
}

bool CTallenDlg::attempt(const QString& context, const std::function<void()>& step) {
  QString problem;
  try {
    step();
    return true;
  } catch (const InspectionError& e) {
    problem = QString::fromStdString(e.what());
  } catch (const cv::Exception& e) {
    problem = tr("the image library reported an error: %1").arg(QString::fromStdString(e.what()));
  } catch (const std::exception& e) {
    problem = tr("unexpected error: %1").arg(QString::fromStdString(e.what()));
  }
  warn(context, problem);
  return false;
}

bool CTallenDlg::holdsPicture(const QString& context) {
  if (!g_sourceImage->image().empty()) return true;
  warn(context, tr("the file could not be read as an image"));
  return false;
}

void CTallenDlg::warn(const QString& context, const QString& problem) {
  warnings_.warn(this, context + QStringLiteral(":\n") + problem);
}

QString CTallenDlg::heldPath() { return QFile::decodeName(g_sourceImage->path().c_str()); }

void CTallenDlg::setButtonsEnabled(bool enabled) {
  for (QPushButton* button :
       {exitButton_, cancelButton_, selectFileButton_, registerButton_, inspectButton_}) {
    button->setEnabled(enabled);
  }
}

}  // namespace tallen
