#pragma once

// Finds a biller by part of its name among the entries of the main window's biller list.

#include <QDialog>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace dm {

class TSearchBillers : public QDialog {
    Q_OBJECT
public:
    // billers: the main window's list; each entry carries its biller's page.
    explicit TSearchBillers(const QComboBox& billers, QWidget* parent = nullptr);

    QLineEdit* txtSearch;
    QListWidget* lbxResults;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    // The page of the selected result, or null.
    QObject* SelectedPage() const;
    void txtSearchChange();

private:
    const QComboBox& billers_;
};

} // namespace dm
