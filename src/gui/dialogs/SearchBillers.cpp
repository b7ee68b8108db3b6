#include "gui/dialogs/SearchBillers.h"

#include "gui/main/GuiText.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace dm {

namespace {
constexpr int PageRole = Qt::UserRole;
}

TSearchBillers::TSearchBillers(const QComboBox& billers, QWidget* parent) : QDialog(parent), billers_(billers) {
    setObjectName(QStringLiteral("SearchBillers"));
    setWindowTitle(QStringLiteral("Search Billers"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ApplyFormFont(this);
    setFixedSize(585, 449);
    if (parent) move(parent->geometry().center() - QPoint(width() / 2, height() / 2));

    txtSearch = new QLineEdit(this);
    txtSearch->setObjectName(QStringLiteral("txtSearch"));
    lbxResults = new QListWidget(this);
    lbxResults->setObjectName(QStringLiteral("lbxResults"));
    lbxResults->setFixedSize(553, 341);
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* search = new QHBoxLayout;
    search->addWidget(new QLabel(QStringLiteral("Search:"), this));
    search->addWidget(txtSearch, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addLayout(search);
    layout->addWidget(lbxResults, 1);
    layout->addLayout(buttons);

    connect(txtSearch, &QLineEdit::textChanged, this, &TSearchBillers::txtSearchChange);
    connect(lbxResults, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    txtSearchChange();
}

void TSearchBillers::txtSearchChange() {
    lbxResults->clear();
    const QString query = txtSearch->text().toLower().trimmed();
    for (int i = 0; i < billers_.count(); ++i) {
        const QString entry = billers_.itemText(i);
        if (!query.isEmpty() && !entry.toLower().contains(query)) continue;
        auto* item = new QListWidgetItem(entry, lbxResults);
        item->setData(PageRole, billers_.itemData(i));
    }
    if (lbxResults->count() == 1) lbxResults->setCurrentRow(0);
}

QObject* TSearchBillers::SelectedPage() const {
    QListWidgetItem* item = lbxResults->currentItem();
    if (!item || !item->isSelected()) return nullptr;
    return item->data(PageRole).value<QObject*>();
}

} // namespace dm
