#include "platform/linux/SecretServiceStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QStringList>
#include <qt6keychain/keychain.h>

namespace {

const QStringList kKeyringServices = {QStringLiteral("org.freedesktop.secrets"),
                                      QStringLiteral("org.kde.kwalletd6"),
                                      QStringLiteral("org.kde.kwalletd5")};

void runToCompletion(QKeychain::Job& job) {
    job.setAutoDelete(false);
    job.setInsecureFallback(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    job.start();
    if (!finished)
        loop.exec();
}

SecretStore::Status statusOf(QKeychain::Error error) {
    switch (error) {
    case QKeychain::NoError:
        return SecretStore::Status::Ok;
    case QKeychain::EntryNotFound:
        return SecretStore::Status::NotFound;
    case QKeychain::NoBackendAvailable:
        return SecretStore::Status::Unavailable;
    default:
        return SecretStore::Status::Failed;
    }
}

} // namespace

bool SecretServiceStore::serviceReachable() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    QDBusConnectionInterface* daemon = bus.interface();
    const QDBusReply<QStringList> activatable =
        daemon->call(QStringLiteral("ListActivatableNames"));
    for (const QString& name : kKeyringServices) {
        if (daemon->isServiceRegistered(name).value())
            return true;
        if (activatable.isValid() && activatable.value().contains(name))
            return true;
    }
    return false;
}

SecretStore::ReadResult SecretServiceStore::read(const QString& service, const QString& account) {
    if (!serviceReachable())
        return {Status::Unavailable, {}, QKeychain::NoBackendAvailable};
    QKeychain::ReadPasswordJob job(service);
    job.setKey(account);
    runToCompletion(job);
    return {statusOf(job.error()), job.binaryData(), static_cast<qint32>(job.error())};
}

SecretStore::WriteResult SecretServiceStore::write(const QString& service, const QString& account,
                                                   const QByteArray& data) {
    if (!serviceReachable())
        return {Status::Unavailable, QKeychain::NoBackendAvailable};
    QKeychain::WritePasswordJob job(service);
    job.setKey(account);
    job.setBinaryData(data);
    runToCompletion(job);
    return {statusOf(job.error()), static_cast<qint32>(job.error())};
}
