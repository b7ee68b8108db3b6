// The status strip, pixel by pixel at its fixed coordinates, and its
// buttons in each account state.

#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"
#include "gui/sync/SyncView.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QDir>
#include <QFontMetrics>
#include <QCoreApplication>
#include <QPainter>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

using namespace dm;

namespace {

// A frame whose state the tests set by hand; its confirmation goes nowhere.
struct StripFixture {
    dmtest::TempDir dir;
    TAppState app;
    dmtest::TScriptedPrompts prompts;
    std::unique_ptr<TMainEngine> engine;
    TSync* frame;

    StripFixture() {
        app.BaseUrl = "http://127.0.0.1:9/";
        ComposeUrls(app);
        app.StorageFolder = dir.Folder();
        engine = std::make_unique<TMainEngine>(app, prompts);
        BillerRecord r;
        r.name = "Demo Co";
        r.id = "1001";
        r.username = "demo";
        frame = engine->AddBiller(r);
        // Idle, confirmed, never synchronised.
        frame->Confirming = false;
        frame->Layout = TSync::TButtonLayout::Confirmed;
        frame->Biller.smartsync = false;
    }

    QImage Render(int loginWidth = -1, int width = 800) const {
        QImage image(width, 33, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter p(&image);
        PaintSyncStatus(p, image.size(), *frame, app, loginWidth);
        return image;
    }
};

QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

// The background of a strip 33 high: window colour, four bands, two lines at the bottom.
QColor Background(int y, bool vista = true) {
    if (!vista || y < 8) return Qt::white;
    if (y == 31) return QColor(237, 237, 237);
    if (y == 32) return QColor(224, 224, 224);
    if (y < 12) return QColor(250, 250, 250);
    if (y < 16) return QColor(248, 248, 248);
    if (y < 20) return QColor(246, 246, 246);
    return QColor(244, 244, 244);
}

using Ink = std::function<bool(QColor)>;
bool Green(QColor c) { return c.green() > c.red() + 40 && c.green() > c.blue() + 40; }
bool DarkRed(QColor c) { return c.red() > c.green() + 40 && c.red() > c.blue() + 40; }
bool Dark(QColor c) { return c.red() < 110 && c.green() < 110 && c.blue() < 110; }
bool White(QColor c) { return c == QColor(Qt::white); }

// The box around every pixel of the ink in the area, or nothing when there is none.
std::optional<QRect> InkBox(const QImage& image, const Ink& ink, QRect area) {
    area &= image.rect();
    std::optional<QRect> box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (ink(At(image, x, y))) box = box ? box->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
    return box;
}

// The text's ink starts at x and is as wide as the text in that font.
void ExpectText(const QImage& image, const Ink& ink, QRect area, int x, const QFont& font, const QString& text) {
    std::optional<QRect> box = InkBox(image, ink, area);
    ASSERT_TRUE(box) << text.toStdString();
    const int advance = QFontMetrics(font).horizontalAdvance(text);
    EXPECT_NEAR(box->left(), x, 2) << text.toStdString();
    EXPECT_NEAR(box->right(), x + advance, 4) << text.toStdString();
}

} // namespace

TEST(SyncStrip, NeverSynchronisedShowsOnlyTheBackground) {
    StripFixture f;
    for (bool vista : {true, false}) {
        f.app.IsVistaOrLater = vista;
        QImage image = f.Render();
        for (int y = 0; y < 33; ++y)
            for (int x = 0; x < image.width(); x += 7)
                ASSERT_EQ(At(image, x, y), Background(y, vista)) << "vista " << vista << " at " << x << "," << y;
    }
}

TEST(SyncStrip, ProgressBarFillEndsAtThreeTimesThePercentage) {
    StripFixture f;
    f.frame->Phase = TSync::phReceiveResponse;
    const QColor blue(0, 0, 255), frameTop(200, 200, 200);
    struct Case {
        int percentage;
        int end; // first column after the fill
    };
    for (Case c : {Case{37, 345}, Case{100, 534}, Case{150, 534}, Case{1, 237}}) {
        f.frame->Percentage = c.percentage;
        QImage image = f.Render();
        SCOPED_TRACE(c.percentage);
        EXPECT_EQ(At(image, 236, 7), blue);
        EXPECT_EQ(At(image, c.end - 1, 7), blue);
        EXPECT_EQ(At(image, c.end, 7), c.end == 534 ? Background(7) : frameTop);
        EXPECT_EQ(At(image, c.end - 1, 12), blue) << "the last column keeps the outer blue";
        for (QPoint corner : {QPoint(235, 6), QPoint(235, 14), QPoint(532, 6), QPoint(532, 14)})
            EXPECT_EQ(At(image, corner.x(), corner.y()), QColor(Qt::white)) << corner.x() << "," << corner.y();
    }

    f.frame->Percentage = 37;
    QImage image = f.Render();
    // The fill shades darker from the top; the frame lightens.
    EXPECT_EQ(At(image, 300, 6), blue);
    EXPECT_EQ(At(image, 300, 8), QColor(0, 0, 190));
    EXPECT_EQ(At(image, 300, 10), QColor(0, 0, 170));
    EXPECT_EQ(At(image, 300, 12), QColor(0, 0, 150));
    EXPECT_EQ(At(image, 300, 15), blue);
    EXPECT_EQ(At(image, 300, 16), Background(16)) << "the bar ends above row 16";
    EXPECT_EQ(At(image, 400, 8), frameTop);
    EXPECT_EQ(At(image, 400, 9), QColor(205, 205, 205));
    EXPECT_EQ(At(image, 400, 10), QColor(210, 210, 210));
    EXPECT_EQ(At(image, 400, 15), QColor(220, 220, 220));
    EXPECT_EQ(At(image, 234, 10), Background(10));

    f.frame->Percentage = 0;
    EXPECT_EQ(At(f.Render(), 236, 7), frameTop) << "no fill at 0 percent";

    f.app.IsVistaOrLater = false;
    f.frame->Percentage = 37;
    image = f.Render();
    EXPECT_EQ(At(image, 300, 10), blue);
    EXPECT_EQ(At(image, 400, 10), QColor(192, 192, 192));
    EXPECT_EQ(At(image, 344, 10), blue);
    EXPECT_EQ(At(image, 345, 10), QColor(192, 192, 192));
}

TEST(SyncStrip, SessionDetailAndRedirectLabel) {
    StripFixture f;
    f.frame->Phase = TSync::phSendRequest;
    f.frame->Percentage = 50;
    f.frame->StatusDetail = "Opening QuickBooks company file...";
    QImage plain = f.Render();
    ExpectText(plain, Dark, QRect(200, 16, 600, 17), 235, FormFont(8, true), QStringLiteral("Opening QuickBooks company file..."));
    EXPECT_FALSE(InkBox(plain, Dark, QRect(536, 0, 264, 33))) << "no label without a redirect";

    f.frame->RedirectLabel = "eu2/";
    QImage image = f.Render();
    const QFont font = FormFont(10, true);
    const int w = QFontMetrics(font).horizontalAdvance(QStringLiteral(" eu2/ "));
    const int h = QFontMetrics(font).height();
    EXPECT_EQ(At(image, 541, 0), QColor(Qt::black));
    EXPECT_EQ(At(image, 540 + w, 0), QColor(Qt::black));
    EXPECT_EQ(At(image, 541, h + 1), QColor(Qt::black));
    EXPECT_EQ(At(image, 542, 5), QColor(Qt::black)) << "solid black behind the label";
    std::optional<QRect> red = InkBox(image, [](QColor c) { return c.red() > 150 && c.green() < 80; }, QRect(536, 0, 264, 33));
    ASSERT_TRUE(red);
    EXPECT_GT(red->left(), 540);
    EXPECT_LT(red->right(), 540 + w);
    dmtest::SaveImage(image, "sync_strip_session_redirect");
}

TEST(SyncStrip, ConfirmingNoteWithTheUsualInformationBesideIt) {
    StripFixture f;
    f.frame->Confirming = true;
    QImage alone = f.Render();
    ExpectText(alone, Dark, QRect(0, 8, 230, 25), 6, FormFont(10, false), QStringLiteral("Confirming account..."));
    EXPECT_FALSE(InkBox(alone, Dark, QRect(235, 0, 565, 33)));

    f.frame->Biller.lastsync = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));
    QImage idle = f.Render();
    ExpectText(idle, Green, QRect(230, 14, 570, 19), 235, FormFont(8, true),
               QStringLiteral("Last sync completed successfully."));

    f.frame->Phase = TSync::phAuthenticate;
    f.frame->Percentage = 10;
    QImage session = f.Render();
    EXPECT_EQ(At(session, 240, 7), QColor(0, 0, 255)) << "a session's bar beside the note";
    dmtest::SaveImage(idle, "sync_strip_confirming_idle");
    dmtest::SaveImage(session, "sync_strip_confirming_session");
}

TEST(SyncStrip, BlockedShowsOnlyItsMessageRightOfLogin) {
    StripFixture f;
    f.frame->Blocked = true;
    f.frame->BlockedText = "Your Invara account has been canceled.";
    f.frame->Phase = TSync::phSendRequest; // not drawn while blocked
    f.frame->Percentage = 50;
    f.frame->Biller.lastsync = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));
    const QString text = QStringLiteral("Your Invara account has been canceled.");
    for (auto [loginWidth, x] : {std::pair{53, 63}, std::pair{-1, 5}}) {
        SCOPED_TRACE(loginWidth);
        QImage image = f.Render(loginWidth);
        ExpectText(image, [](QColor c) { return c.red() > 60 && c.green() < 40 && c.blue() < 40; },
                   QRect(0, 0, 800, 33), x, FormFont(10, true), text);
        std::optional<QRect> shadow = InkBox(image, White, QRect(0, 8, 800, 25));
        ASSERT_TRUE(shadow);
        // The white copy lies one pixel right and down; the red one covers most of it.
        EXPECT_GT(shadow->left(), x);
        EXPECT_LT(shadow->left(), x + 10);
        EXPECT_EQ(At(image, 300, 7), Background(7)) << "no progress bar";
        EXPECT_FALSE(InkBox(image, Green, QRect(0, 0, 800, 33)));
        dmtest::SaveImage(image, loginWidth < 0 ? "sync_strip_blocked" : "sync_strip_blocked_with_login");
    }
}

TEST(SyncStrip, IdleLinesAfterASession) {
    const QDateTime lastsync(QDate(2026, 3, 14), QTime(9, 26, 53));
    struct Case {
        const char* name;
        std::function<void(TSync&, TAppState&)> setup;
        Ink ink;
        int x, y;
        QFont font;
        QString text; // empty: nothing is drawn
    };
    const QFont bold7 = FormFont(7, true), bold8 = FormFont(8, true), regular8 = FormFont(8, false);
    const std::vector<Case> cases{
        {"success", [](TSync&, TAppState&) {}, Green, 235, 16, bold8, QStringLiteral("Last sync completed successfully.")},
        {"success with smart sync",
         [](TSync& s, TAppState&) {
             s.Biller.smartsync = true;
             s.StatusText = "Smart sync: next check in 25 seconds";
         },
         Green, 235, 16, bold8, QStringLiteral("Smart sync: next check in 25 seconds")},
        {"another file open",
         [](TSync& s, TAppState&) {
             s.HadErrors = s.OtherFileOpen = true;
             s.ErrorText = "QB Error: another";
         },
         Green, 235, 16, regular8, QStringLiteral("Unable to sync while another company file is open in QuickBooks.")},
        {"general with a text",
         [](TSync& s, TAppState&) {
             s.HadErrors = true;
             s.ErrorText = "Unable to communicate with server.";
         },
         DarkRed, 245, 17, bold7, QStringLiteral("Unable to communicate with server.")},
        {"general without a text", [](TSync& s, TAppState&) { s.HadErrors = true; }, DarkRed, 245, 17, bold7,
         QStringLiteral("Last sync experienced errors. View log for details.")},
        {"general without a text, hosted",
         [](TSync& s, TAppState& a) {
             s.HadErrors = true;
             a.HostedPartner = "cloud9";
         },
         DarkRed, 245, 17, bold7, QStringLiteral("Last sync experienced errors.")},
        {"access not granted",
         [](TSync& s, TAppState&) {
             s.HadErrors = true;
             s.ErrorKind = TSync::ekAccessNotGranted;
             s.ErrorText = "ignored";
         },
         DarkRed, 245, 17, bold7, QStringLiteral("Access to QuickBooks company file not granted.")},
        {"request failed",
         [](TSync& s, TAppState&) {
             s.HadErrors = true;
             s.ErrorKind = TSync::ekProcessRequestFailed;
         },
         DarkRed, 245, 17, bold7, QStringLiteral("QuickBooks encountered an error processing the request.")},
        {"unknown kind",
         [](TSync& s, TAppState&) {
             s.HadErrors = true;
             s.ErrorKind = 9;
         },
         DarkRed, 245, 17, bold7, QString()},
    };
    QImage sheet(800, 34 * static_cast<int>(cases.size()), QImage::Format_RGB32);
    sheet.fill(Qt::darkGray);
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StripFixture f;
        f.frame->Biller.lastsync = lastsync;
        c.setup(*f.frame, f.app);
        QImage image = f.Render();
        QPainter(&sheet).drawImage(0, 34 * row++, image);
        if (c.text.isEmpty()) {
            for (int y = 0; y < 33; ++y)
                for (int x = 0; x < 800; x += 3) ASSERT_EQ(At(image, x, y), Background(y)) << x << "," << y;
            continue;
        }
        ExpectText(image, c.ink, QRect(c.x, c.y - 2, 800, 33 - c.y + 2), c.x, c.font, c.text);
        const bool failed = c.x == 245;
        if (failed) {
            EXPECT_TRUE(DarkRed(At(image, 238, 22)) || At(image, 238, 22).red() > 150) << "the failure mark at (233, 17)";
        } else {
            EXPECT_FALSE(DarkRed(At(image, 238, 22)));
        }
        // Only a success adds when it happened, in the window text colour at (236, 4).
        std::optional<QRect> when = InkBox(image, Dark, QRect(230, 2, 570, 13));
        if (std::string(c.name).rfind("success", 0) == 0) {
            ASSERT_TRUE(when);
            EXPECT_NEAR(when->left(), 236, 2);
            EXPECT_NEAR(when->right(), 236 + QFontMetrics(regular8).horizontalAdvance(LastSyncText(lastsync)), 4);
        } else {
            EXPECT_FALSE(when) << "no completion line after errors";
        }
    }
    dmtest::SaveImage(sheet, "sync_strip_idle_lines");
}

TEST(SyncView, ButtonsOfEachAccountState) {
    StripFixture f;
    TSyncView view(*f.frame, *f.engine, f.prompts);
    view.resize(624, 33);
    view.show();
    using L = TSync::TButtonLayout;
    struct Case {
        L layout;
        int login, sync, options, remove; // left edges, -1 for hidden
    };
    for (Case c : {Case{L::Confirming, -1, -1, -1, -1}, Case{L::Confirmed, 4, 60, 113, 170},
                   Case{L::Suspended, 4, -1, -1, 567}, Case{L::Canceled, -1, -1, -1, 567}}) {
        f.frame->Layout = c.layout;
        emit f.frame->changed();
        SCOPED_TRACE(static_cast<int>(c.layout));
        for (auto [button, left] : {std::pair{view.btnControlPanel, c.login}, std::pair{view.btnSyncNow, c.sync},
                                    std::pair{view.btnSyncOptions, c.options}, std::pair{view.btnRemove, c.remove}}) {
            EXPECT_EQ(button->isVisibleTo(&view), left >= 0) << button->text().toStdString();
            if (left >= 0) EXPECT_EQ(button->geometry(), QRect(left, 4, button->width(), 25)) << button->text().toStdString();
        }
    }
    EXPECT_EQ(view.btnControlPanel->size(), QSize(53, 25));
    EXPECT_EQ(view.btnSyncNow->size(), QSize(49, 25));
    view.resize(700, 33);
    EXPECT_EQ(view.btnRemove->x(), 700 - 53 - 4) << "Remove keeps to the right edge";

    f.frame->Layout = L::Confirmed;
    f.frame->Phase = TSync::phSendRequest;
    emit f.frame->changed();
    EXPECT_FALSE(view.btnSyncNow->isEnabled());
    EXPECT_FALSE(view.btnRemove->isEnabled());
    EXPECT_TRUE(view.btnControlPanel->isEnabled());
    f.frame->Phase = TSync::phIdle;
    emit f.frame->changed();
    EXPECT_TRUE(view.btnSyncNow->isEnabled());
    EXPECT_TRUE(view.btnRemove->isEnabled());
}

TEST(SyncView, ButtonsPassTheUsersCommandsOn) {
    StripFixture f;
    TSyncView view(*f.frame, *f.engine, f.prompts);
    f.frame->Layout = TSync::TButtonLayout::Confirmed;
    emit f.frame->changed();

    // Sync is the user's click: while another biller synchronises the user is told so.
    f.engine->SetSyncInProgress(true);
    view.btnSyncNow->click();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_NE(f.prompts.messages[0].find("Only one business can be synchronized at a time"), std::string::npos);
    f.engine->SetSyncInProgress(false);

    f.prompts.answers = {TAnswer::No, TAnswer::Yes};
    view.btnRemove->click();
    ASSERT_EQ(f.prompts.questions.size(), 1u);
    EXPECT_EQ(f.prompts.questions[0], RemoveBillerQuestion);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.engine->Billers().size(), 1u) << "No keeps the biller";
    view.btnRemove->click();
    EXPECT_TRUE(dmtest::WaitUntil([&] { return f.engine->Billers().empty(); }));
    view.update(); // paints nothing once the frame has gone
    QCoreApplication::processEvents();
}

namespace {

double Luminance(QColor c) {
    auto channel = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

// The contrast of the darkest ink against the lightest background in the area.
double Contrast(const QImage& image, QRect area) {
    double light = 0, dark = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const double l = Luminance(image.pixelColor(x, y));
            light = std::max(light, l);
            dark = std::min(dark, l);
        }
    return (light + 0.05) / (dark + 0.05);
}

} // namespace

// A dark desktop theme changes the palette, not the strip's fixed bands: the text keeps to the
// bands' colours and stays readable.
TEST(SyncView, ReadableInADarkTheme) {
    StripFixture f;
    f.frame->Biller.lastsync = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));
    TSyncView view(*f.frame, *f.engine, f.prompts);
    QPalette dark;
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        dark.setColor(role, QColor(30, 30, 30));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(230, 230, 230));
    view.setPalette(dark);
    view.resize(624, 33);
    view.show();
    const QImage image = view.grab().toImage();
    dmtest::SaveImage(image, "sync_strip_dark_theme");
    // The last-sync line on the top band and the result line on the lower bands.
    EXPECT_GE(Contrast(image, QRect(236, 4, 200, 11)), 4.5);
    EXPECT_GE(Contrast(image, QRect(235, 17, 150, 12)), 4.5);
}

TEST(SyncView, LongLinesEndInAnEllipsisWithTheWholeTextAsTooltip) {
    StripFixture f;
    f.frame->Biller.lastsync = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));
    f.frame->HadErrors = true;
    const std::string longError = "QB Error: " + std::string(40, 'x') + " the company file could not be opened because "
                                  "another program keeps it locked for writing at the moment";
    f.frame->ErrorText = longError;
    TSyncView view(*f.frame, *f.engine, f.prompts);
    view.resize(500, 33);
    view.show();
    const QImage image = view.grab().toImage();
    EXPECT_EQ(view.toolTip(), GuiText(longError));
    // Nothing is drawn in the last pixels: the text stopped before the edge.
    EXPECT_FALSE(InkBox(image, DarkRed, QRect(497, 0, 3, 33)));

    f.frame->ErrorText = "Unable to communicate with server.";
    emit f.frame->changed();
    view.grab();
    EXPECT_TRUE(view.toolTip().isEmpty()) << "a text that fits needs no tooltip";

    // Blocked: the message stops before Remove at the right edge.
    f.frame->Blocked = true;
    f.frame->Layout = TSync::TButtonLayout::Canceled;
    f.frame->BlockedText = "Your account has been cancelled. " + std::string(80, 'y');
    emit f.frame->changed();
    const QImage blocked = view.grab().toImage();
    EXPECT_FALSE(InkBox(blocked, DarkRed, QRect(view.btnRemove->x(), 0, view.btnRemove->width(), 4)));
    EXPECT_EQ(view.toolTip(), GuiText(f.frame->BlockedText));
}

TEST(SyncView, FailureMarkSharpAtTwiceTheResolution) {
    StripFixture f;
    f.frame->Biller.lastsync = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));
    f.frame->HadErrors = true;
    f.frame->ErrorText = "Unable to communicate with server.";
    QImage image(QSize(624, 33) * 2, QImage::Format_RGB32);
    image.setDevicePixelRatio(2);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        PaintSyncStatus(p, QSize(624, 33), *f.frame, f.app, -1);
    }
    dmtest::SaveImage(image, "sync_strip_failed_dpr2");
    const QImage mark = FailedMark(2);
    EXPECT_EQ(mark.size(), QSize(22, 22));
    EXPECT_EQ(mark.deviceIndependentSize(), QSizeF(11, 11));
    // The white cross of the mark is drawn with device pixels: thin lines, not a blur of pink.
    int pureWhite = 0;
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 22; ++x)
            if (mark.pixelColor(x, y) == QColor(Qt::white)) ++pureWhite;
    EXPECT_GT(pureWhite, 8);
}
