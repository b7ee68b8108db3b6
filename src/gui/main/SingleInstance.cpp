#include "gui/main/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <memory>

#include <unistd.h>

namespace dm {

namespace {
constexpr int HandOverTimeoutMs = 3000;
}

QString TSingleInstance::DefaultName() {
    return QStringLiteral("invara-desktop-manager-%1").arg(static_cast<qulonglong>(getuid()));
}

TSingleInstance::TSingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::Claim(const QStringList& arguments) {
    // Two tries: a first copy that is just ending may have released the name in between.
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto* server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
        if (server->listen(name_)) {
            server_ = server;
            connect(server_, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
            return true;
        }
        delete server;
        if (HandOver(arguments)) return false;
    }
    // Neither listening nor handing over works: run rather than refuse to start.
    return true;
}

bool TSingleInstance::HandOver(const QStringList& arguments) {
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name_);
    if (!socket.waitForConnected(HandOverTimeoutMs)) return false;
    socket.write(arguments.join(QLatin1Char('\n')).toUtf8());
    socket.write("\n\n");
    socket.flush();
    socket.waitForBytesWritten(HandOverTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(HandOverTimeoutMs);
    return true;
}

void TSingleInstance::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The arguments end with an empty line; a copy that dies before that still counts.
        auto done = std::make_shared<bool>(false);
        auto finish = [this, socket, done] {
            if (*done) return;
            QByteArray data = socket->readAll();
            *done = true;
            QStringList arguments = QString::fromUtf8(data).split(QLatin1Char('\n'));
            while (!arguments.isEmpty() && arguments.back().isEmpty()) arguments.removeLast();
            emit activated(arguments);
        };
        connect(socket, &QLocalSocket::readyRead, socket, [socket, finish] {
            if (socket->peek(socket->bytesAvailable()).endsWith("\n\n")) finish();
        });
        connect(socket, &QLocalSocket::disconnected, this, finish);
    }
}

} // namespace dm
