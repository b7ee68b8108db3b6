#pragma once

// Lets the user correct the user name and password after the service refused the sign-in of a
// synchronisation session.

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace dm {

class TAuthFailed : public QDialog {
    Q_OBJECT
public:
    TAuthFailed(const std::string& businessName, const std::string& userName, const std::string& password,
                QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label6;
    QLineEdit* txtUserName;
    QLineEdit* txtPassword;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace dm
