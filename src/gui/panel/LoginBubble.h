#pragma once

// The hint that fills a biller's tab under its buttons and invites the user to log in to the
// control panel.

#include <QWidget>

class QLabel;

namespace dm {

class TLoginBubble : public QWidget {
    Q_OBJECT
public:
    explicit TLoginBubble(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace dm
