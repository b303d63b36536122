// The dialogs' layouts (the designed size at the default font, nothing cut off at a larger one) and what
// assistive technology reads of the controls named by their labels.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLayout>
#include <QLineEdit>
#include <QTreeWidget>
#include <functional>

#include "app/qt/connect_dialog.h"
#include "app/qt/start_server_dialog.h"
#include "protocol/qt/login_dialog.h"
#include "registry/qt/servers_window.h"
#include "tests/common/controls.h"

namespace ov {
namespace {

TEST(Dialogs, HaveTheirDesignedSizeAtTheDefaultFontAndCutNothingOffAtALargerOne) {
  ConnectDialog connect;
  StartServerDialog start;
  LoginDialog login;
  struct Case {
    const char* name;
    QDialog* dialog;
    QSize designed;
  };
  const Case cases[] = {
      {"connect", &connect, {285, 146}},
      {"start", &start, {438, 188}},
      {"login", &login, {231, 127 + 18}},  // with the line naming the server
  };
  for (const Case& c : cases) {
    c.dialog->layout()->activate();
    EXPECT_NEAR(c.dialog->width(), c.designed.width(), c.designed.width() / 10) << c.name;
    EXPECT_NEAR(c.dialog->height(), c.designed.height(), c.designed.height() / 10) << c.name;

    QFont large = c.dialog->font();
    if (large.pixelSize() > 0) {
      large.setPixelSize(large.pixelSize() * 2);
    } else {
      large.setPointSizeF(large.pointSizeF() * 2);
    }
    c.dialog->setFont(large);
    c.dialog->layout()->activate();
    for (QWidget* w : c.dialog->findChildren<QWidget*>()) {
      if (!w->isVisibleTo(c.dialog) || w->parentWidget() != c.dialog) continue;
      const std::string what = std::string(c.name) + ": " + w->objectName().toStdString();
      EXPECT_GE(w->width(), w->minimumSizeHint().width()) << what;
      EXPECT_GE(w->height(), w->minimumSizeHint().height()) << what;
      EXPECT_TRUE(c.dialog->rect().contains(w->geometry())) << what;
    }
  }
}

TEST(Accessibility, TheAddressBoxAndTheServersTreeAreNamedForWhatTheyAre) {
  ConnectDialog connect;
  test::Find<QLineEdit>(connect, "edIP")->setText("localhost");
  QAccessibleInterface* address =
      QAccessible::queryAccessibleInterface(test::Find<QComboBox>(connect, "cbRecent"));
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(address->role(), QAccessible::ComboBox);
  EXPECT_EQ(address->text(QAccessible::Name), "IP Address");  // not what it holds
  EXPECT_EQ(address->text(QAccessible::Value), "localhost");
  StartServerDialog start;
  test::Find<QComboBox>(start, "cbHosts")->addItem("alpha");
  QAccessibleInterface* host = QAccessible::queryAccessibleInterface(test::Find<QComboBox>(start, "cbHosts"));
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->text(QAccessible::Name), "Host:");

  ServersWindow servers;
  QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(servers.Tree());
  ASSERT_NE(tree, nullptr);
  ASSERT_NE(tree->tableInterface(), nullptr);
  EXPECT_EQ(tree->tableInterface()->columnDescription(0), "Servers");
}

}  // namespace
}  // namespace ov
