#pragma once

#include <QString>
#include <QWidget>

namespace tallen {

// Tells the operator that a button press failed.
class WarningSink {
 public:
  virtual ~WarningSink() = default;
  // Shows `text` (which names the file and the problem) as a warning over `parent`.
  virtual void warn(QWidget* parent, const QString& text) = 0;
};

// A modal warning message box titled "Lumidor".
class MessageBoxWarnings : public WarningSink {
 public:
  void warn(QWidget* parent, const QString& text) override;
};

}  // namespace tallen
