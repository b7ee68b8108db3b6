#pragma once

// The control-panel sign-in: the biller's name and user name, the password and whether to
// remember it.

#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dm {

class TCPSignIn : public QDialog {
    Q_OBJECT
public:
    TCPSignIn(const std::string& businessName, const std::string& userName, QWidget* parent = nullptr);

    QLabel* lblBusiness;
    QLabel* lblUserName;
    QLineEdit* txtPassword;
    QCheckBox* chkRemember;
    QPushButton* btnLogin;
    QPushButton* btnCancel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace dm
