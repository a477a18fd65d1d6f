#include "devices/typed_key_source.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <opencv2/highgui.hpp>

namespace fennock {

namespace {

constexpr int kWaitMilliseconds = 1;
constexpr int kNoKey = -1;
constexpr char16_t kLastAscii = 0x7f;

}  // namespace

TypedKeySource::TypedKeySource(QCoreApplication& application) : application_(application) {
  application_.installEventFilter(this);
}

TypedKeySource::~TypedKeySource() { application_.removeEventFilter(this); }

int TypedKeySource::waitKey() {
  cv::waitKey(kWaitMilliseconds);
  if (typed_.empty()) return kNoKey;
  const int key = typed_.front();
  typed_.pop_front();
  return key;
}

bool TypedKeySource::eventFilter(QObject* watched, QEvent* event) {
  // A key press reaches its top-level QWindow once and is then passed on, possibly through
  // several widgets; counting it at the window counts it once.
  if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (text.size() == 1 && text.at(0).unicode() <= kLastAscii) {
      typed_.push_back(text.at(0).unicode());
    }
  }
  return false;
}

}  // namespace fennock
