#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace trv {

class MessageBox;

// The one panel of a profile: the lock it holds for its life, and the channel on which a
// second panel started on the same profile asks it to come to the front.
class PanelInstance final : public QObject {
    Q_OBJECT
public:
    explicit PanelInstance(const QString& lockFile, QObject* parent = nullptr);
    ~PanelInstance() override;

    // True when this panel may run on the profile. When another panel has it: says so, naming
    // `profile` (empty: the default settings), offers to bring that panel to the front, and is
    // false.
    bool enter(MessageBox& messages, const QString& profile);
    // Asks the panel holding the lock to come to the front; false when it could not be reached.
    bool askHolderForward();
    // The channel's name: the same for every panel on the lock file, and only for this user.
    QString channel() const { return channel_; }

signals:
    void forwardRequested();

private:
    void listen();
    void readRequest(QLocalSocket* socket);

    QLockFile lock_;
    QString channel_;
    QLocalServer* server_ = nullptr;
};

} // namespace trv
