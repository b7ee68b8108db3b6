// The review of new invoices and their attachments, driven through the real dialogs in a real
// session against the local service and the QuickBooks stand-in, with the windowed program's
// own prompts. Each dialog is modal, so the tests act from inside it (WhenModal).

#include "engine/UnsentInvoices.h"
#include "gui/invoices/Attach.h"
#include "gui/invoices/SendInvoiceEmails.h"
#include "gui/invoices/UnsentInvoices.h"
#include "gui/main/GuiPrompts.h"
#include "gui/main/GuiText.h"
#include "platform/System.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <regex>

using namespace dm;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// The demo company's five invoices as the service knows them before the first session: unsent,
// 1003 with a file in each display method, 1004 with one. Northwind is enrolled (e-mail kind 2),
// the others have an e-mail address (kind 1).
struct TReviewFixture {
    dmtest::TempDir dir;
    std::unique_ptr<TTestService> service;
    TAppState app;
    TGuiPrompts prompts;
    std::unique_ptr<TMainEngine> engine;
    TSync* frame = nullptr;
    int finished = 0;

    explicit TReviewFixture(json accountExtra = json::object(), json faults = json::array()) {
        fs::create_directories(dir.Path() / "qb");
        fs::create_directories(dir.Path() / "store");
        setenv("INVARA_QB_HOME", QbHome().c_str(), 1);
        Qb({"demo"});
        const std::string company = dmtest::ReadFileBytes(dir.Path() / "qb" / "Demo Co.qbw");
        std::vector<std::string> txn, customerIds;
        const std::regex invoice("<Invoice>\\s*<TxnID>([^<]+)</TxnID>"), customer("<Customer>\\s*<ListID>([^<]+)</ListID>");
        for (auto it = std::sregex_iterator(company.begin(), company.end(), invoice); it != std::sregex_iterator(); ++it)
            txn.push_back((*it)[1]);
        for (auto it = std::sregex_iterator(company.begin(), company.end(), customer); it != std::sregex_iterator(); ++it)
            customerIds.push_back((*it)[1]);
        EXPECT_EQ(txn.size(), 5u);
        EXPECT_EQ(customerIds.size(), 5u);
        json invoices = json::array();
        for (size_t i = 0; i < txn.size(); ++i)
            invoices.push_back({{"txn_id", txn[i]}, {"key", std::to_string(5001 + i)}, {"number", std::to_string(1001 + i)}});
        invoices[2]["attachments"] = {{{"filename", "terms.pdf"}, {"render", 0}, {"description", "Our terms"}, {"size", 2048}},
                                      {{"filename", "timesheet.pdf"}, {"render", 1}, {"size", 4096}},
                                      {{"filename", "photos.pdf"}, {"render", 2}, {"size", 512}}};
        invoices[3]["attachments"] = {{{"filename", "order.pdf"}, {"render", 1}, {"size", 700}}};
        json account = {{"user", "demo"}, {"password", "demo"}, {"name", "Demo Co"}, {"id", "1001"},
                        {"delay_sending_invoices", true}, {"invoices", invoices},
                        {"customers", {{{"list_id", customerIds.size() > 2 ? customerIds[2] : ""},
                                        {"name", "Northwind Traders"}, {"email", "nina@northwind.example"},
                                        {"enrolled", true}}}}};
        account.update(accountExtra);
        service = std::make_unique<TTestService>(ScenarioFromJson({{"accounts", {account}}, {"faults", faults}}));
        const int port = service->Start("127.0.0.1", 0);
        app.BaseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";
        ComposeUrls(app);
        app.StorageFolder = dir.Folder() + "store/";
        app.VersionText = "1.0.0";
        app.BuildNumber = "1";
        engine = std::make_unique<TMainEngine>(app, prompts);
        QObject::connect(engine.get(), &TMainEngine::sessionFinished, [this](TSync*) { ++finished; });
        BillerRecord r;
        r.name = "Demo Co";
        r.id = "1001";
        r.username = "demo";
        r.password = "demo";
        frame = engine->AddBiller(r);
        EXPECT_TRUE(dmtest::WaitUntil([&] { return !frame->Confirming; }));
        EXPECT_TRUE(frame->DelaySendingInvoices);
    }
    ~TReviewFixture() {
        engine.reset();
        service->Stop();
    }

    std::string QbHome() const { return dir.Folder() + "qb/"; }
    void Qb(const QStringList& args) {
        QStringList all{"--home", QString::fromStdString(QbHome())};
        all << args;
        ASSERT_EQ(QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"), all), 0);
    }
    // Presses Sync; the review opens inside and is answered by what was armed with WhenModal.
    bool Sync() {
        const int target = finished + 1;
        frame->btnSyncNowClick(true);
        return dmtest::WaitUntil([&] { return finished >= target && !engine->SyncInProgress(); },
                                 std::chrono::seconds(60));
    }
    json Get(const char* what) {
        httplib::Client client("127.0.0.1", service->Port());
        auto r = client.Get(what);
        return r ? json::parse(r->body) : json();
    }
    json Invoice(const std::string& key) {
        const json state = Get("/_test/state");
        for (const json& inv : state["accounts"][0]["invoices"])
            if (inv["key"] == key) return inv;
        return {};
    }
    // The bodies posted to an endpoint that contain the marker.
    std::vector<std::string> Bodies(const std::string& endpoint, const std::string& marker) {
        std::vector<std::string> out;
        const json requests = Get("/_test/requests");
        for (const json& r : requests) {
            const std::string path = r.value("path", "");
            const std::string body = r["body"].is_string() ? r["body"].get<std::string>() : "";
            if (path.size() >= endpoint.size() && path.compare(path.size() - endpoint.size(), endpoint.size(), endpoint) == 0 &&
                body.find(marker) != std::string::npos)
                out.push_back(body);
        }
        return out;
    }
    std::vector<std::string> Chosen() { return Bodies("webservices/quickbooks.php", "<sendchoseninvoices>"); }
    std::vector<std::string> Updates() { return Bodies("webservices/service.php", "<invoiceupdate>"); }
    UnsentInvoiceRecord Record(int position) {
        const std::string bytes = dmtest::ReadFileBytes(dir.Path() / "store" / "uninv.txt");
        return UnsentInvoiceRecord::Decode(
            std::string_view(bytes).substr(static_cast<size_t>(position) * UnsentInvoiceRecord::Size));
    }
    std::string Pdf(const std::string& name, size_t size) {
        std::string bytes = "%PDF-1.4\n";
        bytes.resize(size, 'x');
        const std::string path = dir.Folder() + name;
        dmtest::WriteFileBytes(path, bytes);
        return path;
    }
};

// A failed assertion returns from the callback: the dialog must not stay open behind it.
struct TCloseOnReturn {
    QPointer<QDialog> dialog;
    ~TCloseOnReturn() {
        if (dialog && dialog->isVisible()) dialog->done(QDialog::Rejected);
    }
};

template <class T>
T* Modal(QWidget* modal) {
    auto* w = qobject_cast<T*>(modal);
    EXPECT_NE(w, nullptr) << (modal ? modal->metaObject()->className() : "no modal window");
    return w;
}

void Click(QWidget* target, QPoint at, QEvent::Type last = QEvent::MouseButtonRelease) {
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(last, at, target->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

// A click on a row of the review in the given column.
void ClickRow(TUnsentInvoices* d, int row, int column) {
    QTableView* list = d->lbxInvoices;
    Click(list->viewport(), {list->columnViewportPosition(column) + 12, list->rowViewportPosition(row) + 4});
}

void ClickColumn(TUnsentInvoices* d, int column) {
    QHeaderView* header = d->lbxInvoices->horizontalHeader();
    Click(header->viewport(), {header->sectionViewportPosition(column) + 10, header->height() / 2});
}

QString Header(TUnsentInvoices* d, int column) {
    return d->lbxInvoices->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

// Answers the next message box with the button and hands its text back.
void AnswerBox(QString* text, QMessageBox::StandardButton button = QMessageBox::Ok) {
    dmtest::WhenModal([text, button](QWidget* modal) {
        auto* box = Modal<QMessageBox>(modal);
        if (!box) return;
        *text = box->text();
        box->button(button)->click();
    });
}

TAttach* OpenedAttachments(QWidget* modal) {
    auto* a = Modal<TAttach>(modal);
    if (a) EXPECT_TRUE(dmtest::WaitUntil([a] { return !a->isVisible() || !a->Waiting(); }));
    return a;
}

int InvCount(const std::string& chosen) {
    int n = 0;
    for (size_t at = chosen.find("<inv>"); at != std::string::npos; at = chosen.find("<inv>", at + 1)) ++n;
    return n;
}

} // namespace

TEST(Review, ClicksFlipRowsAndCheckAllSendsEveryInvoiceAfterTheEmailQuestion) {
    TReviewFixture f;
    bool reviewed = false;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = Modal<TUnsentInvoices>(modal);
        if (!d) return;
        TCloseOnReturn closing{d};
        reviewed = true;
        EXPECT_EQ(d->windowTitle(), "Invara - New Invoices Not Yet Synchronized");
        EXPECT_EQ(d->width(), 700);
        EXPECT_EQ(d->height(), ReviewWindowHeight(QGuiApplication::primaryScreen()->availableGeometry().height()));
        EXPECT_EQ(d->lblBillerName->text(), "Demo Co");
        EXPECT_EQ(d->StatusBar1->text(), "5 Unsent Invoices");
        EXPECT_EQ(d->lbxInvoices->model()->columnCount(), 5);
        EXPECT_EQ(Header(d, 0), "[ Invoice # ]");
        EXPECT_EQ(Header(d, 4), "Attachments");

        // Each click on a number, customer or amount flips the row, and the file follows at once.
        for (int column : {0, 1, 2}) {
            ClickRow(d, 1, column);
            EXPECT_TRUE(f.Record(1).checked) << column;
            ClickRow(d, 1, column);
            EXPECT_FALSE(f.Record(1).checked) << column;
        }
        ClickRow(d, 0, 1);
        ClickRow(d, 2, 3);
        EXPECT_TRUE(f.Record(0).checked && f.Record(2).checked && !f.Record(3).checked);
        EXPECT_EQ(d->SelectedRow(), 2);
        dmtest::SaveScreenshot(d, "review_ticked_rows");

        d->btnCheckAll->click();
        for (int n = 0; n < 5; ++n) EXPECT_TRUE(f.Record(n).checked) << n;
        // Kinds 1 and 2 are ticked: the question comes, is answered Yes and not asked again.
        bool asked = false;
        dmtest::WhenModal([&](QWidget* q) {
            auto* e = Modal<TSendInvoiceEmails>(q);
            if (!e) return;
            asked = true;
            EXPECT_EQ(e->windowTitle(), "Send Invoice Emails");
            EXPECT_FALSE(e->windowFlags() & Qt::WindowCloseButtonHint);
            dmtest::SaveScreenshot(e, "review_email_question");
            e->chkDoNotAsk->setChecked(true);
            e->Button1->click();
        });
        d->btnSend->click();
        EXPECT_TRUE(asked);
        EXPECT_FALSE(d->isVisible());
    });
    ASSERT_TRUE(f.Sync());
    ASSERT_TRUE(reviewed);
    EXPECT_FALSE(f.frame->HadErrors) << f.frame->ErrorText;
    EXPECT_TRUE(f.frame->CloseReceived);
    ASSERT_EQ(f.Chosen().size(), 1u);
    const std::string chosen = f.Chosen()[0];
    EXPECT_EQ(chosen.find("<skipemails>"), std::string::npos) << chosen;
    EXPECT_NE(chosen.find("<sendchoseninvoices><inv><id>5001</id><num>1001</num></inv><inv><id>5002</id><num>1002</num>"
                          "</inv><inv><id>5003</id><num>1003</num></inv><inv><id>5004</id><num>1004</num></inv><inv>"
                          "<id>5005</id><num>1005</num></inv></sendchoseninvoices>"),
              std::string::npos)
        << chosen;
    for (const char* key : {"5001", "5002", "5003", "5004", "5005"}) {
        EXPECT_TRUE(f.Invoice(key)["sent"].get<bool>()) << key;
        EXPECT_TRUE(f.Invoice(key)["emailed"].get<bool>()) << key;
    }
    EXPECT_NE(dmtest::ReadFileBytes(f.app.SettingsFileName()).find("<disablesendinvoiceemailsalert>1<"), std::string::npos);

    // A new invoice with an e-mail in the next session: sent without the question.
    f.Qb({"invoice", "add", "--customer", "Acme Supplies", "--ref", "1006", "--item", "Consulting", "--qty", "1"});
    bool again = false;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = Modal<TUnsentInvoices>(modal);
        if (!d) return;
        TCloseOnReturn closing{d};
        again = true;
        EXPECT_EQ(d->StatusBar1->text(), "1 Unsent Invoice");
        ClickRow(d, 0, 0);
        d->btnSend->click();
        EXPECT_FALSE(d->isVisible()) << "closed without asking";
    });
    ASSERT_TRUE(f.Sync());
    EXPECT_TRUE(again);
    EXPECT_TRUE(f.Invoice("5006")["emailed"].get<bool>());
    EXPECT_NE(dmtest::ReadFileBytes(f.app.SettingsFileName()).find("<disablesendinvoiceemailsalert>1<"), std::string::npos);
}

TEST(Review, NoMailInvoicesAndTheDoNotSendBoxNeverAsk) {
    TReviewFixture f;
    // A sixth invoice, for a customer without an e-mail address (icon 0), the only one ticked:
    // no question.
    f.Qb({"customer", "add", "Cash Sales"});
    f.Qb({"invoice", "add", "--customer", "Cash Sales", "--ref", "1006", "--item", "Consulting", "--qty", "1"});
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = Modal<TUnsentInvoices>(modal);
        if (!d) return;
        TCloseOnReturn closing{d};
        ASSERT_EQ(f.Record(5).emailKind, 0);
        EXPECT_EQ(f.Record(2).emailKind, 2);
        ClickRow(d, 5, 1);
        d->btnSend->click();
        EXPECT_FALSE(d->isVisible());
    });
    ASSERT_TRUE(f.Sync());
    ASSERT_EQ(f.Chosen().size(), 1u);
    EXPECT_NE(f.Chosen()[0].find("<sendchoseninvoices><inv><id>5006</id><num>1006</num></inv></sendchoseninvoices>"),
              std::string::npos)
        << f.Chosen()[0];

    // The box: its message, the no-mail icons, and every ticked invoice goes without e-mails.
    QString message;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = Modal<TUnsentInvoices>(modal);
        if (!d) return;
        TCloseOnReturn closing{d};
        EXPECT_EQ(d->StatusBar1->text(), "5 Unsent Invoices");
        AnswerBox(&message);
        d->chkDoNotSend->click();
        EXPECT_EQ(d->IconSet(), TEmailIconSet::NoMail);
        d->btnCheckAll->click();
        dmtest::SaveScreenshot(d, "review_no_mail_icons");
        d->btnSend->click();
        EXPECT_FALSE(d->isVisible());
    });
    ASSERT_TRUE(f.Sync());
    EXPECT_EQ(message.toStdString(), GuiMessageText(DoNotSendMessage).toStdString());
    ASSERT_EQ(f.Chosen().size(), 2u);
    EXPECT_EQ(f.Chosen()[1].find("<sendchoseninvoices><skipemails>1</skipemails><inv>"), f.Chosen()[1].find("<sendchoseninvoices>"));
    EXPECT_EQ(InvCount(f.Chosen()[1]), 5);
    for (const char* key : {"5001", "5002", "5003", "5004", "5005"}) {
        EXPECT_TRUE(f.Invoice(key)["sent"].get<bool>()) << key;
        EXPECT_FALSE(f.Invoice(key)["emailed"].get<bool>()) << key;
    }
    EXPECT_EQ(dmtest::ReadFileBytes(f.app.SettingsFileName()).find("<disablesendinvoiceemailsalert>1<"), std::string::npos);
}

TEST(Review, CancelEscapeNothingTickedAndTheCloseBox) {
    TReviewFixture f;
    struct Case {
        const char* name;
        std::function<void(TUnsentInvoices*)> act;
        bool sessionGoesOn;
    };
    const std::vector<Case> cases = {
        {"Cancel", [](TUnsentInvoices* d) { d->btnCancel->click(); }, true},
        {"Escape",
         [](TUnsentInvoices* d) {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(d, &escape);
         },
         true},
        {"nothing ticked",
         [](TUnsentInvoices* d) {
             d->btnUncheckAll->click();
             QString question;
             AnswerBox(&question, QMessageBox::No);
             d->btnSend->click();
             EXPECT_TRUE(d->isVisible()) << "No returns to the list";
             EXPECT_EQ(question, GuiMessageText(NothingCheckedQuestion));
             AnswerBox(&question, QMessageBox::Yes);
             d->btnSend->click();
         },
         true},
        {"close box", [](TUnsentInvoices* d) { d->close(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t chosenBefore = f.Chosen().size();
        const size_t closedBefore = f.Bodies("webservices/quickbooks.php", "<closeConnection ").size();
        dmtest::WhenModal([&](QWidget* modal) {
            auto* d = Modal<TUnsentInvoices>(modal);
            if (!d) return;
        TCloseOnReturn closing{d};
            ClickRow(d, 0, 1);
            ClickRow(d, 3, 1);
            c.act(d);
            EXPECT_FALSE(d->isVisible());
        });
        ASSERT_TRUE(f.Sync());
        EXPECT_FALSE(f.frame->HadErrors) << f.frame->ErrorText;
        if (c.sessionGoesOn) {
            EXPECT_EQ(f.Bodies("webservices/quickbooks.php", "<closeConnection ").size(), closedBefore + 1);
            ASSERT_EQ(f.Chosen().size(), chosenBefore + 1);
            EXPECT_EQ(InvCount(f.Chosen().back()), 0) << f.Chosen().back();
        } else {
            EXPECT_EQ(f.Bodies("webservices/quickbooks.php", "<closeConnection ").size(), closedBefore);
            EXPECT_EQ(f.frame->StatusDetail, "Canceling...");
            EXPECT_EQ(f.Chosen().size(), chosenBefore);
        }
        for (const char* key : {"5001", "5004"}) EXPECT_FALSE(f.Invoice(key)["sent"].get<bool>()) << key;
        EXPECT_FALSE(fs::exists(f.dir.Path() / "store" / "uninv.txt"));
    }
}

TEST(Attachments, OrderedByCustomerRowThreeGetsAPdfAndOnlyItsRecordChanges) {
    TReviewFixture f;
    const std::string pdf = f.Pdf("invoice extra.pdf", 3000);
    bool attached = false;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = Modal<TUnsentInvoices>(modal);
        if (!d) return;
        TCloseOnReturn closing{d};
        ClickColumn(d, 2);
        ClickColumn(d, 2);
        EXPECT_EQ(Header(d, 2), "[ Amount ]") << "the same order on a second click";
        ClickColumn(d, 4);
        EXPECT_EQ(Header(d, 2), "[ Amount ]") << "the attachments column orders nothing";
        ClickColumn(d, 1);
        EXPECT_EQ(Header(d, 0), "Invoice #");
        EXPECT_EQ(Header(d, 1), "[ Customer ]");
        EXPECT_EQ(d->SelectedRow(), -1);
        EXPECT_EQ(d->lbxInvoices->model()->index(3, 1).data().toString(), "O'Brien & Sons <UK>");
        std::vector<UnsentInvoiceRecord> before;
        for (int n = 0; n < 5; ++n) before.push_back(f.Record(n));

        dmtest::WhenModal([&](QWidget* m) {
            TAttach* a = OpenedAttachments(m);
            if (!a) return;
            TCloseOnReturn closing{a};
            // No attachments yet: straight to the add panel.
            EXPECT_TRUE(a->AddPanelShown());
            EXPECT_EQ(a->windowTitle(), "Invoice Attachments");
            EXPECT_EQ(a->size(), QSize(681, 481));
            EXPECT_EQ(a->lblNumber->text(), "1002");
            EXPECT_EQ(a->lblCustomer->text(), "O'Brien & Sons <UK>");
            a->txtFilename->setText(QString::fromStdString(pdf));
            a->lbxDisplayMethod->setCurrentIndex(0);
            EXPECT_FALSE(a->txtDescription->isVisible());
            dmtest::SaveScreenshot(a, "attach_add_panel");
            a->btnUpload->click();
            EXPECT_TRUE(a->Waiting());
            ASSERT_TRUE(dmtest::WaitUntil([a] { return a->ListPanelShown(); }));
            ASSERT_EQ(a->lbxAttachments->rowCount(), 1);
            EXPECT_EQ(a->lbxAttachments->item(0, 0)->text(), "In Invoice PDF");
            EXPECT_EQ(a->lbxAttachments->item(0, 2)->text(), "invoice extra.pdf");
            a->btnOK->click();
            attached = true;
        });
        ClickRow(d, 3, 4);
        EXPECT_EQ(d->lbxInvoices->model()->index(3, 4).data().toString(), "1");
        for (int n = 0; n < 5; ++n) {
            UnsentInvoiceRecord r = f.Record(n);
            EXPECT_EQ(r.attachmentCount, n == 1 ? 1 : before[static_cast<size_t>(n)].attachmentCount) << n;
            EXPECT_EQ(r.checked, before[static_cast<size_t>(n)].checked) << n;
        }
        d->btnCancel->click();
    });
    ASSERT_TRUE(f.Sync());
    ASSERT_TRUE(attached);
    const json atts = f.Invoice("5002")["attachments"];
    ASSERT_EQ(atts.size(), 1u);
    EXPECT_EQ(atts[0]["filename"], "invoice extra.pdf");
    EXPECT_EQ(atts[0]["render"], 1);
    EXPECT_EQ(atts[0]["size"], 3000);
    ASSERT_EQ(f.Updates().size(), 1u);
    EXPECT_NE(f.Updates()[0].find("<request><biller><authenticate><id>1001</id><password>demo</password>"),
              std::string::npos);
}

TEST(Attachments, ListPanelMovesDeletesAndRefusesABlankLinkText) {
    TReviewFixture f;
    const std::string pdf = f.Pdf("link.pdf", 500);
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = Modal<TUnsentInvoices>(modal);
        if (!d) return;
        TCloseOnReturn closing{d};
        // 1003: one file in each display method.
        dmtest::WhenModal([&](QWidget* m) {
            TAttach* a = OpenedAttachments(m);
            if (!a) return;
            TCloseOnReturn closing{a};
            ASSERT_TRUE(a->ListPanelShown());
            ASSERT_EQ(a->lbxAttachments->rowCount(), 3);
            EXPECT_EQ(a->lbxAttachments->item(0, 0)->text(), "File View Link");
            EXPECT_EQ(a->lbxAttachments->item(0, 3)->text(), "Our terms");
            EXPECT_EQ(a->lbxAttachments->item(1, 0)->text(), "In Invoice PDF");
            EXPECT_EQ(a->lbxAttachments->item(2, 0)->text(), "In Invoice PDF");
            EXPECT_EQ(a->lbxAttachments->item(2, 1)->text(), "512 bytes");
            dmtest::SaveScreenshot(a, "attach_list_panel");
            a->lbxAttachments->selectRow(0);
            a->btnMoveUpClick();
            a->lbxAttachments->selectRow(2);
            a->btnMoveDownClick();
            EXPECT_FALSE(a->ChangesPending());
            EXPECT_EQ(a->lbxAttachments->item(0, 2)->text(), "terms.pdf");
            a->lbxAttachments->selectRow(1);
            a->btnMoveUpClick();
            EXPECT_TRUE(a->ChangesPending());
            EXPECT_EQ(a->lbxAttachments->item(0, 2)->text(), "timesheet.pdf");
            EXPECT_EQ(a->lbxAttachments->selectionModel()->selectedRows().value(0).row(), 0);
            a->btnOK->click();
            EXPECT_TRUE(dmtest::WaitUntil([a] { return !a->isVisible(); }));
        });
        ClickRow(d, 2, 4);
        ASSERT_EQ(f.Updates().size(), 1u);
        EXPECT_NE(f.Updates()[0].find("<invoiceupdate><attachment><internalid>2</internalid><changedisplayorder>1<"
                                      "/changedisplayorder></attachment><attachment><internalid>1</internalid>"
                                      "<changedisplayorder>2</changedisplayorder></attachment><attachment><internalid>3"
                                      "</internalid><changedisplayorder>3</changedisplayorder></attachment><futureid>"
                                      "5003</futureid></invoiceupdate>"),
                  std::string::npos)
            << f.Updates()[0];
        EXPECT_EQ(f.Record(2).attachmentCount, 3);

        // 1004: its only file deleted.
        dmtest::WhenModal([&](QWidget* m) {
            TAttach* a = OpenedAttachments(m);
            if (!a) return;
            TCloseOnReturn closing{a};
            ASSERT_EQ(a->lbxAttachments->rowCount(), 1);
            a->lbxAttachments->selectRow(0);
            a->Button1->click();
            EXPECT_EQ(a->lbxAttachments->rowCount(), 0);
            EXPECT_TRUE(a->lbxAttachments->selectionModel()->selectedRows().isEmpty());
            a->btnOK->click();
            EXPECT_TRUE(dmtest::WaitUntil([a] { return !a->isVisible(); }));
        });
        ClickRow(d, 3, 4);
        ASSERT_EQ(f.Updates().size(), 2u);
        EXPECT_NE(f.Updates()[1].find("<invoiceupdate><attachment><internalid>att_5004_1</internalid><delete>1</delete>"
                                      "</attachment><futureid>5004</futureid></invoiceupdate>"),
                  std::string::npos)
            << f.Updates()[1];
        EXPECT_EQ(f.Record(3).attachmentCount, 0);

        // 1001: a link with blanks for its text is refused; Cancel closes an empty list.
        dmtest::WhenModal([&](QWidget* m) {
            TAttach* a = OpenedAttachments(m);
            if (!a) return;
            TCloseOnReturn closing{a};
            ASSERT_TRUE(a->AddPanelShown());
            a->txtFilename->setText(QString::fromStdString(pdf));
            a->lbxDisplayMethod->setCurrentIndex(1);
            EXPECT_FALSE(a->txtDescription->isHidden());
            a->txtDescription->setText("  ");
            QString text;
            AnswerBox(&text);
            a->btnUpload->click();
            EXPECT_EQ(text, "Please enter the 'View Text Link' description for this attachment.");
            EXPECT_TRUE(a->AddPanelShown());
            a->btnCancelUpload->click();
            EXPECT_FALSE(a->isVisible());
        });
        ClickRow(d, 0, 4);
        EXPECT_EQ(f.Updates().size(), 2u);
        d->btnCancel->click();
    });
    ASSERT_TRUE(f.Sync());
    std::vector<std::string> order;
    const json attachments = f.Invoice("5003")["attachments"];
    for (const json& a : attachments) order.push_back(a["filename"]);
    EXPECT_EQ(order, (std::vector<std::string>{"timesheet.pdf", "terms.pdf", "photos.pdf"}));
    EXPECT_TRUE(f.Invoice("5004")["attachments"].empty());
}

// What the list says may still be attached decides before anything is sent; the service has
// the last word; a request that fails closes the dialog and leaves the row's count alone.
TEST(Attachments, RemainingSizeAndFailedRequests) {
    struct Case {
        const char* name;
        json account;
        json faults;
        size_t fileSize;
        const char* chosenMessage;   // when the file is refused as it is chosen
        const char* uploadMessage;   // when the service refuses it
        int attachedAfter;           // files on the invoice afterwards
    };
    const std::vector<Case> cases = {
        {"no remainingsize", {{"omit_remaining_size", true}}, json::array(), 1,
         "The file you have selected exceeds the maximum invoice attachment size.", nullptr, 0},
        {"exactly the remaining size", {{"remaining_size", "400"}}, json::array(), 400, nullptr, nullptr, 1},
        {"one byte more", {{"remaining_size", "400"}}, json::array(), 401,
         "The file you have selected exceeds the maximum invoice attachment size.", nullptr, 0},
        {"the service refuses it", {{"remaining_size", "100000"}, {"attachment_limit", 300}}, json::array(), 400,
         nullptr, "The file you attached exceeds the allowed invoice attachment size.", 0},
        {"the list request fails", json::object(), json::array({{{"step", "attachments"}, {"drop", true}}}), 0, nullptr,
         nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TReviewFixture f(c.account, c.faults);
        const std::string pdf = f.Pdf("a.pdf", c.fileSize);
        dmtest::WhenModal([&](QWidget* modal) {
            auto* d = Modal<TUnsentInvoices>(modal);
            if (!d) return;
        TCloseOnReturn closing{d};
            const int countBefore = f.Record(2).attachmentCount;
            // 1001 has no files; for the failing request 1003 with its three. A failed request
            // closes the dialog by itself.
            const bool failing = !c.faults.empty();
            if (!failing) dmtest::WhenModal([&](QWidget* m) {
                TAttach* a = OpenedAttachments(m);
                if (!a) return;
                TCloseOnReturn closing{a};
                ASSERT_TRUE(a->AddPanelShown());
                QString text;
                if (c.chosenMessage) AnswerBox(&text);
                a->txtFilename->setText(QString::fromStdString(pdf));
                if (c.chosenMessage) {
                    EXPECT_EQ(text.toStdString(), c.chosenMessage);
                    EXPECT_TRUE(a->txtFilename->text().isEmpty());
                    a->btnCancelUpload->click();
                    return;
                }
                a->lbxDisplayMethod->setCurrentIndex(0);
                if (c.uploadMessage) AnswerBox(&text);
                a->btnUpload->click();
                ASSERT_TRUE(dmtest::WaitUntil([a] { return !a->Waiting(); }));
                if (c.uploadMessage) {
                    EXPECT_EQ(text.toStdString(), c.uploadMessage);
                    EXPECT_TRUE(a->AddPanelShown()) << "the list, loaded again, is still empty";
                    a->btnCancelUpload->click();
                } else {
                    EXPECT_TRUE(a->ListPanelShown());
                    a->btnOK->click();
                }
            });
            ClickRow(d, failing ? 2 : 0, 4);
            if (failing) EXPECT_EQ(f.Record(2).attachmentCount, countBefore);
            else EXPECT_EQ(f.Record(0).attachmentCount, c.attachedAfter);
            d->btnCancel->click();
        });
        ASSERT_TRUE(f.Sync());
        if (c.faults.empty()) EXPECT_EQ(f.Invoice("5001")["attachments"].size(), static_cast<size_t>(c.attachedAfter));
    }
}

// The service may give a new file the key of one deleted before: a delete already saved must
// not go out again with the next save, or it would remove the new file.
TEST(Attachments, ASavedDeleteIsNotSentAgain) {
    TReviewFixture f;
    const std::string pdf = f.Pdf("replacement.pdf", 800);
    std::string helpOpened;
    ShellOpener previous = SetShellOpener([&](const std::string& target) { helpOpened = target; });
    dmtest::WhenModal([&](QWidget* modal) {
        auto* d = Modal<TUnsentInvoices>(modal);
        if (!d) return;
        TCloseOnReturn closing{d};
        dmtest::WhenModal([&](QWidget* m) {
            TAttach* a = OpenedAttachments(m);
            if (!a) return;
            TCloseOnReturn closing{a};
            ASSERT_EQ(a->lbxAttachments->rowCount(), 3);
            a->lbxAttachments->selectRow(2); // photos.pdf, the newest key
            a->Button1->click();
            EXPECT_EQ(a->lbxAttachments->selectionModel()->selectedRows().value(0).row(), 1);
            a->btnAdd->click(); // saves, then the add panel
            ASSERT_TRUE(dmtest::WaitUntil([a] { return a->AddPanelShown(); }));
            a->lblHelpClick();
            a->txtFilename->setText(QString::fromStdString(pdf));
            a->lbxDisplayMethod->setCurrentIndex(0);
            a->btnUpload->click();
            ASSERT_TRUE(dmtest::WaitUntil([a] { return a->ListPanelShown(); }));
            ASSERT_EQ(a->lbxAttachments->rowCount(), 3);
            a->lbxAttachments->selectRow(2);
            a->btnMoveUpClick();
            a->btnOK->click();
            EXPECT_TRUE(dmtest::WaitUntil([a] { return !a->isVisible(); }));
        });
        ClickRow(d, 2, 4);
        EXPECT_EQ(f.Record(2).attachmentCount, 3);
        d->btnCancel->click();
    });
    ASSERT_TRUE(f.Sync());
    SetShellOpener(previous);
    EXPECT_EQ(helpOpened, f.app.BaseUrl + "merchants/invoice_attach_pdf_info.html");
    const std::vector<std::string> updates = f.Updates();
    ASSERT_EQ(updates.size(), 3u); // the delete, the new file, the new order
    EXPECT_NE(updates[0].find("<internalid>att_5003_3</internalid><delete>1</delete>"), std::string::npos) << updates[0];
    EXPECT_EQ(updates[2].find("<delete>"), std::string::npos) << updates[2];
    std::vector<std::string> order;
    const json attachments = f.Invoice("5003")["attachments"];
    for (const json& a : attachments) order.push_back(a["filename"]);
    EXPECT_EQ(order, (std::vector<std::string>{"terms.pdf", "replacement.pdf", "timesheet.pdf"}));
}
