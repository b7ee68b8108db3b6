// The import options dialog of a biller without QuickBooks, on its own and opened from the
// Options dialog, and the biller's tab while an import runs.

#include "gui/dialogs/OptionsView.h"
#include "gui/invoices/ImportInvoiceOptions.h"
#include "gui/main/Main.h"
#include "engine/ImportInvoices.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>

using namespace dm;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

BillerRecord EziBiller() {
    BillerRecord b;
    b.type = "ezi";
    b.invoiceimportimportdirectory = "/srv/invoices/in/";
    b.invoiceimportafterimporting = aiMove;
    b.invoiceimportmovetodirectory = "/srv/invoices/done/";
    b.invoiceimportexecuteafter = "/usr/local/bin/after-import";
    return b;
}

std::string EziBusiness(const std::string& folder) {
    return "<business><type>ezi</type><name>Ezi Co</name><id>2001</id><username>ezi</username>"
           "<password>demo</password><invoiceimportimportdirectory>" +
           folder + "</invoiceimportimportdirectory><invoiceimportafterimporting>0</invoiceimportafterimporting>"
                    "</business>";
}

} // namespace

TEST(ImportOptions, RowsChoicesAndTheMoveRow) {
    TImportInvoiceOptions d;
    EXPECT_EQ(d.windowTitle(), "Import Invoice Options");
    EXPECT_EQ(d.size(), QSize(521, 193));
    EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "a fixed border";
    ASSERT_EQ(d.lbxAfterImporting->count(), 3);
    EXPECT_EQ(d.lbxAfterImporting->itemText(0), "Do Nothing");
    EXPECT_EQ(d.lbxAfterImporting->itemText(1), "Delete Imported Files");
    EXPECT_EQ(d.lbxAfterImporting->itemText(2), "Move Imported Files");
    // OK is the only button, and the default one.
    const auto buttons = d.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0], d.btnOK);
    EXPECT_TRUE(d.btnOK->isDefault());

    const BillerRecord stored = EziBiller();
    d.Load(stored);
    d.show();
    EXPECT_EQ(d.txtImportDirectory->text(), "/srv/invoices/in/");
    EXPECT_EQ(d.lbxAfterImporting->currentIndex(), aiMove);
    EXPECT_TRUE(d.txtMoveToDirectory->isVisible());
    EXPECT_TRUE(d.btnBrowseMoveToDirectory->isVisible());
    EXPECT_EQ(d.txtExecuteAfter->text(), "/usr/local/bin/after-import");
    dmtest::SaveScreenshot(&d, "import_options_move");

    for (int mode : {aiNothing, aiDelete}) {
        d.lbxAfterImporting->setCurrentIndex(mode);
        EXPECT_FALSE(d.txtMoveToDirectory->isVisible()) << mode;
        EXPECT_FALSE(d.lblMoveToDirectory->isVisible()) << mode;
    }
    dmtest::SaveScreenshot(&d, "import_options_delete");

    BillerRecord edited = stored;
    d.txtImportDirectory->setText("/home/ann/Rechnungen (neu)/");
    d.Store(edited);
    EXPECT_EQ(edited.invoiceimportimportdirectory, "/home/ann/Rechnungen (neu)/");
    EXPECT_EQ(edited.invoiceimportafterimporting, aiDelete);
    EXPECT_EQ(edited.invoiceimportexecuteafter, stored.invoiceimportexecuteafter);

    // A mode the list cannot show selects nothing and is kept as it is.
    BillerRecord odd = stored;
    odd.invoiceimportafterimporting = 7;
    d.Load(odd);
    EXPECT_EQ(d.lbxAfterImporting->currentIndex(), -1);
    d.Store(odd);
    EXPECT_EQ(odd.invoiceimportafterimporting, 7);
}

TEST(ImportOptions, BrowsingChoosesAFolderEndingInSlash) {
    dmtest::TempDir dir;
    fs::create_directories(dir.Path() / "drop");
    TImportInvoiceOptions d;
    d.show();
    std::string caption;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* browse = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(browse, nullptr) << modal->objectName().toStdString();
        caption = browse->windowTitle().toStdString();
        EXPECT_EQ(browse->fileMode(), QFileDialog::Directory);
        // Opened on the folder and accepted: selecting it by name races the dialog's listing.
        browse->setDirectory(QString::fromStdString((dir.Path() / "drop").string()));
        QMetaObject::invokeMethod(browse, "accept");
    });
    d.btnBrowseImportDirectory->click();
    EXPECT_EQ(caption, ImportDirectoryCaption);
    EXPECT_EQ(d.txtImportDirectory->text().toStdString(), (dir.Path() / "drop").string() + "/");
}

TEST(ImportOptions, OpenedFromTheOptionsDialogChangesTheBillerOnlyOnOk) {
    dmtest::TXdgFolders xdg;
    dmtest::TWindowFixture f(json::array({{{"user", "ezi"}, {"password", "demo"}, {"name", "Ezi Co"}, {"id", "2001"},
                                           {"type", "ezi"}}}));
    f.Settings(EziBusiness("/srv/in/"));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TSync* frame = f.Biller(0);
    for (bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "closed");
        bool opened = false;
        dmtest::WhenModal([&](QWidget* modal) {
            auto* options = qobject_cast<TOptionsView*>(modal);
            ASSERT_NE(options, nullptr);
            EXPECT_TRUE(options->btnGeneralImportInvoiceOptions->isVisible());
            EXPECT_TRUE(options->btnGeneralImportInvoiceOptions->isEnabled());
            dmtest::WhenModal([&](QWidget* inner) {
                auto* d = qobject_cast<TImportInvoiceOptions*>(inner);
                ASSERT_NE(d, nullptr) << inner->objectName().toStdString();
                opened = true;
                EXPECT_EQ(d->txtImportDirectory->text(), "/srv/in/");
                EXPECT_EQ(d->lbxAfterImporting->currentIndex(), aiNothing);
                EXPECT_FALSE(d->txtMoveToDirectory->isVisible());
                d->lbxAfterImporting->setCurrentIndex(aiMove);
                d->txtMoveToDirectory->setText("/srv/done/");
                if (ok) {
                    dmtest::SaveScreenshot(d, "import_options_from_options");
                    d->btnOK->click();
                } else {
                    d->close();
                }
            });
            options->btnGeneralImportInvoiceOptions->click();
            options->reject();
        });
        f.window->ShowOptions(true);
        EXPECT_TRUE(opened);
        EXPECT_EQ(frame->Biller.invoiceimportafterimporting, ok ? aiMove : aiNothing);
        EXPECT_EQ(frame->Biller.invoiceimportmovetodirectory, ok ? "/srv/done/" : "");
    }
    // The options dialog saves the settings file afterwards, the move-to folder with them.
    const std::string saved = dmtest::ReadFileBytes(f.app.StorageFolder + f.app.EnvironmentPrefix + "invdesk.xml");
    EXPECT_NE(saved.find("<invoiceimportmovetodirectory>/srv/done/</invoiceimportmovetodirectory>"), std::string::npos)
        << saved;
}

TEST(ImportOptions, TheBillersTabDuringAnImport) {
    dmtest::TempDir in;
    std::string csv = "number,customer,amount,due\r\n";
    for (int i = 1; i <= 4; ++i) csv += std::to_string(1040 + i) + ",Acme,12.50,2024-06-01\r\n";
    dmtest::WriteFileBytes(in.Path() / "invoices.csv", csv);
    // The second invoice takes its time, so that the strip can be seen mid-way.
    dmtest::TWindowFixture f(json::array({{{"user", "ezi"}, {"password", "demo"}, {"name", "Ezi Co"}, {"id", "2001"},
                                           {"type", "ezi"}, {"import", {{"pdfs", false}}}}}),
                             json::array({{{"operation", "invoiceimportprocess"}, {"skip", 1}, {"delay_ms", 1500}}}));
    f.Settings(EziBusiness(in.Folder()));
    f.Open();
    ASSERT_TRUE(f.WaitConfirmed());
    TSync* frame = f.Biller(0);
    frame->btnSyncNowClick(true);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return frame->StatusDetail == "Importing invoice 1042..."; }));
    EXPECT_EQ(frame->Percentage, 62);
    dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(300)); // the strip repaints
    dmtest::SaveScreenshot(f.window.get(), "import_tab_during_import");
    ASSERT_TRUE(dmtest::WaitUntil([&] { return frame->Phase == TSync::phIdle; }, std::chrono::seconds(20)));
    EXPECT_FALSE(frame->HadErrors) << frame->ErrorText;
    dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    dmtest::SaveScreenshot(f.window.get(), "import_tab_after_import");
}
