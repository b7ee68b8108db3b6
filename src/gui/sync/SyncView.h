#pragma once

// The top strip of a biller's tab: the Login, Sync, Options and Remove buttons on the left and
// the status drawn from the biller's engine frame. It repaints whenever the frame says that
// something shown has changed and keeps no state of the session.

#include "engine/Sync.h"

#include <QPointer>
#include <QWidget>

#include <string>

class QPainter;
class QPushButton;

namespace dm {

class TMainEngine;
class TSync;
class TUserPrompts;
struct TAppState;

extern const char* const RemoveBillerQuestion;

// Paints the status area of the frame into a box of the given size at the strip's coordinates.
// loginButtonWidth is the width of the Login button, or -1 while it is hidden; rightButtonLeft
// the left edge of a button at the right end, or -1. Returns the full text of a line that had to
// be cut short (for a tooltip), else an empty text.
QString PaintSyncStatus(QPainter& painter, const QSize& size, const TSync& frame, const TAppState& app,
                        int loginButtonWidth, int rightButtonLeft = -1);
// "Last sync from this computer completed on DATE at TIME" in the user's formats.
QString LastSyncText(const QDateTime& lastsync);

class TSyncView : public QWidget {
    Q_OBJECT
public:
    TSyncView(TSync& frame, TMainEngine& main, TUserPrompts& prompts, QWidget* parent = nullptr);

    TSync* Frame() const { return frame_; }

    QPushButton* btnControlPanel;
    QPushButton* btnSyncNow;
    QPushButton* btnSyncOptions;
    QPushButton* btnRemove;

    void btnRemoveClick(bool fromButton);

signals:
    // The Login button; the main window opens or closes the control panel.
    void controlPanelClicked(dm::TSync* frame);
    // The Options button: the Options dialog on this biller.
    void optionsClicked(dm::TSync* frame);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void ApplyLayout();

    QPointer<TSync> frame_;
    TMainEngine& main_;
    TUserPrompts& prompts_;
};

} // namespace dm
