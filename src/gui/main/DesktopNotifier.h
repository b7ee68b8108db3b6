#pragma once

// Short notices through the desktop's notification service (org.freedesktop.Notifications on
// the session bus), for when the main window is out of sight. Without the service nothing is
// sent and nothing fails.

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <set>

namespace dm {

class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit TDesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // The service is there now.
    bool Available() const;
    // The service said whether it reads markup (until then the body is escaped).
    bool CapabilitiesRead() const { return capabilitiesRead_; }
    // Sends one notice with a default action; false when there is no service. The body is
    // plain text (escaped for services that read markup).
    bool Notify(const QString& summary, const QString& body);

signals:
    // The user chose one of our notices (its default action).
    void activated();

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection bus_;
    std::set<uint> ours_;
    bool markup_ = true; // until the service says otherwise, escape to be safe
    bool capabilitiesRead_ = false;
};

} // namespace dm
