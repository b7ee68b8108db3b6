// The Options dialog on the real engine: its three openings, the single- and multi-biller
// variants, the per-biller flags written at once, the schedule lists and their preview, the
// autostart entry, and the settings file after OK, with screenshots of every tab.

#include "gui/dialogs/OptionsView.h"
#include "gui/main/Main.h"
#include "gui/main/WindowedStart.h"
#include "gui/sync/SyncView.h"
#include "engine/Schedule.h"
#include "net/Web.h"
#include "platform/Autostart.h"
#include "platform/System.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using dmtest::TXdgFolders;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string EziBusiness(const std::string& user, const std::string& name, const std::string& id) {
    return "<business><type>ezi</type><name>" + name + "</name><id>" + id + "</id><username>" + user +
           "</username><password>demo</password></business>";
}

// Runs the body on the Options dialog once it is open, then presses OK or closes it without.
void WhenOptionsOpen(std::function<void(TOptionsView&)> body, bool pressOk) {
    dmtest::WhenModal([body, pressOk](QWidget* modal) {
        auto* dialog = qobject_cast<TOptionsView*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "not the Options dialog: " << modal->objectName().toStdString();
            modal->close();
            return;
        }
        body(*dialog);
        if (pressOk) dialog->btnOK->click();
        else dialog->reject();
    });
}

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

QStringList Preview(const TOptionsView& d) {
    QStringList items;
    for (int i = 0; i < d.lbxAutoSyncSchedule->count(); ++i) items << d.lbxAutoSyncSchedule->item(i)->text();
    return items;
}

// As the user picks an entry of a drop-down list.
void Pick(TOptionsView& d, QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// Whether the mark column under the header holds anything but the list's background in a row.
bool MarkDrawn(TOptionsView& d, const QImage& list, int row, const QLabel* header) {
    const QRect item = d.lbxBillers->visualItemRect(d.lbxBillers->item(row));
    const QRgb background = list.pixel(item.right() - 2, item.top() + 8); // selected rows are highlighted
    const int x = header->x() - d.lbxBillers->x() - 2;
    for (int y = item.top() + 1; y < item.top() + 15; ++y)
        for (int dx = 0; dx < 15; ++dx)
            if (list.pixel(x + dx, y) != background) return true;
    return false;
}

// A dialog on an engine without billers, for the schedule and the autostart entry.
struct TBareEngine {
    TAppState app;
    dmtest::TScriptedPrompts prompts;
    std::unique_ptr<TMainEngine> engine;
    dmtest::TempDir dir;
    TBareEngine() {
        app.StorageFolder = dir.Folder();
        engine = std::make_unique<TMainEngine>(app, prompts);
    }
};

} // namespace

TEST(Options, OneBillerEditsItOnTheGeneralTab) {
    TXdgFolders xdg;
    TWindowFixture f(json::array({Account("ann", "Demo Co", "1001")}));
    f.Settings(Business("ann", "Demo Co", "1001"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TSync* biller = f.Biller(0);

    bool opened = false;
    WhenOptionsOpen(
        [&](TOptionsView& d) {
            opened = true;
            EXPECT_EQ(d.windowTitle(), "Options");
            EXPECT_EQ(d.size(), QSize(545, 401));
            EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint) << "no border icons";
            QStringList buttons;
            for (const QPushButton* button : d.findChildren<QPushButton*>())
                if (button->isVisible()) buttons << button->text();
            EXPECT_EQ(buttons, QStringList{"OK"}) << "OK is the only way out; there is no Cancel";
            EXPECT_TRUE(d.btnOK->isDefault());
            EXPECT_FALSE(d.PageControl1->isTabVisible(d.PageControl1->indexOf(d.TabSheet3)));
            EXPECT_TRUE(d.chkSingleBillerNewPayments->isVisible());
            EXPECT_TRUE(d.chkSingleBillerPaymentNotify->isVisible());
            EXPECT_TRUE(d.chkSingleBillerNewPayments->isChecked());
            EXPECT_TRUE(d.chkSingleBillerPaymentNotify->isChecked());
            EXPECT_FALSE(d.btnGeneralImportInvoiceOptions->isVisible()) << "a QuickBooks biller imports nothing";
            EXPECT_EQ(d.SelectedBiller(), biller);
            dmtest::SaveScreenshot(&d, "options_one_biller_general");

            // The notify box depends on the payments box, and both write at once.
            d.chkSingleBillerNewPayments->click();
            EXPECT_FALSE(d.chkSingleBillerPaymentNotify->isChecked());
            EXPECT_FALSE(d.chkSingleBillerPaymentNotify->isEnabled());
            EXPECT_FALSE(biller->Biller.checkpayments);
            EXPECT_FALSE(biller->Biller.paymentnotify);
            d.chkSingleBillerNewPayments->click();
            EXPECT_TRUE(d.chkSingleBillerPaymentNotify->isEnabled());
            EXPECT_FALSE(d.chkSingleBillerPaymentNotify->isChecked()) << "ticking payments does not tick notify";
            EXPECT_TRUE(biller->Biller.checkpayments);
            d.chkSingleBillerNewPayments->click();

            d.PageControl1->setCurrentWidget(d.TabSheet2);
            EXPECT_FALSE(d.pnlSyncSettings->isVisible());
            d.chkAutoSync->click();
            EXPECT_TRUE(d.pnlSyncSettings->isVisible());
            EXPECT_FALSE(d.Panel1->isVisible()) << "no interval chosen yet";
            EXPECT_EQ(Items(d.lbxAutoSyncHowOften).size(), StandardIntervalCount);
            Pick(d, d.lbxAutoSyncHowOften, "4 Times Per Day - Every 6 Hours");
            Pick(d, d.lbxAutoSyncHour, "05");
            Pick(d, d.lbxAutoSyncMinutes, "30");
            EXPECT_TRUE(d.Panel1->isVisible());
            EXPECT_FALSE(d.Label12->isVisible()) << "the hint is for several billers";
            EXPECT_EQ(Preview(d), (QStringList{"5:30 AM", "11:30 AM", "5:30 PM", "11:30 PM"}));
            dmtest::SaveScreenshot(&d, "options_one_biller_auto_sync");
            d.chkNoLogs->click();
        },
        false);
    f.window->mnuOptions->trigger();
    ASSERT_TRUE(opened);

    // Closed without OK: the biller's flags stay, the rest is as before, and the file is saved.
    EXPECT_FALSE(biller->Biller.checkpayments);
    EXPECT_FALSE(f.engine->Options.autosync);
    EXPECT_FALSE(f.engine->Options.NoLogs);
    const std::string saved = dmtest::ReadFileBytes(f.app.SettingsFileName());
    EXPECT_NE(saved.find("<checkpayments>0</checkpayments>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<paymentnotify>0</paymentnotify>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<nologs>0</nologs>"), std::string::npos) << saved;
}

TEST(Options, ThreeBillersOpenOnTheBillerOfTheActiveTab) {
    TXdgFolders xdg;
    TWindowFixture f(json::array({Account("ann", "Zeta Works", "1003"), Account("bob", "alpha Co", "1001"),
                                  Account("cy", "Midway", "1002")}));
    f.Settings(Business("ann", "Zeta Works", "1003") + Business("bob", "alpha Co", "1001") +
               EziBusiness("cy", "Midway", "1002"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TMain& w = *f.window;
    TSync* zeta = f.Biller(0);
    TSync* alpha = f.Biller(1);
    TSync* midway = f.Biller(2);
    zeta->Biller.autosync = true;
    alpha->Biller.autosync = true;
    f.engine->Options.autosync = true;
    f.engine->Options.autosynchowoften = 2;
    w.PageControl1->setCurrentWidget(w.PageOf(zeta));

    bool opened = false;
    WhenOptionsOpen(
        [&](TOptionsView& d) {
            opened = true;
            EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet3);
            ASSERT_EQ(d.lbxBillers->count(), 3);
            EXPECT_EQ(d.lbxBillers->item(0)->text(), "Biller 1001 - alpha Co") << "in the main window's order";
            EXPECT_EQ(d.lbxBillers->currentRow(), 2);
            EXPECT_EQ(d.SelectedBiller(), zeta);
            EXPECT_FALSE(d.btnGeneralImportInvoiceOptions->isVisibleTo(&d));
            EXPECT_TRUE(d.chkForceMultiUser->isEnabled());
            EXPECT_TRUE(d.pnlBillerOptions->isVisible());
            EXPECT_EQ(d.lblBillerName->text(), "Biller #1003 - Zeta Works");
            EXPECT_EQ(d.lblBillerUser->text(), "User: ann");
            EXPECT_EQ(d.lblBillerUser->x(), d.lblBillerName->x() + d.lblBillerName->width() + 16);
            EXPECT_TRUE(d.chkBillerAutoSync->isChecked());
            EXPECT_TRUE(d.chkBillerAutoSync->isEnabled());
            EXPECT_TRUE(d.lblHeaderSync->isVisible());

            // A box writes into the biller at once.
            d.chkBillerPaymentNotify->click();
            EXPECT_FALSE(zeta->Biller.paymentnotify);
            d.chkBillerCheckPayments->click();
            EXPECT_FALSE(zeta->Biller.checkpayments);
            EXPECT_FALSE(d.chkBillerPaymentNotify->isEnabled());

            // The file-import biller: its import panel, no marks in its row.
            d.lbxBillers->setCurrentRow(1);
            d.lbxBillersClick();
            EXPECT_EQ(d.SelectedBiller(), midway);
            EXPECT_FALSE(d.pnlBillerOptions->isVisible());
            EXPECT_TRUE(d.pnlEZIBillerOptions->isVisible());
            EXPECT_EQ(d.lblEZIBillerName->text(), "Biller #1002 - Midway");
            EXPECT_TRUE(d.btnImportInvoiceOptions->isEnabled());
            const QImage list = d.lbxBillers->viewport()->grab().toImage();
            for (const QLabel* header : {d.lblHeaderSync, d.lblHeaderPayments, d.lblHeaderNotify}) {
                EXPECT_FALSE(MarkDrawn(d, list, 1, header)) << header->text().toStdString();
                EXPECT_TRUE(MarkDrawn(d, list, 0, header)) << header->text().toStdString();
                EXPECT_TRUE(MarkDrawn(d, list, 2, header)) << header->text().toStdString();
            }
            dmtest::SaveScreenshot(&d, "options_three_billers_billers");

            // With automatic synchronisation off, loading a biller whose box is still ticked
            // from the previous one clears its flag, as a click on the box would.
            d.lbxBillers->setCurrentRow(0);
            d.lbxBillersClick();
            EXPECT_TRUE(d.chkBillerAutoSync->isChecked());
            d.PageControl1->setCurrentWidget(d.TabSheet2);
            d.chkAutoSync->click();
            d.PageControl1->setCurrentWidget(d.TabSheet3);
            EXPECT_FALSE(d.lblHeaderAuto->isVisible());
            EXPECT_FALSE(d.lblHeaderSync->isVisible());
            EXPECT_FALSE(d.chkBillerAutoSync->isChecked());
            EXPECT_FALSE(d.chkBillerAutoSync->isEnabled());
            EXPECT_FALSE(alpha->Biller.autosync);
            EXPECT_TRUE(zeta->Biller.autosync) << "not loaded since";
            const QImage off = d.lbxBillers->viewport()->grab().toImage();
            EXPECT_FALSE(MarkDrawn(d, off, 2, d.lblHeaderSync)) << "no sync marks while off";
            EXPECT_TRUE(MarkDrawn(d, off, 2, d.lblHeaderPayments));
            dmtest::SaveScreenshot(&d, "options_three_billers_auto_sync_off");
            d.chkAutoSync->click();

            d.PageControl1->setCurrentWidget(d.TabSheet1);
            EXPECT_FALSE(d.chkSingleBillerNewPayments->isVisible());
            dmtest::SaveScreenshot(&d, "options_three_billers_general");
            d.PageControl1->setCurrentWidget(d.TabSheet2);
            EXPECT_TRUE(d.Label12->isVisible());
            dmtest::SaveScreenshot(&d, "options_three_billers_auto_sync");
        },
        false);
    w.ViewOf(zeta)->btnSyncOptions->click();
    ASSERT_TRUE(opened);
    EXPECT_FALSE(zeta->Biller.checkpayments) << "per-biller changes stay without OK";
    EXPECT_FALSE(alpha->Biller.autosync);
    EXPECT_TRUE(f.engine->Options.autosync);
    EXPECT_EQ(f.engine->Options.autosynchowoften, 2);

    // From the menu the dialog opens as created.
    opened = false;
    WhenOptionsOpen(
        [&](TOptionsView& d) {
            opened = true;
            EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet1);
            EXPECT_EQ(d.lbxBillers->currentRow(), 0);
        },
        false);
    w.mnuOptions->trigger();
    EXPECT_TRUE(opened);
}

TEST(Options, BillerRemovedWhileOpenLeavesTheList) {
    TXdgFolders xdg;
    TWindowFixture f(json::array({Account("ann", "Zeta Works", "1003"), Account("bob", "alpha Co", "1001")}));
    f.Settings(Business("ann", "Zeta Works", "1003") + Business("bob", "alpha Co", "1001"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TSync* alpha = f.Biller(1);
    bool opened = false;
    WhenOptionsOpen(
        [&](TOptionsView& d) {
            opened = true;
            ASSERT_EQ(d.SelectedBiller(), alpha);
            f.engine->RequestRemoveBiller(alpha);
            ASSERT_TRUE(dmtest::WaitUntil([&] { return d.lbxBillers->count() == 1; }));
            EXPECT_EQ(d.SelectedBiller(), nullptr);
            EXPECT_FALSE(d.pnlBillerOptions->isVisible());
            d.chkBillerCheckPayments->click(); // writes nowhere
            d.lbxBillers->viewport()->repaint();
            EXPECT_EQ(d.lbxBillers->item(0)->text(), "Biller 1003 - Zeta Works");
        },
        true);
    f.window->PageControl1->setCurrentWidget(f.window->PageOf(alpha));
    f.window->ShowOptions(true);
    EXPECT_TRUE(opened);
    EXPECT_EQ(f.engine->Billers().size(), 1u);
}

TEST(Options, SingleFileImportBillerFromItsTab) {
    TXdgFolders xdg;
    TWindowFixture f(json::array({Account("cy", "Midway", "1002")}));
    f.Settings(EziBusiness("cy", "Midway", "1002"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    bool opened = false;
    WhenOptionsOpen(
        [&](TOptionsView& d) {
            opened = true;
            EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet1);
            EXPECT_TRUE(d.btnGeneralImportInvoiceOptions->isVisible());
            EXPECT_TRUE(d.btnGeneralImportInvoiceOptions->isEnabled());
            EXPECT_FALSE(d.chkForceMultiUser->isEnabled());
            dmtest::SaveScreenshot(&d, "options_one_import_biller_general");
        },
        false);
    f.window->ShowOptions(true);
    EXPECT_TRUE(opened);
}

TEST(Options, StoredFirstTimesInTheLists) {
    struct Case {
        int howOften, hour, minute;
        bool highFrequency;
        QString hourText, minuteText, ampm; // empty: no selection
        QStringList preview;                // the first entries
    } cases[] = {
        {1, 0, 0, false, "12", "00", "AM", {"Midnight"}},
        {1, 12, 0, false, "12", "00", "PM", {"Noon"}},
        {1, 23, 5, false, "11", "05", "PM", {"11:05 PM"}},
        {2, 0, 0, false, "12", "00", "AM", {"Midnight", "Noon"}},
        {8, 0, 10, true, "12", "10", "AM", {"12:10 AM", "12:25 AM"}},
        // Values the lists cannot show: that list has no selection and reads as 0 and no PM.
        {2, 15, 0, false, "03", "00", "", {"3:00 AM", "3:00 PM"}},
        {3, 9, 20, false, "", "20", "AM", {"12:20 AM", "6:20 AM"}},
        {7, 0, 45, true, "12", "", "AM", {"Midnight", "12:30 AM"}},
        {1, 30, 75, false, "", "", "", {"Midnight"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.howOften) + " " + std::to_string(c.hour) + ":" + std::to_string(c.minute));
        TBareEngine b;
        b.app.HighFrequency = c.highFrequency;
        TOptions& o = b.engine->Options;
        o.autosync = true;
        o.autosynchowoften = c.howOften;
        o.autosynchour = c.hour;
        o.autosyncminute = c.minute;
        TOptionsView d(*b.engine, b.prompts, {});
        EXPECT_EQ(d.lbxAutoSyncHowOften->currentIndex(), c.howOften - 1);
        EXPECT_EQ(d.lbxAutoSyncHour->currentText(), c.hourText);
        EXPECT_EQ(d.lbxAutoSyncMinutes->currentText(), c.minuteText);
        EXPECT_EQ(d.lbxAutoSyncAMPM->currentText(), c.ampm);
        const QStringList preview = Preview(d);
        EXPECT_EQ(preview.mid(0, c.preview.size()), c.preview);

        // OK stores what the preview shows, and the scheduler starts exactly at those times.
        d.btnOKClick();
        std::set<QString> scheduled;
        for (int h = 0; h < 24; ++h)
            for (int m = 0; m < 60; ++m)
                if (ScheduleMatches(h, m, o.autosynchour, o.autosyncminute, o.autosynchowoften))
                    scheduled.insert(QString::fromStdString(ScheduleTimeText({h, m})));
        EXPECT_EQ(scheduled, std::set<QString>(preview.begin(), preview.end()));
    }

    // An interval outside the list: nothing selected, the time panel hidden, OK stores 0.
    TBareEngine b;
    b.engine->Options.autosync = true;
    b.engine->Options.autosynchowoften = 9; // offered only with HighFrequency
    TOptionsView d(*b.engine, b.prompts, {});
    EXPECT_EQ(d.lbxAutoSyncHowOften->currentIndex(), -1);
    EXPECT_TRUE(d.Panel1->isHidden());
    d.btnOKClick();
    EXPECT_EQ(b.engine->Options.autosynchowoften, 0);
}

TEST(Options, ChangingTheIntervalRebuildsTheTimeLists) {
    TBareEngine b;
    b.app.HighFrequency = true;
    b.engine->Options.autosync = true;
    b.engine->Options.autosynchowoften = 1;
    b.engine->Options.autosynchour = 17;
    b.engine->Options.autosyncminute = 45;
    TOptionsView d(*b.engine, b.prompts, {});
    ASSERT_EQ(d.lbxAutoSyncHour->currentText(), "05");
    ASSERT_EQ(d.lbxAutoSyncAMPM->currentText(), "PM");
    EXPECT_EQ(Items(d.lbxAutoSyncHowOften).size(), ScheduleIntervalCount);
    EXPECT_EQ(Items(d.lbxAutoSyncHour).size(), 12);

    struct Step {
        QString interval, hour, minute;
        QStringList hours, ampm;
        int minutes;
    } steps[] = {
        // The hour and minute stay where the new lists still have them; AM/PM goes back to AM.
        {"4 Times Per Day - Every 6 Hours", "05", "45", {"12", "01", "02", "03", "04", "05"}, {"AM"}, 60},
        {"8 Times Per Day - Every 3 Hours", "12", "45", {"12", "01", "02"}, {"AM"}, 60},
        {"48 Times Per Day - Every 30 Minutes", "12", "00", {"12"}, {"AM"}, 30},
        {"1440 Times Per Day - Every Minute", "12", "00",
         {"12", "01", "02", "03", "04", "05", "06", "07", "08", "09", "10", "11"}, {"AM", "PM"}, 60},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.interval.toStdString());
        Pick(d, d.lbxAutoSyncAMPM, d.lbxAutoSyncAMPM->itemText(d.lbxAutoSyncAMPM->count() - 1));
        Pick(d, d.lbxAutoSyncHowOften, s.interval);
        EXPECT_EQ(d.lbxAutoSyncAMPM->currentText(), "AM");
        EXPECT_EQ(Items(d.lbxAutoSyncAMPM), s.ampm);
        EXPECT_EQ(Items(d.lbxAutoSyncHour), s.hours);
        EXPECT_EQ(d.lbxAutoSyncHour->currentText(), s.hour);
        EXPECT_EQ(d.lbxAutoSyncMinutes->count(), s.minutes);
        EXPECT_EQ(d.lbxAutoSyncMinutes->currentText(), s.minute);
    }
    Pick(d, d.lbxAutoSyncHowOften, "96 Times Per Day - Every 15 Minutes");
    Pick(d, d.lbxAutoSyncMinutes, "10");
    const QStringList preview = Preview(d);
    ASSERT_EQ(preview.size(), 96);
    EXPECT_EQ(preview.front(), "12:10 AM");
    EXPECT_EQ(preview.back(), "11:55 PM");
    d.PageControl1->setCurrentWidget(d.TabSheet2);
    d.show();
    dmtest::SaveScreenshot(&d, "options_every_15_minutes");
}

TEST(Options, AutostartEntryFollowsTheBox) {
    TXdgFolders xdg;
    TBareEngine b;
    const std::string exec = "Exec=\"" + ExecutablePath() + "\"\n";
    auto open = [&](auto&& body) {
        TOptionsView d(*b.engine, b.prompts, {});
        body(d);
        d.btnOKClick();
    };

    // Unchanged and absent: nothing is written.
    open([](TOptionsView& d) { EXPECT_FALSE(d.chkAutoStart->isChecked()); });
    EXPECT_FALSE(fs::exists(xdg.UserEntry()));

    open([](TOptionsView& d) { d.chkAutoStart->click(); });
    ASSERT_TRUE(fs::exists(xdg.UserEntry()));
    const std::string entry = dmtest::ReadFileBytes(xdg.UserEntry());
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find(exec), std::string::npos) << entry;

    // Unchanged and present: the entry is not touched.
    const auto past = fs::last_write_time(xdg.UserEntry()) - std::chrono::hours(1);
    fs::last_write_time(xdg.UserEntry(), past);
    open([](TOptionsView& d) { EXPECT_TRUE(d.chkAutoStart->isChecked()); });
    EXPECT_EQ(fs::last_write_time(xdg.UserEntry()), past);
    EXPECT_TRUE(b.prompts.messages.empty());

    open([](TOptionsView& d) { d.chkAutoStart->click(); });
    EXPECT_EQ(b.prompts.messages, (std::vector<std::string>{AutoStartWarning}));
    EXPECT_FALSE(fs::exists(xdg.UserEntry()));

    // Ticked and unticked again before OK: no change, nothing written.
    open([](TOptionsView& d) {
        d.chkAutoStart->click();
        d.chkAutoStart->click();
    });
    EXPECT_FALSE(fs::exists(xdg.UserEntry()));

    // A system-wide entry counts; turning it off masks it for this user.
    xdg.WriteEntry(xdg.SystemEntry(), "[Desktop Entry]\nType=Application\nExec=/usr/bin/invara-desktop-manager\n");
    open([](TOptionsView& d) {
        EXPECT_TRUE(d.chkAutoStart->isChecked());
        d.chkAutoStart->click();
    });
    ASSERT_TRUE(fs::exists(xdg.UserEntry()));
    EXPECT_NE(dmtest::ReadFileBytes(xdg.UserEntry()).find("Hidden=true\n"), std::string::npos);
    EXPECT_FALSE(AutostartEnabled(TAutostartPaths::Default()));
    open([](TOptionsView& d) { EXPECT_FALSE(d.chkAutoStart->isChecked()); });
}

TEST(Options, OkStoresExactlyTheChosenValues) {
    TXdgFolders xdg;
    TWindowFixture f(json::array({Account("ann", "Zeta Works", "1003"), Account("bob", "alpha Co", "1001"),
                                  Account("cy", "Midway", "1002")}));
    f.Settings(Business("ann", "Zeta Works", "1003") + Business("bob", "alpha Co", "1001") +
               EziBusiness("cy", "Midway", "1002"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    bool opened = false;
    WhenOptionsOpen(
        [&](TOptionsView& d) {
            opened = true;
            d.chkLoginBrowser->click();   // on -> off
            d.chkDefaultProxy->click();   // on -> off
            d.chkNoLogs->click();         // off -> on
            d.chkForceMultiUser->click(); // off -> on
            d.chkAutoSync->click();
            Pick(d, d.lbxAutoSyncHowOften, "8 Times Per Day - Every 3 Hours");
            Pick(d, d.lbxAutoSyncHour, "02");
            Pick(d, d.lbxAutoSyncMinutes, "30");
            d.PageControl1->setCurrentWidget(d.TabSheet3);
            d.lbxBillers->setCurrentRow(0); // alpha Co
            d.lbxBillersClick();
            d.chkBillerAutoSync->click();
            d.chkBillerCheckPayments->click();
            d.lbxBillers->setCurrentRow(2); // Zeta Works
            d.lbxBillersClick();
            d.chkBillerPaymentNotify->click();
        },
        true);
    f.window->mnuOptions->trigger();
    ASSERT_TRUE(opened);
    EXPECT_EQ(dmtest::ReadFileBytes(f.app.SettingsFileName()),
              dmtest::ReadFileBytes(DM_SOURCE_DIR "/tests/gui/fixtures/options-saved.xml"));
    EXPECT_FALSE(WebOptions().UseDefaultProxy) << "the transport follows at once";
    EXPECT_FALSE(fs::exists(xdg.UserEntry())) << "autostart unchanged";
}

TEST(Options, OptionsSwitchShowsOnlyTheDialogThenEnds) {
    TXdgFolders xdg;
    TWindowFixture f(json::array({Account("ann", "Zeta Works", "1003"), Account("bob", "alpha Co", "1001")}));
    f.Settings(Business("ann", "Zeta Works", "1003") + Business("bob", "alpha Co", "1001"));
    f.app.OptionsOnly = true;
    TWindowedProgram program(f.app);
    bool opened = false;
    WhenOptionsOpen(
        [&](TOptionsView& d) {
            opened = true;
            EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet3) << "opened as from a biller's tab";
            EXPECT_FALSE(program.Window->isVisible());
            d.chkNoLogs->click();
        },
        true);
    EXPECT_FALSE(program.Start());
    EXPECT_TRUE(opened);
    EXPECT_EQ(program.ExitCode, 0);
    EXPECT_TRUE(f.app.TerminateRequested);
    EXPECT_FALSE(program.Window->isVisible());
    EXPECT_FALSE(program.Window->tmrStartup.isActive());
    EXPECT_NE(dmtest::ReadFileBytes(f.app.SettingsFileName()).find("<nologs>1</nologs>"), std::string::npos);
}
