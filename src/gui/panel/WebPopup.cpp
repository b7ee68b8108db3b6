#include "gui/panel/WebPopup.h"

#include "engine/SyncMessages.h"
#include "gui/main/GuiText.h"
#include "gui/panel/ControlPanel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

namespace dm {

TWebPopup::TWebPopup(TUserPrompts& prompts, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("WebPopup"));
    setWindowTitle(QStringLiteral("Invara"));
    setFont(PixelFont(11));
    setSizeGripEnabled(true);
    resize(870, 640);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ControlPanel1 = new TControlPanel(prompts, nullptr, true, this);
    ControlPanel1->setObjectName(QStringLiteral("ControlPanel1"));
    layout->addWidget(ControlPanel1, 1);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    layout->addWidget(StatusBar1);
}

TWebPopup::~TWebPopup() = default;

void TWebPopup::ApplyGeometry(const TPopupGeometry& g) {
    QSize size = this->size();
    if (g.Width > 0) size.setWidth(g.Width);
    if (g.Height > 0) size.setHeight(g.Height);
    if (g.MinWidth > 0) setMinimumWidth(g.MinWidth);
    if (g.MinHeight > 0) setMinimumHeight(g.MinHeight);
    if (g.MaxWidth > 0) setMaximumWidth(g.MaxWidth);
    if (g.MaxHeight > 0) setMaximumHeight(g.MaxHeight);
    resize(size.expandedTo(minimumSize()).boundedTo(maximumSize()));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void TWebPopup::HideMaximize() {
    setWindowFlags((windowFlags() & ~(Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint)) |
                   Qt::CustomizeWindowHint);
}

void TWebPopup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    if (!StartUrl.empty() && ControlPanel1->Web) ControlPanel1->Web->Navigate(QUrl(GuiText(StartUrl)));
}

void TWebPopup::closeEvent(QCloseEvent* event) {
    if (ControlPanel1->OnActiveBrowser) ControlPanel1->OnActiveBrowser(nullptr);
    QDialog::closeEvent(event);
}

} // namespace dm
