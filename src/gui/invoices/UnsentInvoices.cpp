#include "gui/invoices/UnsentInvoices.h"

#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "gui/invoices/Attach.h"
#include "gui/invoices/SendInvoiceEmails.h"
#include "gui/main/GuiText.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

namespace dm {

const char* const UnsentInvoicesCaption = "Invara - New Invoices Not Yet Synchronized";
const char* const DoNotSendMessage =
    "By checking this checkbox you are overriding the emails \r\nthat would usually be sent for new invoices. The "
    "checked \r\ninvoices will be synchronized with Invara and be \r\nvisible to your customers. However, no email "
    "messages \r\nwill be sent to your customers.";
const char* const NothingCheckedQuestion =
    "You did not checkmark any of the new invoices in the \rlist to synchronize. Are you sure you want to continue "
    "\rwithout synchronizing any of the new invoices you \rcreated in QuickBooks? \r\rInvoices will not be visible in "
    "Invara for you or \ryour customers until you synchronize new invoices.\r\rClick \"Yes\" to continue without "
    "synchronizing any of \ryour new invoices.\r\rClick \"No\" to return to the new invoice selection list.";

namespace {

const char* const LegendTop =
    "This screen lists invoices that have not yet been synchronized with Invara. Place a checkmark next to the "
    "invoices you want to synchronize now, then click the \"Continue Sync\" button. The icons next to each invoice "
    "indicates which invoices will have emails sent to your customers. See the icon legend below for the meaning of "
    "each icon.";
const char* const LegendBottom = "You can automate the sync and sending of new invoices by changing your settings in "
                                 "the Biller Control Panel under Advanced Options / Invoices.";
const char* const LegendNoEmail1 = "Invoice will be synchronized but no email will be sent because this customer is "
                                   "not yet enrolled and the invoice ";
const char* const LegendNoEmail2 = "is not set \"To be emailed\" in QuickBooks.";
const char* const LegendNonEnrolled =
    "Synchronize invoice and send \"Non-Enrolled Customer New Invoice Notification Email\".";
const char* const LegendEnrolled = "Synchronize invoice and send \"Enrolled Customer New Invoice Notification Email\".";

const char* const Captions[] = {"Invoice #", "Customer", "Amount", "Open Balance", "Attachments"};

const QColor SelectedFill(51, 153, 255);
const QColor LegendFill(253, 250, 194);

int HalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

struct TLegendLayout {
    QRect top;
    int iconsY = 65;
    int step = 0;
    QRect bottom;
    int height = 0;
};

TLegendLayout LayOutLegend(const QFontMetrics& fm, int width) {
    TLegendLayout l;
    const int h = fm.height();
    l.step = HalfEven(h * 1.5);
    l.top = fm.boundingRect(QRect(10, 6, std::max(100, width - 20), 1000), Qt::TextWordWrap, QString::fromLatin1(LegendTop));
    // The legend starts at 65, lower when a large font makes the text above it run longer.
    l.iconsY = std::max(65, l.top.bottom() + 8);
    const int afterIcons = l.iconsY + h + 2 * l.step + h + 8;
    l.bottom = fm.boundingRect(QRect(10, afterIcons, std::max(100, width - 20), 1000), Qt::TextWordWrap,
                               QString::fromLatin1(LegendBottom));
    l.height = l.bottom.bottom() + 8;
    return l;
}

} // namespace

int ReviewWindowHeight(int workAreaHeight) { return HalfEven(0.8 * workAreaHeight); }

std::string UnsentInvoicesStatus(int rows) {
    return rows == 1 ? "1 Unsent Invoice" : std::to_string(rows) + " Unsent Invoices";
}

std::string AttachmentsButtonText(int count) {
    if (count <= 0) return "Add Attachments...";
    if (count == 1) return "1 Attachment...";
    return std::to_string(count) + " Attachments...";
}

// The rows as the files hold them: only the row count lives here, every cell is read when
// the list asks for it.
class TInvoiceListModel : public QAbstractTableModel {
public:
    TInvoiceListModel(TUnsentInvoices& dialog, int rows, int columns, QObject* parent)
        : QAbstractTableModel(parent), dialog_(dialog), rows_(rows), columns_(columns) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows_; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : columns_; }
    Qt::ItemFlags flags(const QModelIndex&) const override { return Qt::ItemIsEnabled | Qt::ItemIsSelectable; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::CheckStateRole)) return {};
        const UnsentInvoiceRecord* r = dialog_.RowRecord(index.row());
        if (!r) return {};
        if (role == Qt::CheckStateRole)
            return index.column() == 0 ? QVariant(r->checked ? Qt::Checked : Qt::Unchecked) : QVariant();
        switch (index.column()) {
        case 0: return GuiText(r->invoiceNumber);
        case 1: return GuiText(r->customer);
        case 2: return GuiText(r->amount);
        case 3: return GuiText(r->openBalance);
        default: return QString::number(r->attachmentCount);
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columns_) return {};
        QString caption = QString::fromLatin1(Captions[section]);
        return section == framed_ ? QStringLiteral("[ ") + caption + QStringLiteral(" ]") : caption;
    }

    // Every row is fetched again, under the newly framed column.
    void Refetch(int framed) {
        beginResetModel();
        framed_ = framed;
        endResetModel();
        emit headerDataChanged(Qt::Horizontal, 0, columns_ - 1);
    }

private:
    TUnsentInvoices& dialog_;
    int rows_;
    int columns_;
    int framed_ = 0;
};

namespace {

class TInvoiceRowDelegate : public QStyledItemDelegate {
public:
    TInvoiceRowDelegate(TUnsentInvoices& dialog, QObject* parent) : QStyledItemDelegate(parent), dialog_(dialog) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        dialog_.PaintCell(*painter, option, index.row(), index.column());
    }

private:
    TUnsentInvoices& dialog_;
};

} // namespace

class TLegendBox : public QWidget {
public:
    explicit TLegendBox(TUnsentInvoices& dialog) : QWidget(&dialog), dialog_(dialog) {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return LayOutLegend(fontMetrics(), width).height; }
    QSize sizeHint() const override { return {680, heightForWidth(680)}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        dialog_.PaintLegend(p);
    }

private:
    TUnsentInvoices& dialog_;
};

TUnsentInvoices::TUnsentInvoices(TSync& frame, TUnsentInvoiceFiles& files, bool allowAttachments, QWidget* parent)
    : QDialog(parent), frame_(frame), files_(files), allowAttachments_(allowAttachments) {
    setObjectName(QStringLiteral("UnsentInvoices"));
    setWindowTitle(QString::fromLatin1(UnsentInvoicesCaption));
    // The form's small type: the legend's lines and the row of controls fit in 700 pixels.
    setFont(FormFont(8));
    setMinimumWidth(700);

    lblBillerName = new QLabel(GuiText(frame.Biller.name), this);
    QFont big = font();
    big.setBold(true);
    big.setPointSizeF(font().pointSizeF() * 1.4);
    lblBillerName->setFont(big);
    lblBillerName->setTextFormat(Qt::PlainText);

    PaintBox1 = new TLegendBox(*this);

    btnCheckAll = new QPushButton(QStringLiteral("Check All"), this);
    btnUncheckAll = new QPushButton(QStringLiteral("Uncheck All"), this);
    chkDoNotSend = new QCheckBox(QStringLiteral("Sync checked invoices but do not send any emails"), this);
    btnSend = new QPushButton(QStringLiteral("Continue Sync"), this);
    QFont bold = btnSend->font();
    bold.setBold(true);
    btnSend->setFont(bold);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    // Enter must never send invoices by itself: no button is the default.
    for (QPushButton* b : {btnCheckAll, btnUncheckAll, btnSend, btnCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    lbxInvoices = new QTableView(this);
    model_ = new TInvoiceListModel(*this, files.RowCount(), allowAttachments ? 5 : 4, this);
    lbxInvoices->setModel(model_);
    lbxInvoices->setItemDelegate(new TInvoiceRowDelegate(*this, lbxInvoices));
    lbxInvoices->setShowGrid(true);
    lbxInvoices->setSelectionBehavior(QAbstractItemView::SelectRows);
    lbxInvoices->setSelectionMode(QAbstractItemView::SingleSelection);
    lbxInvoices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lbxInvoices->setWordWrap(false);
    lbxInvoices->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lbxInvoices->verticalHeader()->hide();
    lbxInvoices->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lbxInvoices->verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height() + 5, EmailIconSize.height() + 2));
    lbxInvoices->viewport()->setMouseTracking(true);
    lbxInvoices->viewport()->installEventFilter(this);
    QHeaderView* header = lbxInvoices->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->resizeSection(0, 140);
    header->resizeSection(2, 100);
    header->resizeSection(3, 105);
    if (allowAttachments) {
        header->setSectionResizeMode(4, QHeaderView::Fixed);
        header->resizeSection(4, 105);
    }

    auto* status = new QStatusBar(this);
    StatusBar1 = new QLabel(GuiText(UnsentInvoicesStatus(files.RowCount())), status);
    status->addWidget(StatusBar1, 1);
    status->setSizeGripEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnCheckAll);
    buttons->addWidget(btnUncheckAll);
    buttons->addSpacing(8);
    buttons->addWidget(chkDoNotSend);
    buttons->addStretch(1);
    buttons->addWidget(btnSend);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addWidget(lblBillerName);
    layout->addWidget(PaintBox1);
    layout->addLayout(buttons);
    layout->addWidget(lbxInvoices, 1);
    layout->addWidget(status);

    connect(btnCheckAll, &QPushButton::clicked, this, &TUnsentInvoices::btnCheckAllClick);
    connect(btnUncheckAll, &QPushButton::clicked, this, &TUnsentInvoices::btnUncheckAllClick);
    connect(btnSend, &QPushButton::clicked, this, &TUnsentInvoices::btnSendClick);
    connect(btnCancel, &QPushButton::clicked, this, &TUnsentInvoices::btnCancelClick);
    connect(chkDoNotSend, &QCheckBox::clicked, this, &TUnsentInvoices::chkDoNotSendClick);
    connect(lbxInvoices, &QTableView::clicked, this, &TUnsentInvoices::lbxInvoicesClick);
    connect(header, &QHeaderView::sectionClicked, this, &TUnsentInvoices::lbxInvoicesColumnClick);

    ApplyOrder(0);
}

TUnsentInvoices::~TUnsentInvoices() = default;

void TUnsentInvoices::FailFile(const TUnsentInvoiceError& e) {
    if (!FileError.empty()) return;
    FileError = e.what();
    // Not from inside a paint or a click handler of the list: the dialog closes on the next turn.
    QMetaObject::invokeMethod(this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
}

const UnsentInvoiceRecord* TUnsentInvoices::RowRecord(int row) {
    if (!FileError.empty()) return nullptr;
    if (row != cachedRow_) {
        try {
            cached_ = files_.readRecordAtRow(row);
            cachedRow_ = row;
        } catch (const TUnsentInvoiceError& e) {
            FailFile(e);
            return nullptr;
        }
    }
    return &cached_;
}

int TUnsentInvoices::SelectedRow() const {
    const QModelIndexList rows = lbxInvoices->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

int TUnsentInvoices::AttachmentsBoundary() const {
    return lbxInvoices->columnViewportPosition(3) + lbxInvoices->columnWidth(3) + 1;
}

bool TUnsentInvoices::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lbxInvoices->viewport()) {
        if (event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonPress ||
            event->type() == QEvent::MouseButtonRelease) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            lastMouseX_ = at.x();
            // The row under the pointer is the selected row, at once.
            const int row = lbxInvoices->rowAt(at.y());
            if (row >= 0 && row != SelectedRow()) lbxInvoices->selectRow(row);
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            // A double click is two clicks, each flipping the row once; the list reports only
            // the first as a click.
            lastMouseX_ = static_cast<QMouseEvent*>(event)->position().toPoint().x();
            if (!allowAttachments_ || lastMouseX_ < AttachmentsBoundary()) lbxInvoicesClick();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TUnsentInvoices::lbxInvoicesClick() {
    const int row = SelectedRow();
    if (row < 0) return;
    EmptyCache();
    if (allowAttachments_ && lastMouseX_ >= AttachmentsBoundary()) {
        OpenAttachments(row);
        return;
    }
    try {
        UnsentInvoiceRecord r = files_.readRecordAtRow(row);
        r.checked = !r.checked;
        files_.storeRecord(r);
    } catch (const TUnsentInvoiceError& e) {
        FailFile(e);
    }
    lbxInvoices->viewport()->update();
}

void TUnsentInvoices::OpenAttachments(int row) {
    try {
        UnsentInvoiceRecord r = files_.readRecordAtRow(row);
        TAttach dialog(this);
        dialog.Load(frame_, r.invoiceId);
        dialog.exec();
        // Only a list the service gave counts; after a failed request the row keeps its count.
        if (dialog.KnownCount() >= 0) {
            r = files_.readRecordAtRow(row);
            r.attachmentCount = dialog.KnownCount();
            files_.storeRecord(r);
        }
    } catch (const TUnsentInvoiceError& e) {
        FailFile(e);
    }
    EmptyCache();
    lbxInvoices->viewport()->update();
}

void TUnsentInvoices::ApplyOrder(int column) {
    try {
        files_.selectOrder(column);
    } catch (const TUnsentInvoiceError& e) {
        FailFile(e);
        return;
    }
    EmptyCache();
    lbxInvoices->clearSelection();
    model_->Refetch(column);
}

void TUnsentInvoices::lbxInvoicesColumnClick(int column) {
    if (column < 0 || column > 3) return; // the attachments column orders nothing
    ApplyOrder(column);
}

void TUnsentInvoices::SetAllChecked(bool checked) {
    lbxInvoices->setUpdatesEnabled(false);
    try {
        for (int row = 0; row < files_.RowCount(); ++row) {
            UnsentInvoiceRecord r = files_.readRecordAtRow(row);
            if (r.checked == checked) continue;
            r.checked = checked;
            files_.storeRecord(r);
        }
    } catch (const TUnsentInvoiceError& e) {
        FailFile(e);
    }
    EmptyCache();
    lbxInvoices->setUpdatesEnabled(true);
    lbxInvoices->viewport()->update();
}

void TUnsentInvoices::btnCheckAllClick() { SetAllChecked(true); }
void TUnsentInvoices::btnUncheckAllClick() { SetAllChecked(false); }

void TUnsentInvoices::chkDoNotSendClick() {
    iconSet_ = chkDoNotSend->isChecked() ? TEmailIconSet::NoMail : TEmailIconSet::Normal;
    lbxInvoices->viewport()->update();
    if (chkDoNotSend->isChecked()) frame_.Engine().Prompts.ShowMessage(DoNotSendMessage);
}

void TUnsentInvoices::btnSendClick() {
    int ticked = 0, withEmail = 0;
    try {
        for (int row = 0; row < files_.RowCount(); ++row) {
            UnsentInvoiceRecord r = files_.readRecordAtRow(row);
            if (!r.checked) continue;
            ++ticked;
            if (r.emailKind > 0) ++withEmail;
        }
    } catch (const TUnsentInvoiceError& e) {
        FailFile(e);
        return;
    }
    if (ticked == 0) {
        if (frame_.Engine().Prompts.AskYesNo(NothingCheckedQuestion)) accept();
        return;
    }
    TOptions& options = frame_.Engine().Options;
    if (withEmail > 0 && !chkDoNotSend->isChecked() && !options.disablesendinvoiceemailsalert) {
        TSendInvoiceEmails question(this);
        if (question.exec() == TSendInvoiceEmails::No) return;
        options.disablesendinvoiceemailsalert = question.chkDoNotAsk->isChecked();
        frame_.Engine().SaveSettings();
    }
    accept();
}

void TUnsentInvoices::btnCancelClick() {
    SetAllChecked(false);
    if (FileError.empty()) accept();
}

void TUnsentInvoices::reject() { btnCancelClick(); }

void TUnsentInvoices::closeEvent(QCloseEvent* event) {
    ClosedByBox = true;
    done(QDialog::Rejected);
    event->accept();
}

void TUnsentInvoices::PaintLegend(QPainter& p) {
    const QRect area = PaintBox1->rect();
    p.fillRect(area, LegendFill);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(area.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    const QFontMetrics fm = PaintBox1->fontMetrics();
    const TLegendLayout l = LayOutLegend(fm, area.width());
    const int h = fm.height();
    const qreal dpr = PaintBox1->devicePixelRatioF();
    p.drawText(l.top, Qt::TextWordWrap, QString::fromLatin1(LegendTop));
    auto line = [&](int y, const char* text) {
        p.drawText(QRect(38, y, area.width() - 40, h), Qt::AlignLeft | Qt::AlignTop, QString::fromLatin1(text));
    };
    int y = l.iconsY;
    p.drawPixmap(20, y, EmailIcon(TEmailIconSet::Normal, 0, dpr));
    // Its two lines as one paragraph: the break falls where the font needs it.
    p.drawText(QRect(38, y + 2, area.width() - 40, 2 * h), Qt::TextWordWrap,
               QString::fromLatin1(LegendNoEmail1) + QString::fromLatin1(LegendNoEmail2));
    y = l.iconsY + h + l.step;
    p.drawPixmap(20, y, EmailIcon(TEmailIconSet::Normal, 1, dpr));
    line(y + 2, LegendNonEnrolled);
    y += l.step;
    p.drawPixmap(20, y, EmailIcon(TEmailIconSet::Normal, 2, dpr));
    line(y + 2, LegendEnrolled);
    p.drawText(l.bottom, Qt::TextWordWrap, QString::fromLatin1(LegendBottom));
}

void TUnsentInvoices::PaintCell(QPainter& p, const QStyleOptionViewItem& option, int row, int column) {
    const UnsentInvoiceRecord* r = RowRecord(row);
    if (!r) return;
    const QRect cell = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    p.save();
    p.setClipRect(cell);
    p.fillRect(cell, selected ? SelectedFill : QColor(Qt::white));
    QFont font = option.font;
    font.setBold(r->checked);
    p.setFont(font);
    p.setPen(selected ? Qt::white : Qt::black);
    const QFontMetrics fm(font);
    const int h = fm.height();
    const int rowHeight = cell.height();
    const qreal dpr = lbxInvoices->devicePixelRatioF();
    auto text = [&](int x, const std::string& t) {
        p.drawText(QRect(x, cell.top() + 1, std::max(0, cell.right() - x + 1), rowHeight - 1),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, GuiText(t));
    };
    switch (column) {
    case 0: {
        QStyleOptionButton box;
        box.rect = QRect(cell.left() + 4, cell.top() + 2, h, h);
        box.state = QStyle::State_Enabled | (r->checked ? QStyle::State_On : QStyle::State_Off);
        box.palette = option.palette;
        lbxInvoices->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, &p, lbxInvoices);
        const int iconX = cell.left() + rowHeight + 2;
        p.drawPixmap(iconX, cell.top(), EmailIcon(iconSet_, r->emailKind, dpr));
        text(iconX + EmailIconSize.width() + 2, r->invoiceNumber);
        break;
    }
    case 1: text(cell.left() + 4, r->customer); break;
    case 2:
    case 3: {
        // Measured in the row's weight, drawn in the regular one.
        const std::string& t = column == 2 ? r->amount : r->openBalance;
        const int width = fm.horizontalAdvance(GuiText(t));
        font.setBold(false);
        p.setFont(font);
        text(cell.left() + cell.width() - width - 6, t);
        break;
    }
    case 4: {
        if (selected) {
            const QRect outline(cell.left(), cell.top(), cell.width(), rowHeight - 1);
            p.fillRect(outline, option.palette.button());
            p.setPen(QColor(160, 160, 160));
            p.drawRect(outline.adjusted(0, 0, -1, -1));
            p.setPen(QColor(210, 210, 210));
            for (QPoint corner : {outline.topLeft(), outline.topRight(), outline.bottomLeft(), outline.bottomRight()})
                p.drawPoint(corner);
            QStyleOptionButton button;
            button.rect = outline.adjusted(1, 1, -1, -1);
            button.state = QStyle::State_Enabled | QStyle::State_Raised;
            button.palette = option.palette;
            lbxInvoices->style()->drawControl(QStyle::CE_PushButtonBevel, &button, &p, lbxInvoices);
            QFont small = option.font;
            small.setBold(false);
            small.setPointSizeF(8);
            p.setFont(small);
            p.setPen(option.palette.color(QPalette::ButtonText));
            p.drawText(QRect(cell.left(), cell.top(), cell.width(), rowHeight), Qt::AlignHCenter | Qt::AlignTop,
                       GuiText(AttachmentsButtonText(r->attachmentCount)));
        } else {
            // As many clips as fit: the count comes from the service.
            const QPixmap& clip = PaperClip(dpr);
            for (int i = 0, x = cell.left(); i < r->attachmentCount && x < cell.left() + cell.width(); ++i, x += 9)
                p.drawPixmap(x, cell.top() + 2, clip);
        }
        break;
    }
    default: break;
    }
    p.restore();
}

} // namespace dm
