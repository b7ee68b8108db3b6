#pragma once

// The log viewer's window: the file list, the sessions drawn failed (red, with the failure mark)
// or completed (a green dot), the events with their times in a smaller grey font on the
// message's baseline, the detail text and the buttons. Everything it shows comes from TViewLog.

#include <QDialog>

class QComboBox;
class QLabel;
class QListView;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;

namespace dm {

class TViewLog;
class TRowsModel;

class TViewLogView : public QDialog {
    Q_OBJECT
public:
    // Opens the log (the engine's FormCreate) once the window is built.
    explicit TViewLogView(TViewLog& log, QWidget* parent = nullptr);

    QPushButton* btnSendSession;
    QPushButton* btnClose;
    QComboBox* lbxLogFile;
    QPushButton* btnDeleteLogFile;
    QPushButton* btnDeleteAllLogs;
    QListView* lbxSessions;
    QWidget* pnlSession;
    QListView* lbxEvents;
    QSplitter* Splitter1;
    QPlainTextEdit* txtContent;
    QProgressBar* prgReading;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FilesChanged();
    void SessionsChanged();
    void EventsChanged();
    void Progress(int percent);
    void Idle();

    TViewLog& log_;
    TRowsModel* sessions_;
    TRowsModel* events_;
    int eventsTop_ = -1;
    bool updating_ = false;
};

} // namespace dm
