#pragma once

// The review of the new invoices a session found: a list that reads every row from the
// unsent-invoice files as it is drawn (the invoices are never held in memory and never sorted
// here; the service sends the orders), with a check mark, the e-mail icon and the attachments
// of each invoice.

#include "engine/UnsentInvoices.h"
#include "gui/invoices/InvoiceIcons.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QPainter;
class QPushButton;
class QStyleOptionViewItem;
class QTableView;

namespace dm {

class TSync;
class TInvoiceListModel;

extern const char* const UnsentInvoicesCaption;
extern const char* const DoNotSendMessage;
extern const char* const NothingCheckedQuestion;

// 0.8 of the work area's height, halves to the even neighbour.
int ReviewWindowHeight(int workAreaHeight);
// "1 Unsent Invoice", "2 Unsent Invoices".
std::string UnsentInvoicesStatus(int rows);
// The label of the attachments button: "Add Attachments...", "1 Attachment...", "3 Attachments...".
std::string AttachmentsButtonText(int count);

class TUnsentInvoices : public QDialog {
    Q_OBJECT
public:
    TUnsentInvoices(TSync& frame, TUnsentInvoiceFiles& files, bool allowAttachments, QWidget* parent = nullptr);
    ~TUnsentInvoices() override;

    QLabel* lblBillerName;
    QWidget* PaintBox1; // the legend
    QPushButton* btnCheckAll;
    QPushButton* btnUncheckAll;
    QCheckBox* chkDoNotSend;
    QPushButton* btnSend;
    QPushButton* btnCancel;
    QTableView* lbxInvoices;
    QLabel* StatusBar1;

    // A file operation failed: the dialog closes and the review ends with this error.
    std::string FileError;
    // Closed by the window's close box: the session is cancelled.
    bool ClosedByBox = false;

    void btnCheckAllClick();
    void btnUncheckAllClick();
    void btnSendClick();
    void btnCancelClick();
    void chkDoNotSendClick();
    // A click on the selected row at the last mouse position.
    void lbxInvoicesClick();
    void lbxInvoicesColumnClick(int column);

    // The x where the attachments cell begins; clicks from there on open the attachments.
    int AttachmentsBoundary() const;
    int SelectedRow() const;
    TEmailIconSet IconSet() const { return iconSet_; }
    // Tests open the attachments dialog through this hook to drive it; normally it is shown modally.
    std::function<void(QDialog&)> BeforeAttachmentsShown;

    // The list's drawing of one cell (its delegate calls this).
    void PaintCell(QPainter& painter, const QStyleOptionViewItem& option, int row, int column);
    // The record that a row shows, through the one-record cache; null after a file error.
    const UnsentInvoiceRecord* RowRecord(int row);

protected:
    void reject() override; // Escape: as the Cancel button
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetAllChecked(bool checked);
    void OpenAttachments(int row);
    void ApplyOrder(int column);
    void EmptyCache() { cachedRow_ = -1; }
    void FailFile(const TUnsentInvoiceError& e);
    void PaintLegend(QPainter& painter);
    friend class TLegendBox;

    TSync& frame_;
    TUnsentInvoiceFiles& files_;
    bool allowAttachments_;
    TInvoiceListModel* model_;
    UnsentInvoiceRecord cached_;
    int cachedRow_ = -1;
    int lastMouseX_ = 0;
    TEmailIconSet iconSet_ = TEmailIconSet::Normal;
};

} // namespace dm
