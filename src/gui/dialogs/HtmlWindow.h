#pragma once

// A page of our own (such as the summary of an all-biller run) in a modal window. Pages of the
// service need the embedded browser and do not come here.

#include <QDialog>

class QTextBrowser;

namespace dm {

class THtmlWindow : public QDialog {
    Q_OBJECT
public:
    THtmlWindow(const QString& caption, const QString& html, QWidget* parent = nullptr);
    QTextBrowser* Page;
};

} // namespace dm
