#pragma once

// The small always-on-top window beside the desktop's panel that shows the service's payment
// notices and the update notice, one at a time, with a header that counts those still waiting.
// The fragments come from the network: the view shows them with scripts off, and a link the
// user follows opens in the user's browser.

#include "gui/panel/Browser.h"

#include <QRect>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace dm {

// Where the desktop's panel sits: the edge at which the available area is inset from the
// screen, the widest inset winning; None when no edge is.
enum class TPanelEdge { None, Left, Top, Right, Bottom };
TPanelEdge PanelEdgeOf(const QRect& screen, const QRect& available);
// The top-left corner of a window of the outer size given, beside the panel; without a panel
// in the bottom-right corner of the available area.
QPoint PopupPositionBesidePanel(const QRect& screen, const QRect& available, const QSize& outer);

// The page shown around a fragment (CR LF lines), in the font family given.
std::string NotificationPage(const std::string& fragment, const std::string& fontFamily);

class TNotifyPopup : public QWidget, private TBrowserEvents {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 297;
    static constexpr int PlainHeight = 150;  // nothing waiting
    static constexpr int HeaderHeight = 183; // fragments waiting, with the header

    explicit TNotifyPopup(const QString& caption);
    ~TNotifyPopup() override;

    QWidget* Panel1;   // the header
    QWidget* PaintBox1;
    QLabel* Label1;    // the waiting count
    QPushButton* btnNext;
    QWidget* Panel2;
    TBrowserView* WebBrowser1 = nullptr; // null without the browser module
    QLabel* lblPlain = nullptr;          // the fragment's text then, without markup
    QTimer tmrShowing;

    std::deque<std::string> Queue;
    bool Showing = false;
    // The page on screen now.
    std::string ShownPage;

    // A fragment to show: at once when nothing is on screen, else after those waiting.
    void Add(const std::string& fragment);
    void UpdateLayout();
    void ShowNext();

    // The screen and its available area; the primary screen's unless a test sets it.
    std::function<void(QRect& screen, QRect& available)> ScreenArea;
    // The update notice's download link was followed.
    std::function<void()> OnDownloadUpdate;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BrowserPseudoLink(const std::string& address) override;
};

} // namespace dm
