#include "gui/invoices/ImportInvoiceOptions.h"

#include "engine/ImportInvoices.h"
#include "engine/Settings.h"
#include "gui/main/GuiText.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

namespace dm {

const char* const ImportDirectoryCaption = "Select invoice import directory.";
const char* const MoveToDirectoryCaption = "Select the directory imported files are moved to.";
const char* const ExecuteAfterCaption = "Select the program to run after importing.";

namespace {

QLabel* RowLabel(const char* text, QWidget* parent, int y) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(12, y + 3, 112, 17);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A box and its browse button, the button at the box's right end.
QLineEdit* PathBox(const char* name, QWidget* parent, int y, QToolButton*& browse) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(132, y, 349, 23);
    browse = new QToolButton(parent);
    browse->setText(QStringLiteral("..."));
    browse->setGeometry(483, y, 26, 23);
    return box;
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

} // namespace

TImportInvoiceOptions::TImportInvoiceOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ImportInvoiceOptions"));
    setWindowTitle(QStringLiteral("Import Invoice Options"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    ApplyFormFont(this);
    setFixedSize(521, 193);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    RowLabel("Import Directory:", this, 16);
    txtImportDirectory = PathBox("txtImportDirectory", this, 16, btnBrowseImportDirectory);
    btnBrowseImportDirectory->setObjectName(QStringLiteral("btnBrowseImportDirectory"));

    RowLabel("After Importing:", this, 50);
    lbxAfterImporting = new QComboBox(this);
    lbxAfterImporting->setObjectName(QStringLiteral("lbxAfterImporting"));
    lbxAfterImporting->setGeometry(132, 50, 200, 23);
    lbxAfterImporting->addItems({QStringLiteral("Do Nothing"), QStringLiteral("Delete Imported Files"),
                                 QStringLiteral("Move Imported Files")});

    lblMoveToDirectory = RowLabel("Move To Directory:", this, 84);
    txtMoveToDirectory = PathBox("txtMoveToDirectory", this, 84, btnBrowseMoveToDirectory);
    btnBrowseMoveToDirectory->setObjectName(QStringLiteral("btnBrowseMoveToDirectory"));

    RowLabel("Execute After:", this, 118);
    txtExecuteAfter = PathBox("txtExecuteAfter", this, 118, btnBrowseExecuteAfter);
    btnBrowseExecuteAfter->setObjectName(QStringLiteral("btnBrowseExecuteAfter"));

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(434, 156, 75, 25);
    btnOK->setDefault(true);
    for (QToolButton* b : {btnBrowseImportDirectory, btnBrowseMoveToDirectory, btnBrowseExecuteAfter})
        b->setFocusPolicy(Qt::TabFocus);

    connect(lbxAfterImporting, &QComboBox::currentIndexChanged, this, &TImportInvoiceOptions::lbxAfterImportingChange);
    connect(btnBrowseImportDirectory, &QToolButton::clicked, this,
            [this] { BrowseFolder(txtImportDirectory, ImportDirectoryCaption); });
    connect(btnBrowseMoveToDirectory, &QToolButton::clicked, this,
            [this] { BrowseFolder(txtMoveToDirectory, MoveToDirectoryCaption); });
    connect(btnBrowseExecuteAfter, &QToolButton::clicked, this, &TImportInvoiceOptions::BrowseProgram);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    lbxAfterImportingChange();
}

void TImportInvoiceOptions::lbxAfterImportingChange() {
    const bool move = lbxAfterImporting->currentIndex() == aiMove;
    for (QWidget* w : {static_cast<QWidget*>(lblMoveToDirectory), static_cast<QWidget*>(txtMoveToDirectory),
                       static_cast<QWidget*>(btnBrowseMoveToDirectory)})
        w->setVisible(move);
}

void TImportInvoiceOptions::Load(const BillerRecord& biller) {
    txtImportDirectory->setText(GuiText(biller.invoiceimportimportdirectory));
    const int mode = biller.invoiceimportafterimporting;
    // A mode this program does not know (a file edited by hand) selects nothing.
    lbxAfterImporting->setCurrentIndex(mode >= aiNothing && mode <= aiMove ? mode : -1);
    lbxAfterImportingChange();
    txtMoveToDirectory->setText(GuiText(biller.invoiceimportmovetodirectory));
    txtExecuteAfter->setText(GuiText(biller.invoiceimportexecuteafter));
}

void TImportInvoiceOptions::Store(BillerRecord& biller) const {
    biller.invoiceimportimportdirectory = EngineText(txtImportDirectory->text(), biller.invoiceimportimportdirectory);
    if (lbxAfterImporting->currentIndex() >= 0) biller.invoiceimportafterimporting = lbxAfterImporting->currentIndex();
    biller.invoiceimportmovetodirectory = EngineText(txtMoveToDirectory->text(), biller.invoiceimportmovetodirectory);
    biller.invoiceimportexecuteafter = EngineText(txtExecuteAfter->text(), biller.invoiceimportexecuteafter);
}

void TImportInvoiceOptions::BrowseFolder(QLineEdit* box, const char* caption) {
    QFileDialog dialog(this, QString::fromLatin1(caption), box->text());
    dialog.setObjectName(QStringLiteral("BrowseFolder"));
    // The dialog's own "Create New Folder" stays available.
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    box->setText(GuiText(WithSlash(EngineText(dialog.selectedFiles().front()))));
}

void TImportInvoiceOptions::BrowseProgram() {
    QFileDialog dialog(this, QString::fromLatin1(ExecuteAfterCaption), txtExecuteAfter->text());
    dialog.setObjectName(QStringLiteral("BrowseProgram"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    txtExecuteAfter->setText(dialog.selectedFiles().front());
}

} // namespace dm
