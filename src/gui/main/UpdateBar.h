#pragma once

// The bar above the biller tabs that offers a newer version of the program.

#include <QWidget>

class QLabel;

namespace dm {

extern const char* const UpdateBarText;

class TUpdateBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int BarHeight = 33;

    explicit TUpdateBar(QWidget* parent = nullptr);

    QLabel* Label4; // the download link
    QLabel* Label1; // "Skip Update"

    // Puts the download link in place; the main window shows the bar.
    void Announce();

signals:
    void downloadClicked();
    void skipClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace dm
