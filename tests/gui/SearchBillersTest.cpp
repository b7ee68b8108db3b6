// The biller search from the main window's bar: every keystroke filters, one result is
// selected, OK switches to its biller, OK without a selection changes nothing.

#include "gui/dialogs/SearchBillers.h"
#include "gui/main/Main.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using nlohmann::json;

namespace {

void Type(QLineEdit* edit, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
}

QStringList Results(const TSearchBillers& d) {
    QStringList items;
    for (int i = 0; i < d.lbxResults->count(); ++i) items << d.lbxResults->item(i)->text();
    return items;
}

} // namespace

TEST(SearchBillers, FindsAndSwitches) {
    dmtest::TWindowFixture f(json::array({Account("ann", "Harbour Supplies", "1001"), Account("bob", "Midway", "1002"),
                                          Account("cy", "Zeta Works", "1003")}));
    f.Settings(Business("ann", "Harbour Supplies", "1001") + Business("bob", "Midway", "1002") +
               Business("cy", "Zeta Works", "1003"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TMain& w = *f.window;
    w.PageControl1->setCurrentWidget(w.PageOf(f.Biller(2)));
    ASSERT_TRUE(w.btnSearchBillers->isVisible());

    // Blank lists all, nothing selected; OK then changes nothing.
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = qobject_cast<TSearchBillers*>(modal);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "Search Billers");
        EXPECT_EQ(Results(*d), (QStringList{"Biller 1001 - Harbour Supplies", "Biller 1002 - Midway",
                                            "Biller 1003 - Zeta Works"}));
        Type(d->txtSearch, "   ");
        EXPECT_EQ(d->lbxResults->count(), 3) << "a blank query lists every biller";
        EXPECT_EQ(d->SelectedPage(), nullptr);
        d->btnOK->click();
    });
    w.btnSearchBillers->click();
    EXPECT_EQ(w.PageControl1->currentWidget(), w.PageOf(f.Biller(2)));

    // Capitals and blanks around: found at any position, the one result selected, OK switches.
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = qobject_cast<TSearchBillers*>(modal);
        ASSERT_NE(d, nullptr);
        Type(d->txtSearch, "  HAR");
        EXPECT_EQ(Results(*d), QStringList{"Biller 1001 - Harbour Supplies"}) << "filtered while typing";
        Type(d->txtSearch, "B ");
        EXPECT_EQ(Results(*d), QStringList{"Biller 1001 - Harbour Supplies"});
        EXPECT_TRUE(d->lbxResults->item(0)->isSelected());
        dmtest::SaveScreenshot(d, "search_billers");
        d->btnOK->click();
    });
    w.mnuSearchBillers->trigger();
    EXPECT_EQ(w.PageControl1->currentWidget(), w.PageOf(f.Biller(0)));
    EXPECT_EQ(w.lbxBillers->currentText(), "Biller 1001 - Harbour Supplies");

    // A double click is OK; Cancel changes nothing.
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = qobject_cast<TSearchBillers*>(modal);
        ASSERT_NE(d, nullptr);
        Type(d->txtSearch, "works");
        emit d->lbxResults->itemDoubleClicked(d->lbxResults->item(0));
    });
    w.btnSearchBillers->click();
    EXPECT_EQ(w.PageControl1->currentWidget(), w.PageOf(f.Biller(2)));
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = qobject_cast<TSearchBillers*>(modal);
        ASSERT_NE(d, nullptr);
        Type(d->txtSearch, "midway");
        d->btnCancel->click();
    });
    w.btnSearchBillers->click();
    EXPECT_EQ(w.PageControl1->currentWidget(), w.PageOf(f.Biller(2)));
}
