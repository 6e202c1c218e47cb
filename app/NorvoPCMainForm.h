// The hub's main window. For now an empty window titled "Norvo Music Hub"; its pages come later.
#pragma once

#include <QMainWindow>

namespace norvopc {

class NorvoPCMainForm : public QMainWindow {
 public:
  // `auto_start`: the program was started at log-on ("auto").
  explicit NorvoPCMainForm(bool auto_start, QWidget* parent = nullptr);

  // Brings the window back (also from minimised or hidden) and to the front. Window thread only.
  void ShowFromOtherInstance();

  bool auto_start() const { return auto_start_; }

 private:
  bool auto_start_;
};

}  // namespace norvopc
