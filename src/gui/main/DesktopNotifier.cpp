#include "gui/main/DesktopNotifier.h"

#include "engine/AppState.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace dm {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

TDesktopNotifier::TDesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus_(bus) {
    if (!bus_.isConnected()) return;
    bus_.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
    bus_.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(NotificationClosed(uint, uint)));
    // Every call is asynchronous: the service may live in this very process (tests) or hang.
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"))),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<QStringList> reply = *w;
        if (!reply.isError()) {
            markup_ = reply.value().contains(QStringLiteral("body-markup"));
            capabilitiesRead_ = true;
        }
        w->deleteLater();
    });
}

bool TDesktopNotifier::Available() const {
    return bus_.isConnected() && bus_.interface() && bus_.interface()->isServiceRegistered(Service).value();
}

bool TDesktopNotifier::Notify(const QString& summary, const QString& body) {
    if (!Available()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    call << QString::fromLatin1(ApplicationTitle) << uint(0) << QStringLiteral("invara-desktop-manager") << summary
         << (markup_ ? body.toHtmlEscaped() : body) << QStringList{QStringLiteral("default"), QStringLiteral("Show")}
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("invara-desktop-manager")}} << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        if (!reply.isError()) ours_.insert(reply.value());
        w->deleteLater();
    });
    return true;
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& action) {
    if (!ours_.count(id) || action != QLatin1String("default")) return;
    emit activated();
}

void TDesktopNotifier::NotificationClosed(uint id, uint) { ours_.erase(id); }

} // namespace dm
