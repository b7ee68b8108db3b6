#include "gui/dialogs/OptionsView.h"

#include "core/General.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "gui/invoices/ImportInvoiceOptions.h"
#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"
#include "platform/System.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>

namespace dm {

const char* const AutoStartWarning =
    "If you do not allow the Invara Desktop Manager to start \rautomatically then you will have to remember to start "
    "it from \ryour Windows Start menu every time you restart your computer. \r\rIt is highly recommended that you "
    "allow the Desktop Manager to \rstart automatically so that your invoices and online payments \rwill "
    "automatically sync with your QuickBooks company file.";

namespace {

constexpr int BillerItemHeight = 16;
constexpr int ScheduleItemHeight = 16;

// The biller list: id and name under their headers, and for QuickBooks billers the marks of
// their flags.
class TBillerListDelegate : public QStyledItemDelegate {
public:
    explicit TBillerListDelegate(TOptionsView* dialog) : QStyledItemDelegate(dialog), dialog_(dialog) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), BillerItemHeight};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        p->fillRect(option.rect, palette.color(selected ? QPalette::Highlight : QPalette::Base));
        const TSync* frame = dialog_->BillerOfRow(index.row());
        if (!frame) return;
        const BillerRecord& b = frame->Biller;
        const int top = option.rect.top() + 1;
        p->setFont(option.font);
        p->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const int nameX = Column(dialog_->lblHeaderName);
        const int marksX = Column(dialog_->lblHeaderSync);
        p->drawText(QRect(Column(dialog_->lblHeaderId), top, nameX - Column(dialog_->lblHeaderId) - 4, 14),
                    Qt::AlignLeft | Qt::AlignTop, GuiText(b.id));
        p->drawText(QRect(nameX, top, marksX - nameX - 4, 14), Qt::AlignLeft | Qt::AlignTop, GuiText(b.name));
        if (b.type != "qbd") return;
        if (dialog_->chkAutoSync->isChecked()) p->drawImage(marksX, top, FlagMark(b.autosync));
        p->drawImage(Column(dialog_->lblHeaderPayments), top, FlagMark(b.checkpayments));
        p->drawImage(Column(dialog_->lblHeaderNotify), top, FlagMark(b.paymentnotify));
    }

private:
    // A column starts where its header does, in the list's coordinates.
    int Column(const QLabel* header) const { return header->x() - dialog_->lbxBillers->x() - 2; }

    TOptionsView* dialog_;
};

// The schedule preview: each time drawn at the right of its cell.
class TScheduleDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), ScheduleItemHeight};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        p->fillRect(option.rect, option.palette.color(selected ? QPalette::Highlight : QPalette::Base));
        p->setFont(option.font);
        p->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QString text = index.data().toString();
        const int width = option.fontMetrics.horizontalAdvance(text);
        p->drawText(QPoint(option.rect.right() + 1 - width - 6, option.rect.top() + option.fontMetrics.ascent() + 1),
                    text);
    }
};

QCheckBox* CheckBox(const char* name, const char* caption, QWidget* parent, int left, int top, int width = 480) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(left, top, width, 20);
    return box;
}

QLabel* Label(const char* caption, QWidget* parent, int left, int top, int width = 100, int height = 20) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setGeometry(left, top, width, height);
    return label;
}

QComboBox* DropDown(const char* name, QWidget* parent, int left, int top, int width) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(left, top, width, 22);
    return list;
}

QString TwoDigits(int value) { return GuiText(PadLeft(std::to_string(value), 2, '0')); }

} // namespace

TOptionsView::TOptionsView(TMainEngine& main, TUserPrompts& prompts, const std::vector<TSync*>& billerList,
                           QWidget* parent, TAutostartPaths autostart)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), main_(main), prompts_(prompts),
      autostart_(std::move(autostart)) {
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Options"));
    setFixedSize(545, 401);
    setFont(PixelFont(12));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(8, 8, 529, 353);
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    TabSheet3 = new QWidget;
    PageControl1->addTab(TabSheet1, QStringLiteral("General"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Auto Sync"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Billers"));

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(462, 368, 75, 25);
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &TOptionsView::btnOKClick);

    BuildGeneral();
    BuildAutoSync();
    BuildBillers();
    FormCreate(billerList);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (PageControl1->currentWidget() == TabSheet3) PageControl1Change();
    });
    connect(&main, &TMainEngine::billerRemoved, this, &TOptionsView::BillerRemoved);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void TOptionsView::BuildGeneral() {
    QWidget* tab = TabSheet1;
    chkAutoStart = CheckBox("chkAutoStart", "Automatically start Invara Desktop Manager", tab, 16, 16);
    chkLoginBrowser = CheckBox("chkLoginBrowser", "Open login in separate web browser window", tab, 16, 42);
    chkDefaultProxy =
        CheckBox("chkDefaultProxy", "Use Window's default proxy settings for Internet connection", tab, 16, 68);
    chkNoLogs = CheckBox("chkNoLogs", "Do not write local log files", tab, 16, 94);
    chkForceMultiUser = CheckBox("chkForceMultiUser", "Only use QuickBooks multi-user access", tab, 16, 120);
    chkSingleBillerNewPayments = CheckBox("chkSingleBillerNewPayments",
                                          "Automatically check for and synchornize new payments", tab, 16, 146);
    chkSingleBillerPaymentNotify =
        CheckBox("chkSingleBillerPaymentNotify", "Show popup notifications for new payments", tab, 32, 172, 464);
    chkSingleBillerNewPayments->hide();
    chkSingleBillerPaymentNotify->hide();

    btnGeneralImportInvoiceOptions = new QPushButton(QStringLiteral("Import Invoice Options..."), tab);
    btnGeneralImportInvoiceOptions->setObjectName(QStringLiteral("btnGeneralImportInvoiceOptions"));
    btnGeneralImportInvoiceOptions->setGeometry(16, 208, 170, 25);

    connect(chkAutoStart, &QCheckBox::toggled, this, &TOptionsView::chkAutoStartClick);
    connect(chkSingleBillerNewPayments, &QCheckBox::toggled, this, [this](bool ticked) {
        WriteBillerFlag(&BillerRecord::checkpayments, ticked);
        ApplyNewPaymentsRule(chkSingleBillerNewPayments, chkSingleBillerPaymentNotify);
    });
    connect(chkSingleBillerPaymentNotify, &QCheckBox::toggled, this,
            [this](bool ticked) { WriteBillerFlag(&BillerRecord::paymentnotify, ticked); });
}

void TOptionsView::BuildAutoSync() {
    QWidget* tab = TabSheet2;
    chkAutoSync = CheckBox("chkAutoSync", "Automatically synchronize", tab, 16, 16, 300);

    pnlSyncSettings = new QWidget(tab);
    pnlSyncSettings->setObjectName(QStringLiteral("pnlSyncSettings"));
    pnlSyncSettings->setGeometry(16, 44, 497, 274);
    pnlSyncSettings->hide();
    Label("How Often:", pnlSyncSettings, 0, 3);
    lbxAutoSyncHowOften = DropDown("lbxAutoSyncHowOften", pnlSyncSettings, 104, 2, 260);

    Panel1 = new QWidget(pnlSyncSettings);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 34, 497, 240);
    Panel1->hide();
    Label("First Sync Time:", Panel1, 0, 3);
    lbxAutoSyncHour = DropDown("lbxAutoSyncHour", Panel1, 104, 2, 52);
    lbxAutoSyncMinutes = DropDown("lbxAutoSyncMinutes", Panel1, 160, 2, 52);
    lbxAutoSyncAMPM = DropDown("lbxAutoSyncAMPM", Panel1, 216, 2, 56);
    Label("Schedule:", Panel1, 0, 36);
    lbxAutoSyncSchedule = new QListWidget(Panel1);
    lbxAutoSyncSchedule->setObjectName(QStringLiteral("lbxAutoSyncSchedule"));
    lbxAutoSyncSchedule->setGeometry(104, 34, 200, 198);
    // Two columns side by side; more scroll in from the right.
    lbxAutoSyncSchedule->setFlow(QListView::TopToBottom);
    lbxAutoSyncSchedule->setWrapping(true);
    lbxAutoSyncSchedule->setUniformItemSizes(true);
    lbxAutoSyncSchedule->setSelectionMode(QAbstractItemView::NoSelection);
    const int columnWidth = (lbxAutoSyncSchedule->width() - 2 * lbxAutoSyncSchedule->frameWidth()) / 2;
    lbxAutoSyncSchedule->setGridSize(QSize(columnWidth, ScheduleItemHeight));
    lbxAutoSyncSchedule->setItemDelegate(new TScheduleDelegate(lbxAutoSyncSchedule));

    Label12 = new QLabel(QStringLiteral("You have more than one biller therefore you must also switch to the "
                                        "'Billers' tab in this window and choose which of your billers will "
                                        "automaticaly synchronize based on the schedule you have chosen."),
                         Panel1);
    Label12->setObjectName(QStringLiteral("Label12"));
    Label12->setFont(PixelFont(12, true));
    Label12->setWordWrap(true);
    Label12->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label12->setGeometry(318, 34, 179, 160);

    connect(chkAutoSync, &QCheckBox::toggled, this, [this](bool ticked) {
        pnlSyncSettings->setVisible(ticked);
        lbxBillers->viewport()->update();
    });
    connect(lbxAutoSyncHowOften, &QComboBox::activated, this, &TOptionsView::lbxAutoSyncHowOftenClick);
    for (QComboBox* list : {lbxAutoSyncHour, lbxAutoSyncMinutes, lbxAutoSyncAMPM})
        connect(list, &QComboBox::activated, this, &TOptionsView::lbxAutoSyncHourClick);
}

void TOptionsView::BuildBillers() {
    QWidget* tab = TabSheet3;
    auto header = [tab](const char* caption, int left, int top) {
        QLabel* label = Label(caption, tab, left, top, 60, 13);
        label->setFont(PixelFont(11));
        return label;
    };
    lblHeaderId = header("ID", 12, 18);
    lblHeaderName = header("Name", 72, 18);
    lblHeaderAuto = header("Auto", 340, 5);
    lblHeaderSync = header("Sync", 340, 18);
    lblHeaderNew = header("New", 392, 5);
    lblHeaderPayments = header("Payments", 392, 18);
    lblHeaderPopup = header("Popup", 456, 5);
    lblHeaderNotify = header("Notify", 456, 18);

    lbxBillers = new QListWidget(tab);
    lbxBillers->setObjectName(QStringLiteral("lbxBillers"));
    lbxBillers->setGeometry(8, 34, 505, 180);
    lbxBillers->setUniformItemSizes(true);
    lbxBillers->setItemDelegate(new TBillerListDelegate(this));
    connect(lbxBillers, &QListWidget::itemClicked, this, [this] { lbxBillersClick(); });

    pnlBillerOptions = new QWidget(tab);
    pnlBillerOptions->setObjectName(QStringLiteral("pnlBillerOptions"));
    pnlBillerOptions->setGeometry(8, 220, 505, 102);
    pnlBillerOptions->hide();
    lblBillerName = Label("", pnlBillerOptions, 0, 4, 300);
    lblBillerName->setObjectName(QStringLiteral("lblBillerName"));
    lblBillerName->setFont(PixelFont(12, true));
    lblBillerName->setTextFormat(Qt::PlainText);
    lblBillerUser = Label("", pnlBillerOptions, 0, 4, 200);
    lblBillerUser->setObjectName(QStringLiteral("lblBillerUser"));
    lblBillerUser->setTextFormat(Qt::PlainText);
    chkBillerAutoSync =
        CheckBox("chkBillerAutoSync", "Automatically synchronize this biller", pnlBillerOptions, 0, 28);
    chkBillerCheckPayments = CheckBox("chkBillerCheckPayments", "Automatically check for and synchornize new payments",
                                      pnlBillerOptions, 0, 52);
    chkBillerPaymentNotify = CheckBox("chkBillerPaymentNotify", "Show popup notifications for new payments",
                                      pnlBillerOptions, 16, 76, 464);

    pnlEZIBillerOptions = new QWidget(tab);
    pnlEZIBillerOptions->setObjectName(QStringLiteral("pnlEZIBillerOptions"));
    pnlEZIBillerOptions->setGeometry(8, 220, 505, 102);
    pnlEZIBillerOptions->hide();
    lblEZIBillerName = Label("", pnlEZIBillerOptions, 0, 4, 300);
    lblEZIBillerName->setObjectName(QStringLiteral("lblEZIBillerName"));
    lblEZIBillerName->setFont(PixelFont(12, true));
    lblEZIBillerName->setTextFormat(Qt::PlainText);
    lblEZIBillerUser = Label("", pnlEZIBillerOptions, 0, 4, 200);
    lblEZIBillerUser->setObjectName(QStringLiteral("lblEZIBillerUser"));
    lblEZIBillerUser->setTextFormat(Qt::PlainText);
    btnImportInvoiceOptions = new QPushButton(QStringLiteral("Import Invoice Options..."), pnlEZIBillerOptions);
    btnImportInvoiceOptions->setObjectName(QStringLiteral("btnImportInvoiceOptions"));
    btnImportInvoiceOptions->setGeometry(0, 30, 170, 25);

    for (QPushButton* button : {btnImportInvoiceOptions, btnGeneralImportInvoiceOptions})
        connect(button, &QPushButton::clicked, this, &TOptionsView::btnImportInvoiceOptionsClick);

    connect(chkBillerAutoSync, &QCheckBox::toggled, this,
            [this](bool ticked) { WriteBillerFlag(&BillerRecord::autosync, ticked); });
    connect(chkBillerCheckPayments, &QCheckBox::toggled, this, [this](bool ticked) {
        WriteBillerFlag(&BillerRecord::checkpayments, ticked);
        ApplyNewPaymentsRule(chkBillerCheckPayments, chkBillerPaymentNotify);
    });
    connect(chkBillerPaymentNotify, &QCheckBox::toggled, this,
            [this](bool ticked) { WriteBillerFlag(&BillerRecord::paymentnotify, ticked); });
}

void TOptionsView::FormCreate(const std::vector<TSync*>& billerList) {
    const TOptions& o = main_.Options;

    for (TSync* frame : billerList) {
        rows_.emplace_back(frame);
        lbxBillers->addItem(GuiText(frame->ListEntry));
    }
    if (lbxBillers->count() > 0 && !lbxBillers->currentItem()) lbxBillers->setCurrentRow(0);
    lbxBillersClick();

    const int intervals = main_.App.HighFrequency ? ScheduleIntervalCount : StandardIntervalCount;
    for (int i = 0; i < intervals; ++i) lbxAutoSyncHowOften->addItem(QString::fromLatin1(ScheduleIntervals[i].Text));

    InitialAutoStart = AutostartEnabled(autostart_);
    chkAutoStart->setChecked(InitialAutoStart);

    chkLoginBrowser->setChecked(o.loginbrowser);
    chkDefaultProxy->setChecked(o.UseDefaultProxy);
    chkNoLogs->setChecked(o.NoLogs);
    chkAutoSync->setChecked(o.autosync);
    chkForceMultiUser->setChecked(o.multiuser);

    const int howOften = o.autosynchowoften - 1;
    lbxAutoSyncHowOften->setCurrentIndex(howOften >= 0 && howOften < lbxAutoSyncHowOften->count() ? howOften : -1);
    lbxAutoSyncHowOftenClick();

    // Values the lists cannot show (a settings file edited by hand) leave their list without a
    // selection; an hour outside the day says nothing about AM or PM either.
    const bool validHour = o.autosynchour >= 0 && o.autosynchour <= 23;
    const bool pm = o.autosynchour >= 12;
    const int hour = pm ? o.autosynchour - 12 : o.autosynchour;
    const QString ampmText = pm ? QStringLiteral("PM") : QStringLiteral("AM");
    const QString hourText = hour == 0 ? QStringLiteral("12") : TwoDigits(hour);
    lbxAutoSyncAMPM->setCurrentIndex(validHour ? lbxAutoSyncAMPM->findText(ampmText) : -1);
    lbxAutoSyncHour->setCurrentIndex(validHour ? lbxAutoSyncHour->findText(hourText) : -1);
    lbxAutoSyncMinutes->setCurrentIndex(lbxAutoSyncMinutes->findText(TwoDigits(o.autosyncminute)));
    lbxAutoSyncHourClick();

    const bool singleBiller = rows_.size() == 1;
    if (singleBiller) {
        PageControl1->setTabVisible(PageControl1->indexOf(TabSheet3), false);
        chkSingleBillerNewPayments->show();
        chkSingleBillerPaymentNotify->show();
        const BillerRecord& only = rows_[0]->Biller;
        chkSingleBillerNewPayments->setChecked(only.checkpayments);
        chkSingleBillerPaymentNotify->setChecked(only.paymentnotify);
        ApplyNewPaymentsRule(chkSingleBillerNewPayments, chkSingleBillerPaymentNotify);
        Label12->hide();
    }
    // Import options exist only for billers that import invoice files, and only one such
    // biller can be meant from the General tab.
    btnGeneralImportInvoiceOptions->setVisible(singleBiller && rows_[0]->Biller.type == "ezi");
}

void TOptionsView::btnImportInvoiceOptionsClick() {
    QPointer<TSync> frame = selected_;
    if (!frame) return;
    TImportInvoiceOptions dialog(this);
    dialog.Load(frame->Biller);
    // The biller may go while the dialog is open (removed from its tab by a session's end).
    if (dialog.exec() == QDialog::Accepted && frame && frame == selected_) dialog.Store(frame->Biller);
}

TSync* TOptionsView::BillerOfRow(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    return rows_[static_cast<size_t>(row)];
}

void TOptionsView::SelectBiller(const TSync* frame) {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i] == frame) lbxBillers->setCurrentRow(static_cast<int>(i));
    lbxBillersClick();
}

void TOptionsView::lbxBillersClick() {
    pnlBillerOptions->hide();
    pnlEZIBillerOptions->hide();
    TSync* frame = BillerOfRow(lbxBillers->currentRow());
    if (!frame) return;
    selected_ = frame;
    const BillerRecord& b = frame->Biller;
    const QString name = GuiText("Biller #" + b.id + " - " + b.name);
    const QString user = GuiText("User: " + b.username);
    auto placeLabels = [&](QLabel* nameLabel, QLabel* userLabel) {
        nameLabel->setText(name);
        nameLabel->adjustSize();
        userLabel->setText(user);
        userLabel->adjustSize();
        userLabel->move(nameLabel->x() + nameLabel->width() + 16, nameLabel->y());
    };
    if (b.type != "ezi") {
        placeLabels(lblBillerName, lblBillerUser);
        // Each change below writes into this biller, like a click would: with automatic
        // synchronisation off, a box still ticked from the previous biller clears this one's.
        if (chkAutoSync->isChecked()) {
            chkBillerAutoSync->setChecked(b.autosync);
            chkBillerAutoSync->setEnabled(true);
        } else {
            chkBillerAutoSync->setChecked(false);
            chkBillerAutoSync->setEnabled(false);
        }
        chkBillerCheckPayments->setChecked(b.checkpayments);
        chkBillerPaymentNotify->setChecked(b.paymentnotify);
        ApplyNewPaymentsRule(chkBillerCheckPayments, chkBillerPaymentNotify);
        pnlBillerOptions->show();
    } else {
        placeLabels(lblEZIBillerName, lblEZIBillerUser);
        pnlEZIBillerOptions->show();
    }
}

void TOptionsView::PageControl1Change() {
    lblHeaderAuto->setVisible(chkAutoSync->isChecked());
    lblHeaderSync->setVisible(chkAutoSync->isChecked());
    lbxBillersClick();
}

void TOptionsView::WriteBillerFlag(bool BillerRecord::*flag, bool value) {
    if (!selected_) return;
    selected_->Biller.*flag = value;
    lbxBillers->viewport()->update();
}

void TOptionsView::ApplyNewPaymentsRule(QCheckBox* payments, QCheckBox* notify) {
    const bool on = payments->isChecked();
    notify->setEnabled(on);
    if (!on) notify->setChecked(false);
}

void TOptionsView::chkAutoStartClick(bool ticked) {
    if (!ticked) prompts_.ShowMessage(AutoStartWarning);
}

void TOptionsView::lbxAutoSyncHowOftenClick() {
    const int index = lbxAutoSyncHowOften->currentIndex();
    if (index < 0) return;
    Panel1->show();
    const TScheduleInterval& interval = ScheduleIntervals[index];

    lbxAutoSyncAMPM->clear();
    lbxAutoSyncAMPM->addItem(QStringLiteral("AM"));
    if (interval.OffersPm) lbxAutoSyncAMPM->addItem(QStringLiteral("PM"));
    lbxAutoSyncAMPM->setCurrentIndex(0);

    const int hour = lbxAutoSyncHour->currentIndex();
    lbxAutoSyncHour->clear();
    lbxAutoSyncHour->addItem(QStringLiteral("12"));
    for (int h = 1; h < interval.HoursOffered; ++h) lbxAutoSyncHour->addItem(TwoDigits(h));
    lbxAutoSyncHour->setCurrentIndex(hour >= 0 && hour < lbxAutoSyncHour->count() ? hour : 0);

    const int minute = lbxAutoSyncMinutes->currentIndex();
    lbxAutoSyncMinutes->clear();
    for (int m = 0; m < interval.MinutesOffered; ++m) lbxAutoSyncMinutes->addItem(TwoDigits(m));
    lbxAutoSyncMinutes->setCurrentIndex(minute >= 0 && minute < lbxAutoSyncMinutes->count() ? minute : 0);

    lbxAutoSyncHourClick();
}

TScheduleTime TOptionsView::SelectedFirstTime() const {
    // The hour list reads "12", "01", "02", ...: an item's position is its hour.
    int hour = std::max(lbxAutoSyncHour->currentIndex(), 0);
    if (lbxAutoSyncAMPM->currentText() == QStringLiteral("PM")) hour += 12;
    const int minute = ParseInteger(EngineText(lbxAutoSyncMinutes->currentText())).value_or(0);
    return {hour, minute};
}

void TOptionsView::lbxAutoSyncHourClick() {
    const int index = lbxAutoSyncHowOften->currentIndex();
    if (index < 0) return;
    const TScheduleTime first = SelectedFirstTime();
    lbxAutoSyncSchedule->setUpdatesEnabled(false);
    lbxAutoSyncSchedule->clear();
    for (const TScheduleTime& time : ScheduledTimes(first.Hour, first.Minute, index + 1))
        lbxAutoSyncSchedule->addItem(GuiText(ScheduleTimeText(time)));
    lbxAutoSyncSchedule->setUpdatesEnabled(true);
}

void TOptionsView::btnOKClick() {
    if (chkAutoStart->isChecked() != InitialAutoStart) {
        try {
            SetAutostart(autostart_, chkAutoStart->isChecked(), ExecutablePath());
        } catch (const std::exception& e) {
            // As with a registry key that cannot be opened: no message, the start stays as it was.
            std::fprintf(stderr, "autostart: %s\n", e.what());
        }
    }
    TOptions& o = main_.Options;
    o.loginbrowser = chkLoginBrowser->isChecked();
    o.UseDefaultProxy = chkDefaultProxy->isChecked();
    o.NoLogs = chkNoLogs->isChecked();
    o.autosync = chkAutoSync->isChecked();
    o.autosynchowoften = lbxAutoSyncHowOften->currentIndex() + 1;
    const TScheduleTime first = SelectedFirstTime();
    o.autosyncminute = first.Minute;
    o.autosynchour = first.Hour;
    o.multiuser = chkForceMultiUser->isChecked();
    accept();
}

void TOptionsView::BillerRemoved(TSync* frame) {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i] != frame) continue;
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(i));
        delete lbxBillers->takeItem(static_cast<int>(i));
        break;
    }
    if (selected_ == frame) {
        selected_ = nullptr;
        pnlBillerOptions->hide();
        pnlEZIBillerOptions->hide();
    }
}

} // namespace dm
