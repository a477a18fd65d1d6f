#pragma once

#include "core/key_source.h"

#include <QObject>

#include <deque>

class QCoreApplication;
class QEvent;

namespace fennock {

// Keys as typed into the highgui windows. highgui's own key code cannot tell 'G' from 'g' (Shift
// arrives as a key of its own), so an event filter on the application records the text of each
// key press while cv::waitKey(1) services the windows.
class TypedKeySource : public QObject, public KeySource {
 public:
  // Starts watching the key presses of `application`, which must outlive this object.
  explicit TypedKeySource(QCoreApplication& application);
  ~TypedKeySource() override;

  // Runs cv::waitKey(1); returns the oldest character typed and not yet returned (ASCII), or -1.
  int waitKey() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QCoreApplication& application_;
  std::deque<int> typed_;
};

}  // namespace fennock
