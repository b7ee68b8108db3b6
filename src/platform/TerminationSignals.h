#pragma once

// SIGTERM, SIGINT and SIGHUP (a session manager, Ctrl-C, a closed terminal) as a Qt signal on
// the main thread, so that the program ends the way its Exit command ends it instead of dying
// with the settings unsaved and a QuickBooks session open. The handler only writes the signal's
// number to a pipe (a self-pipe: the one thing a handler may safely do); a socket notifier reads
// it in the event loop.

#include <QObject>

class QSocketNotifier;

namespace dm {

class TTerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; one object at a time. The previous handlers come back with its end.
    explicit TTerminationSignals(QObject* parent = nullptr);
    ~TTerminationSignals() override;

    // The first signal received, 0 before one came.
    int Received() const { return received_; }
    // What a shell reports for a program ended by that signal.
    static int ExitCode(int signal) { return 128 + signal; }

signals:
    // Once, for the first signal. A second one finds the default handlers back and ends the
    // program at once, for the user whose orderly end hangs.
    void received(int signal);

private:
    void Read();

    QSocketNotifier* notifier_ = nullptr;
    int received_ = 0;
};

} // namespace dm
