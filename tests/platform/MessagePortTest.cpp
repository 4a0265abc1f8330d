#include "platform/linux/UnixDatagramMessagePort.h"
#include "store/StoreTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using TestSupport::modeOf;

namespace {

class MessagePortTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder = dir.filePath(u"kestrune"_qs);
    UnixDatagramMessagePort port{folder};
    QList<QByteArray> received;

    std::unique_ptr<MessagePort::Endpoint> listenHere(const QString& name) {
        return port.listen(name, [this](const QByteArray& payload) { received.append(payload); });
    }
    bool waitForMessages(qsizetype count) {
        QElapsedTimer timer;
        timer.start();
        while (received.size() < count && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return received.size() >= count;
    }
};

} // namespace

TEST_F(MessagePortTest, MessagesArriveWholeOnTheEventLoop) {
    auto endpoint = listenHere(u"app.kestrune.tabctx"_qs);
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(modeOf(folder + u"/app.kestrune.tabctx"_qs) & 0777, 0600);

    const QByteArray large(300 * 1024, 'f'); // a payload with a full-size favicon and more
    EXPECT_EQ(port.send(u"app.kestrune.tabctx"_qs, "first"), MessagePort::SendResult::Sent);
    EXPECT_EQ(port.send(u"app.kestrune.tabctx"_qs, large), MessagePort::SendResult::Sent);
    EXPECT_EQ(port.send(u"app.kestrune.tabctx"_qs, "{}"), MessagePort::SendResult::Sent);
    EXPECT_TRUE(received.isEmpty()) << "delivered by the event loop, not inside send";
    ASSERT_TRUE(waitForMessages(3));
    EXPECT_EQ(received, (QList<QByteArray>{"first", large, "{}"}));

    endpoint.reset();
    EXPECT_FALSE(QFile::exists(folder + u"/app.kestrune.tabctx"_qs)) << "the name is freed";
    EXPECT_EQ(port.send(u"app.kestrune.tabctx"_qs, "late"), MessagePort::SendResult::NoEndpoint);
}

TEST_F(MessagePortTest, NamesAreExclusiveAndStaleSocketsAreReplaced) {
    EXPECT_EQ(port.send(u"app.kestrune.host.4711"_qs, "x"), MessagePort::SendResult::NoEndpoint);
    auto first = listenHere(u"app.kestrune.host.4711"_qs);
    ASSERT_TRUE(first);
    EXPECT_EQ(listenHere(u"app.kestrune.host.4711"_qs), nullptr) << "a live endpoint keeps it";

    // A dead process's socket file: bound, then closed without removing the file.
    ASSERT_TRUE(port.folder());
    const QByteArray stale = QFile::encodeName(folder + u"/app.kestrune.host.99"_qs);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, stale.constData(), static_cast<std::size_t>(stale.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_EQ(port.send(u"app.kestrune.host.99"_qs, "x"), MessagePort::SendResult::NoEndpoint);
    auto replaced = listenHere(u"app.kestrune.host.99"_qs);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(port.send(u"app.kestrune.host.99"_qs, "hello"), MessagePort::SendResult::Sent);
    ASSERT_TRUE(waitForMessages(1));

    EXPECT_EQ(listenHere(u"../escape"_qs), nullptr);
    EXPECT_EQ(port.send(u"a/b"_qs, "x"), MessagePort::SendResult::NoEndpoint);
}

TEST_F(MessagePortTest, AFolderThatIsNotPrivatelyOursIsRefused) {
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::ExeOther));
    ASSERT_TRUE(port.folder()) << "an open folder of ours is closed again";
    EXPECT_EQ(modeOf(folder), 0700);

    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        EXPECT_FALSE(port.folder()) << "someone else's folder";
        EXPECT_EQ(listenHere(u"app.kestrune.tabctx"_qs), nullptr);
    }
}

TEST_F(MessagePortTest, AnotherUserCannotSendToOurEndpoints) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    auto endpoint = listenHere(u"app.kestrune.tabctx"_qs);
    ASSERT_TRUE(endpoint);
    // The helper must be reachable by "nobody": copy it to a folder anyone can enter.
    QTemporaryDir open;
    ASSERT_TRUE(QFile::setPermissions(
        open.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                         QFileDevice::ReadOther | QFileDevice::ExeOther));
    const QString tool = open.filePath(u"tessarine-test-send"_qs);
    ASSERT_TRUE(QFile::copy(QStringLiteral(TESSARINE_SEND_TOOL), tool));

    const auto run = [&](const QStringList& prefix, const QStringList& arguments) {
        QProcess process;
        process.start(prefix.first(), prefix.mid(1) + QStringList{tool} + arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    };
    const QStringList owner{u"/usr/bin/env"_qs};
    const QStringList nobody{u"/usr/bin/setpriv"_qs, u"--reuid=65534"_qs, u"--regid=65534"_qs,
                             u"--clear-groups"_qs};
    const QStringList named{folder, u"app.kestrune.tabctx"_qs, u"from-owner"_qs};
    EXPECT_EQ(run(owner, named), u"sent"_qs) << "the same tool works for the owner";
    EXPECT_NE(run(nobody, {folder, u"app.kestrune.tabctx"_qs, u"from-nobody"_qs}), u"sent"_qs);

    // Even past the folder, the socket file itself refuses another user.
    const QString socket = folder + u"/app.kestrune.tabctx"_qs;
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ExeOther));
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner |
                                                      QFileDevice::ExeOther));
    EXPECT_EQ(run(nobody, {u"--raw"_qs, socket, u"raw-from-nobody"_qs}), u"Permission denied"_qs);
    EXPECT_EQ(run(owner, {u"--raw"_qs, socket, u"raw-from-owner"_qs}), u"sent"_qs);

    ASSERT_TRUE(waitForMessages(2));
    EXPECT_EQ(received, (QList<QByteArray>{"from-owner", "raw-from-owner"}));
}
