#include "gui/dialogs/HtmlWindow.h"

#include "gui/main/GuiText.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace dm {

THtmlWindow::THtmlWindow(const QString& caption, const QString& html, QWidget* parent) : QDialog(parent) {
    setWindowTitle(caption);
    ApplyFormFont(this);
    resize(870, 640);
    auto* layout = new QVBoxLayout(this);
    Page = new QTextBrowser(this);
    Page->setOpenExternalLinks(true);
    Page->setHtml(html);
    layout->addWidget(Page);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace dm
