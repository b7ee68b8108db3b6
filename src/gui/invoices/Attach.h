#pragma once

// The files attached to one invoice under review: listed over the session's sync channel,
// added (a PDF sent whole), deleted and re-ordered through the biller endpoint.

#include "engine/InvoiceAttachments.h"
#include "net/Web.h"

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace dm {

class TSync;

class TAttach : public QDialog {
    Q_OBJECT
public:
    explicit TAttach(QWidget* parent = nullptr);

    // Asks for the invoice's attachments; the dialog shows a wait text until they come.
    void Load(TSync& frame, const std::string& invoiceId);
    // How many files the service last confirmed for the invoice; -1 while that is not known
    // (the list never came).
    int KnownCount() const { return knownCount_; }
    bool ChangesPending() const { return changesPending_; }
    std::int64_t RemainingSize() const { return list_.RemainingSize; }
    bool Waiting() const;
    bool ListPanelShown() const;
    bool AddPanelShown() const;

    QLabel* lblWait;
    QLabel* lblNumber;
    QLabel* lblCustomer;
    QLabel* lblAmount;
    QLabel* lblBalance;
    QTableWidget* lbxAttachments;
    QPushButton* btnAdd;
    QPushButton* Button1; // Delete Attachment
    QPushButton* btnMoveUp;
    QPushButton* btnMoveDown;
    QPushButton* btnOK;
    QLabel* lblHelp;
    QLineEdit* txtFilename;
    QPushButton* btnBrowse;
    QComboBox* lbxDisplayMethod;
    QLabel* lblDescription;
    QLineEdit* txtDescription;
    QPushButton* btnUpload;
    QPushButton* btnCancelUpload;

    void btnAddClick();
    void Button1Click();
    void btnMoveUpClick();
    void btnMoveDownClick();
    void btnOKClick();
    void btnBrowseClick();
    void txtFilenameChange();
    void lbxDisplayMethodChange();
    void btnUploadClick();
    void btnCancelUploadClick();
    void lblHelpClick();

protected:
    void reject() override; // Escape: the add panel's Cancel, nothing elsewhere
    void closeEvent(QCloseEvent* event) override; // the close box: pending changes are dropped

private:
    void ShowWait(const char* text);
    void ShowListPanel();
    void ShowAddPanel();
    void FillList();
    int SelectedRow() const;
    void SelectRow(int row);
    void MoveSelected(int by);
    void SaveChanges();
    void Message(const char* text);
    // Whether a reply is one to act on: the current request, a complete answer with status 200.
    bool Delivered(std::int32_t requestId, WebStatus status, std::int32_t value, bool& failed);
    void ListResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);
    void UploadResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);
    void SaveResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);

    TSync* frame_ = nullptr;
    std::string invoiceId_;
    TAttachmentList list_;
    std::vector<TInvoiceAttachment> rows_; // the list as shown, top first
    std::vector<std::string> deleted_;     // delete keys not yet saved
    bool changesPending_ = false;
    bool closeAfterSaving_ = false;
    bool emptyAtStart_ = false;
    int knownCount_ = -1;
    std::int32_t requestId_ = 0;
    int httpStatus_ = 0;

    QStackedWidget* pages_;  // the wait text or the invoice
    QStackedWidget* panels_; // the list or the add panel
};

} // namespace dm
