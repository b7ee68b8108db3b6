#pragma once

// The question before invoices go out with notification e-mails to the customers.

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace dm {

class TSendInvoiceEmails : public QDialog {
    Q_OBJECT
public:
    enum TResult { Yes = 6, No = 7 };

    explicit TSendInvoiceEmails(QWidget* parent = nullptr);

    QLabel* lblTitle;
    QLabel* lblText;
    QPushButton* Button1; // Yes
    QPushButton* Button2; // No
    QCheckBox* chkDoNotAsk;

protected:
    void reject() override; // Escape: as No, nothing goes out
};

} // namespace dm
