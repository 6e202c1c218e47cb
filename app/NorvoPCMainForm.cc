#include "app/NorvoPCMainForm.h"

#include "messaging/base/logging.h"

namespace norvopc {

NorvoPCMainForm::NorvoPCMainForm(bool auto_start, QWidget* parent)
    : QMainWindow(parent), auto_start_(auto_start) {
  setWindowTitle(QStringLiteral("Norvo Music Hub"));
  resize(720, 520);
  LOG(LS_INFO) << "norvopc::NorvoPCMainForm::NorvoPCMainForm - auto start: " << auto_start_;
}

void NorvoPCMainForm::ShowFromOtherInstance() {
  if (isMinimized() || isHidden()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
  LOG(LS_INFO) << "norvopc::NorvoPCMainForm::ShowFromOtherInstance - window shown for another "
                  "copy, visible: "
               << isVisible();
}

}  // namespace norvopc
