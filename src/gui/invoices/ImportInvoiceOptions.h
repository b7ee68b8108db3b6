#pragma once

// The four invoice-import settings of a biller without QuickBooks: the folder the files come
// from, what happens to each file once imported, the folder they are moved to, and a program
// to run when an import completes. Closing the window instead of OK discards the edits.

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace dm {

struct BillerRecord;

extern const char* const ImportDirectoryCaption;
extern const char* const MoveToDirectoryCaption;
extern const char* const ExecuteAfterCaption;

class TImportInvoiceOptions : public QDialog {
    Q_OBJECT
public:
    explicit TImportInvoiceOptions(QWidget* parent = nullptr);

    QLineEdit* txtImportDirectory;
    QToolButton* btnBrowseImportDirectory;
    QComboBox* lbxAfterImporting;
    QLabel* lblMoveToDirectory;
    QLineEdit* txtMoveToDirectory;
    QToolButton* btnBrowseMoveToDirectory;
    QLineEdit* txtExecuteAfter;
    QToolButton* btnBrowseExecuteAfter;
    QPushButton* btnOK;

    // The biller's settings into the boxes, and the boxes back into the biller.
    void Load(const BillerRecord& biller);
    void Store(BillerRecord& biller) const;
    // The move-to row shows only while "Move Imported Files" is selected.
    void lbxAfterImportingChange();

private:
    void BrowseFolder(QLineEdit* box, const char* caption);
    void BrowseProgram();
};

} // namespace dm
