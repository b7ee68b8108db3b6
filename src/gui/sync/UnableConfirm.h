#pragma once

// Asks for the account password when the service did not accept the stored one.

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace dm {

class TUnableConfirm : public QDialog {
    Q_OBJECT
public:
    TUnableConfirm(const std::string& businessName, const std::string& billerId, const std::string& userName,
                   QWidget* parent = nullptr);

    QLabel* Label3;
    QLabel* Label4;
    QLineEdit* txtPassword;
    QPushButton* btnContinue;
    QPushButton* btnCancel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace dm
