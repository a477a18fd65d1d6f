#include "dialog/warning_sink.h"

#include <QMessageBox>

namespace tallen {

void MessageBoxWarnings::warn(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, QStringLiteral("Lumidor"), text);
}

}  // namespace tallen
