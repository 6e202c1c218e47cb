// The main window on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <functional>

#include "app/NorvoPCMainForm.h"

namespace {

TEST(MainWindowTest, ShowFromOtherInstanceBringsTheWindowBackFromEveryState) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "window_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  struct Case {
    const char* name;
    std::function<void(QWidget*)> before;
  };
  const Case cases[] = {
      {"never shown", [](QWidget*) {}},
      {"hidden",
       [](QWidget* w) {
         w->show();
         w->hide();
       }},
      {"minimised", [](QWidget* w) { w->showMinimized(); }},
      {"already visible", [](QWidget* w) { w->show(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    norvopc::NorvoPCMainForm window(false);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Norvo Music Hub"));
    c.before(&window);
    QApplication::processEvents();
    window.ShowFromOtherInstance();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());
  }
  EXPECT_TRUE(norvopc::NorvoPCMainForm(true).auto_start());
}

}  // namespace
