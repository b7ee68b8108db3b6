#include "gui/invoices/Attach.h"

#include "core/General.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "gui/main/GuiText.h"
#include "platform/System.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace dm {

namespace {

const char* const GettingText = "Getting invoice attachments. Please wait...";
const char* const SavingAttachmentText = "Saving invoice attachment. Please wait...";
const char* const SavingText = "Please wait...";
const char* const TooLargeChosen = "The file you have selected exceeds the maximum invoice attachment size.";
const char* const NoFileChosen = "Please select the file you want to attach to the invoice.";
const char* const NoDisplayMethod = "Please select the 'Display Method' for this attachment.";
const char* const NoLinkText = "Please enter the 'View Text Link' description for this attachment.";
const char* const TooLargeRefused = "The file you attached exceeds the allowed invoice attachment size.";
const char* const HelpPage = "merchants/invoice_attach_pdf_info.html";

const QColor NoteFill(253, 250, 194);

// The yellow box with its lines of advice.
QWidget* NoteBox(QWidget* parent, const QStringList& lines, QLabel* extra = nullptr) {
    auto* box = new QWidget(parent);
    box->setAutoFillBackground(true);
    QPalette pal = box->palette();
    pal.setColor(QPalette::Window, NoteFill);
    pal.setColor(QPalette::WindowText, Qt::black);
    box->setPalette(pal);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(6);
    for (const QString& line : lines) {
        auto* label = new QLabel(line, box);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
    }
    if (extra) layout->addWidget(extra);
    return box;
}

// The invoice's band: the window colour, and a line in the inactive-caption colour 2 pixels
// above its bottom.
class THeaderBand : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Base));
        p.setPen(palette().color(QPalette::Inactive, QPalette::Highlight));
        p.drawLine(0, height() - 3, width(), height() - 3);
    }
};

} // namespace

TAttach::TAttach(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Attach"));
    setWindowTitle(QStringLiteral("Invoice Attachments"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    ApplyFormFont(this);
    setFixedSize(681, 481);
    QFont bold = font();
    bold.setBold(true);

    pages_ = new QStackedWidget(this);
    lblWait = new QLabel(pages_);
    lblWait->setAlignment(Qt::AlignCenter);
    pages_->addWidget(lblWait);

    auto* invoice = new QWidget(pages_);
    auto* band = new THeaderBand(invoice);
    band->setFixedHeight(62);
    auto* grid = new QGridLayout(band);
    grid->setContentsMargins(12, 8, 12, 10);
    grid->setHorizontalSpacing(8);
    auto value = [&] {
        auto* l = new QLabel(band);
        l->setFont(bold);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    lblNumber = value();
    lblCustomer = value();
    lblAmount = value();
    lblBalance = value();
    grid->addWidget(new QLabel(QStringLiteral("Invoice #"), band), 0, 0);
    grid->addWidget(lblNumber, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Customer:"), band), 1, 0);
    grid->addWidget(lblCustomer, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Amount:"), band), 0, 2);
    grid->addWidget(lblAmount, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Open Balance:"), band), 1, 2);
    grid->addWidget(lblBalance, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    panels_ = new QStackedWidget(invoice);
    // The list panel.
    auto* listPanel = new QWidget(panels_);
    lbxAttachments = new QTableWidget(0, 4, listPanel);
    lbxAttachments->setHorizontalHeaderLabels(
        {QStringLiteral("Display Method"), QStringLiteral("Size"), QStringLiteral("Filename"), QStringLiteral("View Link Text")});
    lbxAttachments->setShowGrid(true);
    lbxAttachments->setSelectionBehavior(QAbstractItemView::SelectRows);
    lbxAttachments->setSelectionMode(QAbstractItemView::SingleSelection);
    lbxAttachments->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lbxAttachments->setSortingEnabled(false);
    lbxAttachments->setWordWrap(false);
    lbxAttachments->verticalHeader()->hide();
    QHeaderView* header = lbxAttachments->horizontalHeader();
    header->setSectionsClickable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    header->setSectionResizeMode(3, QHeaderView::Stretch);
    header->resizeSection(0, 100);
    header->resizeSection(1, 80);
    btnAdd = new QPushButton(QStringLiteral("Add Attachment"), listPanel);
    Button1 = new QPushButton(QStringLiteral("Delete Attachment"), listPanel);
    btnMoveUp = new QPushButton(QStringLiteral("Move Up"), listPanel);
    btnMoveDown = new QPushButton(QStringLiteral("Move Down"), listPanel);
    btnOK = new QPushButton(QStringLiteral("OK"), listPanel);
    auto* listButtons = new QHBoxLayout;
    for (QPushButton* b : {btnAdd, Button1, btnMoveUp, btnMoveDown}) listButtons->addWidget(b);
    listButtons->addStretch(1);
    listButtons->addWidget(btnOK);
    auto* listLayout = new QVBoxLayout(listPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->addWidget(NoteBox(
        listPanel,
        {QStringLiteral("Remove any invoice attachment below by clicking the attachment then click the 'Delete "
                        "Attachment' button."),
         QStringLiteral("Change the order that the attachments are displayed in by clicking an attachment and using the "
                        "'Move Up' and 'Move Down' buttons to move it within the list."),
         QStringLiteral("The 'Display Method' column indicates if the attachment will be included within the PDF of the "
                        "invoice or if it will be displayed as a link your customer can click to view the file.")}));
    listLayout->addWidget(lbxAttachments, 1);
    listLayout->addLayout(listButtons);
    panels_->addWidget(listPanel);

    // The add panel.
    auto* addPanel = new QWidget(panels_);
    lblHelp = new QLabel(QStringLiteral("<a href=\"help\">Click here for help converting various types of documents to "
                                        "PDF.&nbsp;&nbsp;</a>"),
                         addPanel);
    lblHelp->setTextFormat(Qt::RichText);
    lblHelp->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    auto* group = new QGroupBox(QStringLiteral("Add Invoice Attachment"), addPanel);
    txtFilename = new QLineEdit(group);
    txtFilename->setReadOnly(true); // chosen through Browse only
    btnBrowse = new QPushButton(QStringLiteral("Browse..."), group);
    lbxDisplayMethod = new QComboBox(group);
    lbxDisplayMethod->addItem(QStringLiteral("Make the attachment part of the invoice PDF."));
    lbxDisplayMethod->addItem(QStringLiteral("Display a link the customer can click to view the attachment."));
    lblDescription = new QLabel(QStringLiteral("View Link Text:"), group);
    txtDescription = new QLineEdit(group);
    btnUpload = new QPushButton(QStringLiteral("Add Attachment"), group);
    btnCancelUpload = new QPushButton(QStringLiteral("Cancel"), group);
    auto* form = new QGridLayout(group);
    form->addWidget(new QLabel(QStringLiteral("Add Attachment:"), group), 0, 0);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(txtFilename, 1);
    fileRow->addWidget(btnBrowse);
    form->addLayout(fileRow, 0, 1);
    form->addWidget(new QLabel(QStringLiteral("Display Method:"), group), 1, 0);
    form->addWidget(lbxDisplayMethod, 1, 1);
    form->addWidget(lblDescription, 2, 0);
    form->addWidget(txtDescription, 2, 1);
    auto* uploadButtons = new QHBoxLayout;
    uploadButtons->addStretch(1);
    uploadButtons->addWidget(btnUpload);
    uploadButtons->addWidget(btnCancelUpload);
    form->addLayout(uploadButtons, 3, 1);
    form->setRowStretch(4, 1);
    auto* addLayout = new QVBoxLayout(addPanel);
    addLayout->setContentsMargins(0, 0, 0, 0);
    addLayout->addWidget(NoteBox(addPanel,
                                 {QStringLiteral("Add a new attachment to this invoice by clicking the 'Browse' button "
                                                 "below, selecting the file to attach, choosing a Display Method, then "
                                                 "clicking the 'Add Attachment' button. Attachments must be in the "
                                                 "Acrobat PDF format.")},
                                 lblHelp));
    addLayout->addWidget(group, 1);
    panels_->addWidget(addPanel);

    auto* invoiceLayout = new QVBoxLayout(invoice);
    invoiceLayout->setContentsMargins(0, 0, 0, 0);
    invoiceLayout->addWidget(band);
    auto* inner = new QVBoxLayout;
    inner->setContentsMargins(10, 6, 10, 10);
    inner->addWidget(panels_);
    invoiceLayout->addLayout(inner, 1);
    pages_->addWidget(invoice);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);

    for (QPushButton* b : {btnAdd, Button1, btnMoveUp, btnMoveDown, btnBrowse, btnCancelUpload}) b->setAutoDefault(false);

    connect(btnAdd, &QPushButton::clicked, this, &TAttach::btnAddClick);
    connect(Button1, &QPushButton::clicked, this, &TAttach::Button1Click);
    connect(btnMoveUp, &QPushButton::clicked, this, &TAttach::btnMoveUpClick);
    connect(btnMoveDown, &QPushButton::clicked, this, &TAttach::btnMoveDownClick);
    connect(btnOK, &QPushButton::clicked, this, &TAttach::btnOKClick);
    connect(btnBrowse, &QPushButton::clicked, this, &TAttach::btnBrowseClick);
    connect(txtFilename, &QLineEdit::textChanged, this, &TAttach::txtFilenameChange);
    connect(lbxDisplayMethod, &QComboBox::currentIndexChanged, this, &TAttach::lbxDisplayMethodChange);
    connect(btnUpload, &QPushButton::clicked, this, &TAttach::btnUploadClick);
    connect(btnCancelUpload, &QPushButton::clicked, this, &TAttach::btnCancelUploadClick);
    connect(lblHelp, &QLabel::linkActivated, this, &TAttach::lblHelpClick);
    ShowWait(GettingText);
}

bool TAttach::Waiting() const { return pages_->currentIndex() == 0; }
bool TAttach::ListPanelShown() const { return !Waiting() && panels_->currentIndex() == 0; }
bool TAttach::AddPanelShown() const { return !Waiting() && panels_->currentIndex() == 1; }

void TAttach::Message(const char* text) { frame_->Engine().Prompts.ShowMessage(text); }

void TAttach::ShowWait(const char* text) {
    lblWait->setText(QString::fromLatin1(text));
    pages_->setCurrentIndex(0);
}

void TAttach::ShowListPanel() {
    pages_->setCurrentIndex(1);
    panels_->setCurrentIndex(0);
    btnOK->setDefault(true);
    btnUpload->setDefault(false);
}

void TAttach::ShowAddPanel() {
    txtFilename->clear();
    lbxDisplayMethod->setCurrentIndex(-1);
    lbxDisplayMethodChange();
    txtDescription->clear();
    pages_->setCurrentIndex(1);
    panels_->setCurrentIndex(1);
    btnUpload->setDefault(true);
    btnOK->setDefault(false);
}

void TAttach::Load(TSync& frame, const std::string& invoiceId) {
    frame_ = &frame;
    invoiceId_ = invoiceId;
    rows_.clear();
    FillList();
    ShowWait(GettingText);
    httpStatus_ = 0;
    requestId_ = frame.RequestInvoiceAttachments(invoiceId, WebHandler(this, &TAttach::ListResponse), this);
}

bool TAttach::Delivered(std::int32_t requestId, WebStatus status, std::int32_t value, bool& failed) {
    failed = false;
    if (requestId != requestId_) return false;
    if (status == wsStatusCode) httpStatus_ = value;
    if (status == wsFailed) failed = true;
    // An error page is no answer to read: as a failed request.
    if (status == wsDone && httpStatus_ != 0 && httpStatus_ != 200) failed = true;
    return status == wsFailed || status == wsDone;
}

void TAttach::ListResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value) {
    bool failed = false;
    if (!Delivered(requestId, status, value, failed)) return;
    std::optional<TAttachmentList> list = failed ? std::nullopt : ReadAttachmentList(text);
    if (!list) {
        accept();
        return;
    }
    list_ = std::move(*list);
    lblNumber->setText(GuiText(list_.Number));
    lblCustomer->setText(GuiText(list_.Customer));
    lblAmount->setText(GuiText(list_.Total));
    lblBalance->setText(GuiText(list_.Balance));
    rows_ = list_.Attachments;
    knownCount_ = static_cast<int>(rows_.size());
    FillList();
    emptyAtStart_ = rows_.empty();
    if (rows_.empty()) ShowAddPanel();
    else ShowListPanel();
}

void TAttach::FillList() {
    lbxAttachments->setRowCount(static_cast<int>(rows_.size()));
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        const TInvoiceAttachment& a = rows_[static_cast<size_t>(r)];
        auto cell = [&](int column, const std::string& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
            auto* item = new QTableWidgetItem(GuiText(text));
            item->setTextAlignment(align);
            lbxAttachments->setItem(r, column, item);
        };
        cell(0, DisplayMethodCaption(a.Render));
        cell(1, a.Size, Qt::AlignRight | Qt::AlignVCenter);
        cell(2, a.Filename);
        cell(3, a.Render == "0" ? a.Description : std::string());
    }
}

int TAttach::SelectedRow() const {
    const QModelIndexList rows = lbxAttachments->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TAttach::SelectRow(int row) {
    if (row < 0 || row >= lbxAttachments->rowCount()) {
        lbxAttachments->clearSelection();
        return;
    }
    lbxAttachments->selectRow(row);
}

void TAttach::Button1Click() {
    const int row = SelectedRow();
    if (row < 0) return;
    changesPending_ = true;
    deleted_.push_back(rows_[static_cast<size_t>(row)].Data);
    rows_.erase(rows_.begin() + row);
    FillList();
    SelectRow(std::min(row, static_cast<int>(rows_.size()) - 1));
}

void TAttach::MoveSelected(int by) {
    const int row = SelectedRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= static_cast<int>(rows_.size())) return;
    std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(to)]);
    changesPending_ = true;
    FillList();
    SelectRow(to);
}

void TAttach::btnMoveUpClick() { MoveSelected(-1); }
void TAttach::btnMoveDownClick() { MoveSelected(1); }

void TAttach::btnOKClick() {
    closeAfterSaving_ = true;
    SaveChanges();
}

void TAttach::btnAddClick() { SaveChanges(); }

void TAttach::SaveChanges() {
    if (!changesPending_) {
        if (closeAfterSaving_) accept();
        else ShowAddPanel();
        return;
    }
    ShowWait(SavingText);
    std::string elements;
    for (size_t i = 0; i < rows_.size(); ++i) elements += ReorderAttachmentElement(rows_[i].Id, static_cast<int>(i) + 1);
    for (const std::string& key : deleted_) elements += DeleteAttachmentElement(key);
    httpStatus_ = 0;
    requestId_ = frame_->PostBillerRequest(InvoiceUpdateOperation(elements, invoiceId_),
                                           WebHandler(this, &TAttach::SaveResponse), this);
}

void TAttach::SaveResponse(std::int32_t requestId, WebStatus status, const std::string&, std::int32_t value) {
    bool failed = false;
    if (!Delivered(requestId, status, value, failed)) return;
    if (failed) {
        accept();
        return;
    }
    changesPending_ = false;
    // Saved deletes are not sent again: the service may give a later file the same key.
    deleted_.clear();
    knownCount_ = static_cast<int>(rows_.size());
    if (closeAfterSaving_) accept();
    else ShowAddPanel();
}

void TAttach::btnBrowseClick() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Select Invoice Attachment"), QString(),
                                                      QStringLiteral("PDF documents (*.pdf)"));
    if (!path.isEmpty()) txtFilename->setText(path);
}

void TAttach::txtFilenameChange() {
    const QFileInfo file(txtFilename->text());
    if (txtFilename->text().isEmpty() || !file.isFile()) return;
    if (file.size() > list_.RemainingSize) {
        txtFilename->clear();
        Message(TooLargeChosen);
    }
}

void TAttach::lbxDisplayMethodChange() {
    const bool link = lbxDisplayMethod->currentIndex() == 1;
    lblDescription->setVisible(link);
    txtDescription->setVisible(link);
}

void TAttach::btnUploadClick() {
    const QFileInfo file(txtFilename->text());
    if (txtFilename->text().isEmpty() || !file.isFile()) {
        Message(NoFileChosen);
        txtFilename->setFocus();
        return;
    }
    if (lbxDisplayMethod->currentIndex() < 0) {
        Message(NoDisplayMethod);
        lbxDisplayMethod->setFocus();
        return;
    }
    const bool inPdf = lbxDisplayMethod->currentIndex() == 0;
    if (!inPdf && txtDescription->text().trimmed().isEmpty()) {
        Message(NoLinkText);
        txtDescription->setFocus();
        return;
    }
    // The file may have grown since it was chosen; it is read whole only when it still fits.
    if (file.size() > list_.RemainingSize) {
        txtFilename->clear();
        Message(TooLargeChosen);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ShowWait(SavingAttachmentText);
    QFile in(file.filePath());
    if (!in.open(QIODevice::ReadOnly)) {
        QApplication::restoreOverrideCursor();
        ShowAddPanel();
        Message(NoFileChosen);
        return;
    }
    const QByteArray bytes = in.readAll();
    const std::string element = AddAttachmentElement(
        inPdf ? std::string() : EngineText(txtDescription->text()), static_cast<int>(rows_.size()) + 1,
        EngineText(file.fileName()), inPdf, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    QApplication::restoreOverrideCursor();
    httpStatus_ = 0;
    requestId_ = frame_->PostBillerRequest(InvoiceUpdateOperation(element, invoiceId_),
                                           WebHandler(this, &TAttach::UploadResponse), this);
}

void TAttach::UploadResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value) {
    bool failed = false;
    if (!Delivered(requestId, status, value, failed)) return;
    if (failed) {
        accept();
        return;
    }
    if (InvoiceUpdateErrorNumber(text) == AttachmentTooLargeError) Message(TooLargeRefused);
    Load(*frame_, invoiceId_);
}

void TAttach::btnCancelUploadClick() {
    if (emptyAtStart_) accept();
    else ShowListPanel();
}

void TAttach::lblHelpClick() { ShellOpen(frame_->Engine().App.BaseUrl + HelpPage); }

void TAttach::reject() {
    if (AddPanelShown()) btnCancelUploadClick();
}

void TAttach::closeEvent(QCloseEvent* event) {
    done(QDialog::Rejected);
    event->accept();
}

} // namespace dm
