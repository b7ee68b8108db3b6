// The company-file-not-found dialog: its page with the values shown as text, each link with its
// question, and the three choices carried out by a real session's follow-up.

#include "gui/dialogs/QBFileNotFound.h"
#include "gui/main/GuiPrompts.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>
#include <httplib.h>

using namespace dm;
using dmtest::Account;
using nlohmann::json;

namespace {

// A real click on the link with this text, where the page shows it.
void ClickLink(TQBFileNotFound& dialog, const QString& text) {
    QTextCursor found = dialog.Web->document()->find(text);
    ASSERT_FALSE(found.isNull()) << text.toStdString();
    QTextCursor middle(dialog.Web->document());
    middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
    const QPoint at = dialog.Web->cursorRect(middle).center();
    QWidget* viewport = dialog.Web->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(viewport, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(viewport, &release);
}

struct Asked {
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Answers the message box the next click opens.
void AnswerBox(QMessageBox::StandardButton press, std::vector<Asked>& asked) {
    dmtest::WhenModal([press, &asked](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        asked.push_back({box->text(), box->standardButtons()});
        box->button(press)->click();
    });
}

const QString LinkText = "Link to New Company File Location";

} // namespace

TEST(FileNotFound, EachLinkWithItsQuestion) {
    struct Case {
        const char* name;
        // Each click: the link and the answer to its question (NoButton: none is asked).
        std::vector<std::pair<QString, QMessageBox::StandardButton>> clicks;
        bool disable, remove, link;
    } cases[] = {
        {"remove, No then Yes", {{"Remove Account", QMessageBox::No}, {"Remove Account", QMessageBox::Yes}}, false, true,
         false},
        {"link, Cancel then OK", {{LinkText, QMessageBox::Cancel}, {LinkText, QMessageBox::Ok}}, false, false, true},
        {"No to remove, then disable", {{"Remove Account", QMessageBox::No}, {"Disable Auto Sync", QMessageBox::NoButton}},
         true, false, false},
        {"the close box", {}, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TGuiPrompts prompts;
        TQBFileNotFound dialog(prompts);
        std::vector<Asked> asked;
        dmtest::WhenModal([&](QWidget* modal) {
            ASSERT_EQ(modal, &dialog);
            for (size_t i = 0; i < c.clicks.size(); ++i) {
                const auto& [link, answer] = c.clicks[i];
                if (answer != QMessageBox::NoButton) AnswerBox(answer, asked);
                ClickLink(dialog, link);
                if (i + 1 < c.clicks.size()) EXPECT_TRUE(dialog.isVisible()) << "No and Cancel keep the page";
            }
            if (c.clicks.empty()) dialog.close();
        });
        dialog.ShowFileNotFound("/home/ann/Harbour.QBW", "Harbour Supplies", "1001");
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.ChoseDisable, c.disable);
        EXPECT_EQ(dialog.ChoseRemove, c.remove);
        EXPECT_EQ(dialog.ChoseLink, c.link);
        for (const Asked& a : asked) {
            if (a.buttons == (QMessageBox::Yes | QMessageBox::No)) {
                EXPECT_EQ(a.text.toStdString(), RemoveAccountQuestion);
            } else {
                EXPECT_EQ(a.buttons, QMessageBox::Ok | QMessageBox::Cancel);
                EXPECT_EQ(a.text, "Open the company file in QuickBooks you want to link your \nInvara account to then "
                                  "click the OK button to continue.");
            }
        }
    }
}

TEST(FileNotFound, ValuesFromTheServiceShowAsText) {
    TGuiPrompts prompts;
    TQBFileNotFound dialog(prompts);
    EXPECT_EQ(dialog.windowTitle(), "QuickBooks Company File Not Found");
    EXPECT_EQ(dialog.size(), QSize(499, 453));
    dmtest::WhenModal([&](QWidget*) {
        const QString text = dialog.Web->toPlainText();
        EXPECT_TRUE(text.contains("Your Invara account for <b>& Sons (Biller #10<01) is linked to a specific company "
                                  "file which was located at:"))
            << text.toStdString();
        EXPECT_TRUE(text.contains("C:/Files/<i>Harbour&amp;.QBW"));
        // The name's "<b>" made nothing bold after it.
        QTextCursor after = dialog.Web->document()->find("is linked to");
        EXPECT_LT(after.charFormat().fontWeight(), QFont::Bold);
        dmtest::SaveScreenshot(&dialog, "file_not_found");
        dialog.close();
    });
    dialog.ShowFileNotFound("C:/Files/<i>Harbour&amp;.QBW", "<b>& Sons", "10<01");
    EXPECT_NE(FileNotFoundPage("a", "<b>&", "1").find("for &lt;b&gt;&amp; (Biller #1)"), std::string::npos);
}

// The choices carried out by the biller's frame after a session that named a missing file.
TEST(FileNotFound, ChoicesReachTheBiller) {
    for (const char* choice : {"Disable Auto Sync", "Remove Account", "Link to New Company File Location"}) {
        SCOPED_TRACE(choice);
        dmtest::TWindowFixture f(json::array({Account("ann", "Harbour Supplies", "1001")}),
                                 json::array({json{{"operation", "authenticate"}, {"company_file", "/no/such/Co.QBW"}}}));
        TGuiPrompts prompts;
        TMainEngine engine(f.app, prompts);
        BillerRecord record;
        record.name = "Harbour Supplies";
        record.id = "1001";
        record.username = "ann";
        record.password = "demo";
        record.autosync = true;
        record.paymentnotify = true;
        TSync* frame = engine.AddBiller(record);
        ASSERT_TRUE(dmtest::WaitUntil([&] { return !frame->Confirming; }));
        int finished = 0;
        QObject::connect(&engine, &TMainEngine::sessionFinished, [&](TSync*) { ++finished; });

        std::vector<Asked> asked;
        std::string path;
        dmtest::WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<TQBFileNotFound*>(modal);
            ASSERT_NE(dialog, nullptr);
            path = dialog->FilePath;
            if (QString(choice) != "Disable Auto Sync")
                AnswerBox(QString(choice) == LinkText ? QMessageBox::Ok : QMessageBox::Yes, asked);
            ClickLink(*dialog, choice);
        });
        frame->btnSyncNowClick(true);
        const int sessions = QString(choice) == LinkText ? 2 : 1;
        ASSERT_TRUE(dmtest::WaitUntil([&] { return finished >= sessions && !engine.SyncInProgress(); },
                                      std::chrono::seconds(30)));
        EXPECT_EQ(path, "/no/such/Co.QBW");

        std::vector<std::string> authentications;
        httplib::Client client("127.0.0.1", f.service->Port());
        for (const json& r : json::parse(client.Get("/_test/requests")->body))
            if (r.value("operation", "") == "authenticate") authentications.push_back(r.value("body", ""));
        const std::string reset = "<resetcompanyfilepath>1</resetcompanyfilepath>";
        if (QString(choice) == "Disable Auto Sync") {
            EXPECT_FALSE(frame->Biller.autosync);
            EXPECT_FALSE(frame->Biller.paymentnotify);
            EXPECT_EQ(authentications.size(), 1u);
        } else if (QString(choice) == "Remove Account") {
            EXPECT_TRUE(dmtest::WaitUntil([&] { return engine.Billers().empty(); }));
        } else {
            ASSERT_EQ(authentications.size(), 2u) << "the next session starts at once";
            EXPECT_EQ(authentications[0].find(reset), std::string::npos);
            EXPECT_NE(authentications[1].find(reset), std::string::npos);
            EXPECT_FALSE(engine.Billers().front()->HadErrors) << engine.Billers().front()->ErrorText;
            EXPECT_TRUE(frame->Biller.autosync);
        }
    }
}
