#include "gui/main/NotifyPopup.h"

#include "engine/Notifications.h"
#include "gui/main/GuiText.h"

#include <QCloseEvent>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace dm {

namespace {

// The header's background: white, then bands of pale green from y = 10 down, and a grey line
// just above the bottom.
class THeaderBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const int w = width(), h = height();
        p.fillRect(0, 0, w, h, Qt::white);
        p.fillRect(0, 10, w, h - 10, QColor(250, 255, 250));
        p.fillRect(0, 14, w, h - 14, QColor(248, 250, 248));
        p.fillRect(0, 16, w, h - 16, QColor(246, 250, 246));
        p.fillRect(0, 18, w, h - 18, QColor(244, 250, 244));
        p.setPen(QColor(224, 224, 224));
        p.drawLine(0, h - 2, w, h - 2);
    }
};

constexpr int Panel1Height = 30;

} // namespace

TPanelEdge PanelEdgeOf(const QRect& screen, const QRect& available) {
    const int left = available.left() - screen.left();
    const int top = available.top() - screen.top();
    const int right = (screen.x() + screen.width()) - (available.x() + available.width());
    const int bottom = (screen.y() + screen.height()) - (available.y() + available.height());
    const int widest = std::max({left, top, right, bottom});
    if (widest <= 0) return TPanelEdge::None;
    // A desktop with panels at several edges (a top bar and a dock): the widest one holds the
    // notification area most often; the bottom wins a tie, as on most desktops.
    if (bottom == widest) return TPanelEdge::Bottom;
    if (top == widest) return TPanelEdge::Top;
    if (right == widest) return TPanelEdge::Right;
    return TPanelEdge::Left;
}

QPoint PopupPositionBesidePanel(const QRect& screen, const QRect& available, const QSize& outer) {
    // The panel's rectangle with exclusive right and bottom ends, and the window's size with a
    // small margin, as the placement rule counts them.
    const int w = outer.width() + 4, h = outer.height() + 4;
    const int sRight = screen.x() + screen.width(), sBottom = screen.y() + screen.height();
    const int aLeft = available.x(), aTop = available.y(), aRight = available.x() + available.width(),
              aBottom = available.y() + available.height();
    // Beside the panel's inner edge, at its far end (the notification area's end).
    switch (PanelEdgeOf(screen, available)) {
    case TPanelEdge::Left: return {aLeft + 4, sBottom - h};
    case TPanelEdge::Top: return {sRight - w, aTop + 4};
    case TPanelEdge::Right: return {aRight - w, sBottom - h};
    case TPanelEdge::Bottom: return {sRight - w, aBottom - h - 1};
    case TPanelEdge::None: break;
    }
    return {aRight - w, aBottom - h - 1};
}

std::string NotificationPage(const std::string& fragment, const std::string& fontFamily) {
    return "<html>\r\n<head>\r\n<style>\r\n"
           "html { height: 100%; width: 100%; overflow: auto; }\r\n"
           // The margins come off the full size: Chromium, unlike the old engine, would otherwise
           // put scroll bars on every notice.
           "body { margin: 10px 10px 10px 10px; height: calc(100% - 20px); width: calc(100% - 20px); overflow: auto; "
           "font-family: " +
           fontFamily +
           "; font-size: 11pt; }\r\n"
           "a { color: #0000FF; }\r\n"
           "</style>\r\n</head>\r\n<body>\r\n" +
           fragment + "\r\n</body>\r\n</html>";
}

TNotifyPopup::TNotifyPopup(const QString& caption) : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("NotifyPopup"));
    ApplyFormFont(this);
    setWindowTitle(caption);
    setFixedSize(ClientWidth, PlainHeight);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, ClientWidth, Panel1Height);
    PaintBox1 = new THeaderBox(Panel1);
    PaintBox1->setObjectName(QStringLiteral("PaintBox1"));
    PaintBox1->setGeometry(0, 0, ClientWidth, Panel1Height);
    Label1 = new QLabel(Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(FormFont(10));
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(8, 5);
    btnNext = new QPushButton(QStringLiteral("Next >>"), Panel1);
    btnNext->setObjectName(QStringLiteral("btnNext"));
    btnNext->setGeometry(ClientWidth - 59 - 6, 5, 59, 20);
    connect(btnNext, &QPushButton::clicked, this, &TNotifyPopup::ShowNext);
    Panel1->hide();

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 0, ClientWidth, PlainHeight);
    if (TBrowserEngine* engine = BrowserEngine()) {
        WebBrowser1 = engine->CreateView(*this, Panel2);
        WebBrowser1->SetUntrusted();
    } else {
        // Without the browser module the notice is still read, as plain text.
        lblPlain = new QLabel(Panel2);
        lblPlain->setObjectName(QStringLiteral("lblPlain"));
        lblPlain->setTextFormat(Qt::PlainText);
        lblPlain->setWordWrap(true);
        lblPlain->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        lblPlain->setMargin(10);
        lblPlain->setAutoFillBackground(true);
        QPalette white = lblPlain->palette();
        white.setColor(QPalette::Window, Qt::white);
        lblPlain->setPalette(white);
    }

    tmrShowing.setSingleShot(true);
    tmrShowing.setInterval(1);
    connect(&tmrShowing, &QTimer::timeout, this, [this] {
        tmrShowing.stop();
        UpdateLayout();
    });

    ScreenArea = [](QRect& screen, QRect& available) {
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            screen = s->geometry();
            available = s->availableGeometry();
        }
    };
}

TNotifyPopup::~TNotifyPopup() = default;

void TNotifyPopup::Add(const std::string& fragment) {
    Queue.push_back(fragment);
    UpdateLayout();
    tmrShowing.start();
}

void TNotifyPopup::UpdateLayout() {
    int height = PlainHeight;
    if (Queue.empty()) {
        Panel1->hide();
    } else {
        height = HeaderHeight;
        Panel1->show();
        Label1->setText(Queue.size() == 1 ? QStringLiteral("1 more notification to view.")
                                          : QStringLiteral("%1 more notifications to view.").arg(Queue.size()));
        Label1->adjustSize();
    }
    setFixedSize(ClientWidth, height);
    const int top = Queue.empty() ? 0 : Panel1Height;
    Panel2->setGeometry(0, top, ClientWidth, height - top);
    // The view's border lies outside the panel.
    QWidget* view = WebBrowser1 ? static_cast<QWidget*>(WebBrowser1) : lblPlain;
    view->setGeometry(-2, -2, Panel2->width() + 4, Panel2->height() + 4);

    QRect screen, available;
    ScreenArea(screen, available);
    if (!screen.isEmpty()) {
        const QRect outer = frameGeometry();
        move(PopupPositionBesidePanel(screen, available, outer.size()));
    }
    if (!Showing) ShowNext();
}

void TNotifyPopup::ShowNext() {
    if (Queue.empty()) {
        hide();
        Showing = false;
        return;
    }
    Showing = true;
    const std::string fragment = Queue.front();
    Queue.pop_front();
    // The family the desktop's font resolves to: the browser knows no alias such as "Sans Serif".
    ShownPage = NotificationPage(fragment, EngineText(QFontInfo(Label1->font()).family()));
    if (WebBrowser1) LoadHtmlIntoBrowser(*WebBrowser1, ShownPage);
    else lblPlain->setText(GuiText(NotificationText(fragment, 4096)));
    UpdateLayout();
    // Seen without the main window, whether that is hidden in the tray or not.
    show();
    raise();
}

void TNotifyPopup::closeEvent(QCloseEvent* event) {
    Queue.clear();
    Showing = false;
    event->accept(); // hidden, not destroyed
}

void TNotifyPopup::BrowserPseudoLink(const std::string& address) {
    if (address != "about:blank#download_update") return;
    // The About box is modal: it opens once the browser's own event has returned.
    QTimer::singleShot(0, this, [this] {
        ShowNext();
        if (OnDownloadUpdate) OnDownloadUpdate();
    });
}

} // namespace dm
