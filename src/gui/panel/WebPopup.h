#pragma once

// A resizable, always-on-top window around one control-panel frame in popup mode: a page's new
// window, a page the service asks to show during a session, the all-biller summary.

#include <QDialog>

#include <string>

class QStatusBar;

namespace dm {

class TControlPanel;
class TUserPrompts;
struct TPopupGeometry;

class TWebPopup : public QDialog {
    Q_OBJECT
public:
    explicit TWebPopup(TUserPrompts& prompts, QWidget* parent = nullptr);
    ~TWebPopup() override;

    TControlPanel* ControlPanel1;
    QStatusBar* StatusBar1;
    // Opened when the window is shown; empty for none.
    std::string StartUrl;

    // Sizes and constraints from the service (0: the window's own).
    void ApplyGeometry(const TPopupGeometry& geometry);
    void HideMaximize();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool started_ = false;
};

} // namespace dm
