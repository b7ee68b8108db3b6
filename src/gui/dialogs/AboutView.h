#pragma once

// The About box: the version, the update check and the download of a new version. Shown
// modally at start-up (the check only, no OK button), from the Help menu, and in download mode
// from the update bar and the update notice. What it does lives in the engine's TAbout.

#include "engine/About.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace dm {

struct TAppState;
class TUserPrompts;

// Hands a downloaded package to the desktop's software installer (the desktop's handler of the
// file); tests put a recorder in its place. Returns the one it replaces.
using TInstallerOpener = std::function<bool(const std::string& path)>;
TInstallerOpener SetInstallerOpener(TInstallerOpener opener);
bool OpenInstaller(const std::string& path);

class TAboutView : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 401;
    static constexpr int ClientHeight = 229;
    static constexpr int BannerHeight = 21;

    TAboutView(TAppState& app, TUserPrompts& prompts, QWidget* parent = nullptr);
    ~TAboutView() override;

    TAbout About;

    QWidget* Image2;   // the picture over the top, with the version lines on it
    QLabel* Label3;    // the line above the version
    QLabel* Label2;    // the version line
    QLabel* Label4;    // the status, a link while it has the hand cursor
    QWidget* imgError;
    QWidget* Image3;   // the success mark
    QPushButton* btnOK;
    QProgressBar* ProgressBar1;
    QWidget* Panel1;   // the test-mode banner
    QTimer tmrStartup;

    // Start-up mode: the check without the OK button; the box closes itself when there is
    // nothing to do.
    int ShowStartupCheck();
    // Download mode, before the box is shown.
    void UseDownloadMode() { About.UseDownloadMode(); }

protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Repaint();
};

} // namespace dm
