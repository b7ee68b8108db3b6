#pragma once

// One running copy per user. The first copy listens on a local socket in the abstract
// namespace (nothing to clean up after a crash); a later copy hands its arguments over
// and ends, and the first one comes to the front.

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace dm {

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    // The guard's name for this user.
    static QString DefaultName();

    explicit TSingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when this copy is the first: it now listens. False when another copy runs and has
    // been given the arguments; this copy should end with exit code 0.
    bool Claim(const QStringList& arguments);

signals:
    // Another copy was started with these arguments.
    void activated(const QStringList& arguments);

private:
    bool HandOver(const QStringList& arguments);
    void Accept();

    QString name_;
    QLocalServer* server_ = nullptr;
};

} // namespace dm
