#pragma once

// The settings dialog: the general options, the schedule with a preview of its times, the
// per-biller automatic-sync and payment flags, and starting with the desktop session. The
// general and schedule options change only on OK; the per-biller flags change in the biller
// records the moment a box changes, so they stay when the dialog is closed otherwise. The
// caller saves the settings file afterwards in either case.

#include "engine/Schedule.h"
#include "engine/Settings.h"
#include "platform/Autostart.h"

#include <QDialog>
#include <QPointer>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace dm {

class TMainEngine;
class TSync;
class TUserPrompts;

extern const char* const AutoStartWarning;

class TOptionsView : public QDialog {
    Q_OBJECT
public:
    // billerList: the main window's biller list, in its order.
    TOptionsView(TMainEngine& main, TUserPrompts& prompts, const std::vector<TSync*>& billerList,
                 QWidget* parent = nullptr, TAutostartPaths autostart = TAutostartPaths::Default());

    QTabWidget* PageControl1;
    QWidget* TabSheet1; // "General"
    QWidget* TabSheet2; // "Auto Sync"
    QWidget* TabSheet3; // "Billers"
    QPushButton* btnOK;

    QCheckBox* chkAutoStart;
    QCheckBox* chkLoginBrowser;
    QCheckBox* chkDefaultProxy;
    QCheckBox* chkNoLogs;
    QCheckBox* chkForceMultiUser;
    QCheckBox* chkSingleBillerNewPayments;
    QCheckBox* chkSingleBillerPaymentNotify;
    QPushButton* btnGeneralImportInvoiceOptions;

    QCheckBox* chkAutoSync;
    QWidget* pnlSyncSettings;
    QComboBox* lbxAutoSyncHowOften;
    QWidget* Panel1;
    QComboBox* lbxAutoSyncHour;
    QComboBox* lbxAutoSyncMinutes;
    QComboBox* lbxAutoSyncAMPM;
    QListWidget* lbxAutoSyncSchedule;
    QLabel* Label12;

    // Column headers; the two-word ones are two stacked labels.
    QLabel* lblHeaderId;
    QLabel* lblHeaderName;
    QLabel* lblHeaderAuto;
    QLabel* lblHeaderSync;
    QLabel* lblHeaderNew;
    QLabel* lblHeaderPayments;
    QLabel* lblHeaderPopup;
    QLabel* lblHeaderNotify;
    QListWidget* lbxBillers;
    QWidget* pnlBillerOptions;
    QLabel* lblBillerName;
    QLabel* lblBillerUser;
    QCheckBox* chkBillerAutoSync;
    QCheckBox* chkBillerCheckPayments;
    QCheckBox* chkBillerPaymentNotify;
    QWidget* pnlEZIBillerOptions;
    QLabel* lblEZIBillerName;
    QLabel* lblEZIBillerUser;
    QPushButton* btnImportInvoiceOptions;

    // The biller shown on the Billers tab, or with one biller that biller; null when none.
    TSync* SelectedBiller() const { return selected_; }
    bool InitialAutoStart = false;

    // Selects the biller in the list and shows it, as a click on it would.
    void SelectBiller(const TSync* frame);
    void lbxBillersClick();
    void PageControl1Change();
    void lbxAutoSyncHowOftenClick();
    // Rebuilds the schedule preview; also what the minute and AM/PM lists do.
    void lbxAutoSyncHourClick();
    void btnOKClick();
    // Both import buttons: the import options of the selected biller, changed in it on OK.
    void btnImportInvoiceOptionsClick();

    // The first time the lists show, as OK stores it: a list without a selection reads as
    // 0 and no PM.
    TScheduleTime SelectedFirstTime() const;
    // The frame drawn in a row of the biller list; null once it is removed.
    TSync* BillerOfRow(int row) const;

private:
    void BuildGeneral();
    void BuildAutoSync();
    void BuildBillers();
    void FormCreate(const std::vector<TSync*>& billerList);
    void chkAutoStartClick(bool ticked);
    // The payments box writes "checkpayments"; the notify box is usable only while it is ticked.
    void ApplyNewPaymentsRule(QCheckBox* payments, QCheckBox* notify);
    // A biller box changed: its flag goes into the selected biller at once.
    void WriteBillerFlag(bool BillerRecord::*flag, bool value);
    void BillerRemoved(TSync* frame);

    TMainEngine& main_;
    TUserPrompts& prompts_;
    TAutostartPaths autostart_;
    std::vector<QPointer<TSync>> rows_; // the biller list's rows
    QPointer<TSync> selected_;
};

} // namespace dm
