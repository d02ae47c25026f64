#include "windows/panel/PanelInstance.h"

#include "windows/common/MessageBox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cstdio>
#ifdef Q_OS_WIN
#include <windows.h>
// windows.h names its own message box function MessageBox through a macro.
#undef MessageBox
#endif

namespace trv {
namespace {

constexpr char kForward[] = "forward\n";
constexpr int kWaitMs = 3000;

QString channelFor(const QString& lockFile) {
    const QString name = QStringLiteral("trv-panel-") +
                         QString::fromLatin1(QCryptographicHash::hash(
                                                 QFileInfo(lockFile).absoluteFilePath().toUtf8(),
                                                 QCryptographicHash::Sha1)
                                                 .toHex()
                                                 .left(16));
#ifdef Q_OS_WIN
    return name; // the lock file's path, and so the hash, is the user's own
#else
    // In the user's own runtime folder, so that nobody else can take the name or connect.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QLatin1Char('/') +
           name;
#endif
}

} // namespace

PanelInstance::PanelInstance(const QString& lockFile, QObject* parent)
    : QObject(parent), lock_(lockFile), channel_(channelFor(lockFile)) {
    // Held for as long as the panel runs: only a holder that has died leaves a stale lock, and
    // its lock is taken over whatever its age.
    lock_.setStaleLockTime(0);
}

PanelInstance::~PanelInstance() = default;

bool PanelInstance::enter(MessageBox& messages, const QString& profile) {
    QDir().mkpath(QFileInfo(lock_.fileName()).absolutePath());
    if (lock_.tryLock(0)) {
        listen();
        return true;
    }
    // Where no lock can be made the settings cannot be saved either: nothing to guard.
    if (lock_.error() != QLockFile::LockFailedError)
        return true;
    const QString text = profile.isEmpty()
                             ? tr("The panel is already open.")
                             : tr("The panel of the profile \"%1\" is already open.").arg(profile);
    std::fprintf(stderr, "trv-panel: %s\n", qPrintable(text));
    std::fflush(stderr);
    if (messages.question(nullptr, text, QStringLiteral("trv-panel"), tr("Bring it to the front"),
                          tr("Quit")))
        askHolderForward();
    return false;
}

void PanelInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Whoever listened before held the lock and is gone: what it left is stale.
    QLocalServer::removeServer(channel_);
    if (!server_->listen(channel_))
        return; // the panel runs all the same; a second one cannot bring it forward
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this,
                    [this, socket] { readRequest(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            readRequest(socket);
        }
    });
}

void PanelInstance::readRequest(QLocalSocket* socket) {
    while (socket->canReadLine()) {
        if (socket->readLine(64) == kForward)
            emit forwardRequested();
    }
    // Nothing else is ever sent: a peer that keeps talking is not listened to.
    if (socket->bytesAvailable() > 64)
        socket->abort();
}

bool PanelInstance::askHolderForward() {
#ifdef Q_OS_WIN
    // Windows lets only the program in front hand the front to another.
    AllowSetForegroundWindow(ASFW_ANY);
#endif
    QLocalSocket socket;
    socket.connectToServer(channel_);
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kForward);
    // Closing writes what is pending first.
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kWaitMs);
    return socket.state() == QLocalSocket::UnconnectedState;
}

} // namespace trv
