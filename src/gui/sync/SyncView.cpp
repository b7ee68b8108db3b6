#include "gui/sync/SyncView.h"

#include "engine/AppState.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "gui/main/GuiText.h"
#include "gui/main/Pictures.h"

#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>

namespace dm {

const char* const RemoveBillerQuestion =
    "Your QuickBooks invoices and transactions will \rno longer synchronize with the Invara\rservice if you remove "
    "this business.\r\rAre you sure you want to remove this business \rfrom the Invara Desktop Manager?";

namespace {

constexpr int StripHeight = 33;
constexpr int ButtonTop = 4;
constexpr int ButtonHeight = 25;

// Text is placed by the top-left corner of its cell, as the strip's coordinates are given.
void TextAt(QPainter& p, int x, int y, const QString& text) {
    p.drawText(QPoint(x, y + p.fontMetrics().ascent()), text);
}

// Text that does not fit before `right` ends in an ellipsis; the full text is kept for the
// tooltip.
QString Fit(QPainter& p, const QString& text, int x, int right, QString& elided) {
    const int available = right - x;
    if (p.fontMetrics().horizontalAdvance(text) <= available) return text;
    elided = text;
    return p.fontMetrics().elidedText(text, Qt::ElideRight, std::max(available, 0));
}

// Rectangles are given by their corners; the right and bottom edges are not filled.
void Fill(QPainter& p, int left, int top, int right, int bottom, const QColor& color) {
    if (right > left && bottom > top) p.fillRect(QRect(left, top, right - left, bottom - top), color);
}

QString ErrorLine(const TSync& frame, const TAppState& app) {
    switch (frame.ErrorKind) {
    case TSync::ekGeneral:
        if (!frame.ErrorText.empty()) return GuiText(frame.ErrorText);
        return app.HostedPartner.empty() ? QStringLiteral("Last sync experienced errors. View log for details.")
                                         : QStringLiteral("Last sync experienced errors.");
    case TSync::ekAccessNotGranted: return QStringLiteral("Access to QuickBooks company file not granted.");
    case TSync::ekProcessRequestFailed:
        return QStringLiteral("QuickBooks encountered an error processing the request.");
    default: return {};
    }
}

} // namespace

QString LastSyncText(const QDateTime& lastsync) {
    const QLocale locale = QLocale::system();
    QString time = locale.timeFormat(QLocale::LongFormat);
    // The long format of some locales names the zone; the strip shows local time only.
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    time.remove(zone);
    return QStringLiteral("Last sync from this computer completed on ") +
           locale.toString(lastsync.date(), QLocale::ShortFormat) + QStringLiteral(" at ") +
           locale.toString(lastsync.time(), time.trimmed());
}

QString PaintSyncStatus(QPainter& p, const QSize& size, const TSync& frame, const TAppState& app,
                        int loginButtonWidth, int rightButtonLeft) {
    const int width = size.width();
    const int height = size.height();
    // The bands are fixed light colours, so the text is fixed too: the strip reads the same in a
    // dark desktop theme.
    const QColor windowText = Qt::black;
    const int right = (rightButtonLeft >= 0 ? rightButtonLeft : width) - 4;
    QString elided;

    p.setPen(Qt::NoPen);
    Fill(p, 0, 0, width, height, Qt::white);
    if (app.IsVistaOrLater) {
        Fill(p, 0, 8, width, height, QColor(250, 250, 250));
        Fill(p, 0, 12, width, height, QColor(248, 248, 248));
        Fill(p, 0, 16, width, height, QColor(246, 246, 246));
        Fill(p, 0, 20, width, height, QColor(244, 244, 244));
        Fill(p, 0, height - 2, width, height - 1, QColor(237, 237, 237));
        Fill(p, 0, height - 1, width, height, QColor(224, 224, 224));
    }

    p.setBackgroundMode(Qt::TransparentMode);
    p.setPen(windowText);
    p.setFont(FormFont(10, true));

    if (frame.Confirming) {
        p.setFont(FormFont(10, false));
        TextAt(p, 6, 10, QStringLiteral("Confirming account..."));
    } else if (frame.Blocked) {
        const int x = loginButtonWidth >= 0 ? loginButtonWidth + 10 : 5;
        const QString text = Fit(p, GuiText(frame.BlockedText), x + 1, right, elided);
        p.setPen(Qt::white);
        TextAt(p, x + 1, 10, text);
        p.setPen(QColor(128, 0, 0));
        TextAt(p, x, 9, text);
        return elided;
    }

    if (frame.Phase != TSync::phIdle) {
        if (app.IsVistaOrLater) {
            Fill(p, 235, 6, 534, 16, QColor(200, 200, 200));
            Fill(p, 235, 9, 534, 16, QColor(205, 205, 205));
            Fill(p, 235, 10, 534, 16, QColor(210, 210, 210));
            Fill(p, 235, 11, 534, 16, QColor(220, 220, 220));
        } else {
            Fill(p, 235, 6, 534, 16, QColor(192, 192, 192));
        }
        const int percentage = std::min(frame.Percentage, 100);
        if (percentage > 0) {
            const int right = 234 + 3 * percentage;
            Fill(p, 235, 6, right, 16, QColor(0, 0, 255));
            if (app.IsVistaOrLater) {
                Fill(p, 236, 8, right - 1, 15, QColor(0, 0, 190));
                Fill(p, 236, 10, right - 1, 15, QColor(0, 0, 170));
                Fill(p, 236, 12, right - 1, 15, QColor(0, 0, 150));
            }
        }
        for (QPoint corner : {QPoint(235, 6), QPoint(235, 14), QPoint(532, 6), QPoint(532, 14)})
            Fill(p, corner.x(), corner.y(), corner.x() + 1, corner.y() + 1, Qt::white);

        p.setPen(windowText);
        p.setFont(FormFont(8, true));
        TextAt(p, 235, 16, Fit(p, GuiText(frame.StatusDetail), 235, right, elided));

        if (!frame.RedirectLabel.empty()) {
            p.setFont(FormFont(10, true));
            const QString label = QLatin1Char(' ') + GuiText(frame.RedirectLabel) + QLatin1Char(' ');
            const int w = p.fontMetrics().horizontalAdvance(label);
            const int h = p.fontMetrics().height();
            Fill(p, 540, 3, 540 + w, 3 + h, Qt::black);
            p.setPen(QColor(255, 0, 0));
            TextAt(p, 540, 3, label);
            Fill(p, 540, 0, 540 + w + 1, 1, Qt::black);
            Fill(p, 540, h + 1, 540 + w + 1, h + 2, Qt::black);
            p.setPen(windowText);
        }
        return elided;
    }

    if (!frame.Biller.lastsync.isValid()) return elided; // never synchronised
    if (frame.HadErrors && frame.OtherFileOpen) {
        p.setFont(FormFont(8, false));
        p.setPen(QColor(0, 128, 0));
        TextAt(p, 235, 16,
               Fit(p, QStringLiteral("Unable to sync while another company file is open in QuickBooks."), 235, right,
                   elided));
    } else if (frame.HadErrors) {
        const QString text = ErrorLine(frame, app);
        if (text.isEmpty()) return elided;
        p.setFont(FormFont(7, true));
        p.setPen(QColor(128, 0, 0));
        const QImage mark = FailedMark(p.device() ? p.device()->devicePixelRatioF() : 1);
        p.drawImage(QPoint(233, 17), mark);
        const int x = 235 + qRound(mark.deviceIndependentSize().width()) - 1;
        TextAt(p, x, 17, Fit(p, text, x, right, elided));
    } else {
        p.setFont(FormFont(8, true));
        p.setPen(QColor(0, 128, 0));
        TextAt(p, 235, 16,
               Fit(p, frame.Biller.smartsync ? GuiText(frame.StatusText) : QStringLiteral("Last sync completed successfully."),
                   235, right, elided));
        p.setFont(FormFont(8, false));
        p.setPen(windowText);
        TextAt(p, 236, 4, LastSyncText(frame.Biller.lastsync));
    }
    return elided;
}

TSyncView::TSyncView(TSync& frame, TMainEngine& main, TUserPrompts& prompts, QWidget* parent)
    : QWidget(parent), frame_(&frame), main_(main), prompts_(prompts) {
    setObjectName(GuiText(frame.FrameName));
    setFixedHeight(StripHeight);
    setMinimumWidth(400);
    // The strip paints every pixel itself; no erase, so that it does not flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);

    auto button = [this](const char* name, const char* caption, int left, int width, bool bold) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(left, ButtonTop, width, ButtonHeight);
        b->setFont(FormFont(8, bold));
        b->setFocusPolicy(Qt::TabFocus);
        b->hide();
        return b;
    };
    btnControlPanel = button("btnControlPanel", "Login", 4, 53, true);
    btnSyncNow = button("btnSyncNow", "Sync", 60, 49, true);
    btnSyncOptions = button("btnSyncOptions", "Options", 112, 53, false);
    btnRemove = button("btnRemove", "Remove", 168, 53, false);

    connect(btnSyncNow, &QPushButton::clicked, this, [this] {
        if (frame_) frame_->btnSyncNowClick(true);
    });
    connect(btnRemove, &QPushButton::clicked, this, [this] { btnRemoveClick(true); });
    connect(btnControlPanel, &QPushButton::clicked, this, [this] {
        if (frame_) emit controlPanelClicked(frame_);
    });
    connect(btnSyncOptions, &QPushButton::clicked, this, [this] {
        if (frame_) emit optionsClicked(frame_);
    });
    connect(&frame, &TSync::changed, this, [this] {
        ApplyLayout();
        update();
    });
    ApplyLayout();
}

void TSyncView::btnRemoveClick(bool fromButton) {
    if (!frame_) return;
    QPointer<TSync> frame = frame_;
    if (fromButton && !prompts_.AskYesNo(RemoveBillerQuestion)) return;
    if (frame) main_.RequestRemoveBiller(frame);
}

void TSyncView::ApplyLayout() {
    if (!frame_) return;
    using L = TSync::TButtonLayout;
    const L layout = frame_->Layout;
    btnControlPanel->setVisible(layout == L::Confirmed || layout == L::Suspended);
    btnSyncNow->setVisible(layout == L::Confirmed);
    btnSyncOptions->setVisible(layout == L::Confirmed);
    btnRemove->setVisible(layout != L::Confirming);
    if (layout == L::Confirmed) {
        btnControlPanel->move(4, ButtonTop);
        btnSyncNow->move(60, ButtonTop);
        btnSyncOptions->move(btnSyncNow->geometry().right() + 1 + 4, ButtonTop);
        btnRemove->move(btnSyncOptions->geometry().right() + 1 + 4, ButtonTop);
    } else {
        btnControlPanel->move(4, ButtonTop);
        btnRemove->move(width() - btnRemove->width() - 4, ButtonTop);
    }
    const bool enabled = frame_->ButtonsEnabled();
    btnSyncNow->setEnabled(enabled);
    btnRemove->setEnabled(enabled);
}

void TSyncView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ApplyLayout(); // Remove keeps to the right edge in the blocked layouts
}

void TSyncView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!frame_) {
        p.fillRect(rect(), Qt::white);
        return;
    }
    // Remove sits at the right edge in the blocked layouts; the text stops before it.
    const bool removeAtRight = btnRemove->isVisible() && frame_->Layout != TSync::TButtonLayout::Confirmed;
    const QString elided = PaintSyncStatus(p, size(), *frame_, main_.App,
                                           btnControlPanel->isVisible() ? btnControlPanel->width() : -1,
                                           removeAtRight ? btnRemove->x() : -1);
    setToolTip(elided);
}

} // namespace dm
