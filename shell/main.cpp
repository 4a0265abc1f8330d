// Tessarine: keeps the user's unfinished work in an encrypted local database. For now the
// application opens (or creates) that database, seeds the default exclusions and runs until
// it is asked to stop.

#include "core/Environment.h"
#include "core/Log.h"
#include "platform/linux/SecretServiceStore.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "store/ContextStore.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <memory>

namespace {

const QString kSeedResource = QStringLiteral(":/resources/default-exclusions.json");

std::unique_ptr<ContextStore> openStore() {
    const QString path = ContextStore::defaultDatabaseURL();
    if (Environment::isSwitchOn("KESTRUNE_EPHEMERAL_KEY")) {
        EphemeralKeyProvider provider(EphemeralKeyProvider::developmentKey());
        return std::make_unique<ContextStore>(path, provider);
    }
    SecretServiceStore secrets;
    KeychainKeyProvider provider(secrets, path);
    return std::make_unique<ContextStore>(path, provider);
}

void seedDefaults(ContextStore& store) {
    if (!QFile::exists(kSeedResource)) {
        qCCritical(lcApp) << "default-exclusions.json missing from bundle; no defaults seeded";
        return;
    }
    try {
        store.seedDefaultExclusions(kSeedResource);
    } catch (const std::exception& error) {
        qCCritical(lcApp).noquote() << "Failed to seed default exclusions:" << error.what();
    }
}

void logStore(ContextStore& store) {
    qCInfo(lcApp).noquote() << "Context store open at" << store.databasePath();
    QStringList applied = store.appliedMigrations().values();
    std::sort(applied.begin(), applied.end());
    const QStringList now = store.migrationsAppliedAtOpen();
    qCInfo(lcApp).noquote() << "Schema migrations applied:" << applied.join(QStringLiteral(", "))
                            << "(this run:"
                            << (now.isEmpty() ? QStringLiteral("none")
                                              : now.join(QStringLiteral(", "))) +
                                   QLatin1Char(')');
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category} "
                                          "%{if-warning}warning: %{endif}%{if-critical}error: "
                                          "%{endif}%{message}"));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tessarine"));

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &app,
                     [](int signalNumber) {
                         qCInfo(lcApp) << "Stopping on signal" << signalNumber;
                         QCoreApplication::quit();
                     });

    std::unique_ptr<ContextStore> store;
    try {
        store = openStore();
    } catch (const std::exception& error) {
        qCCritical(lcApp).noquote() << "Failed to open context store:" << error.what();
    }
    if (store) {
        seedDefaults(*store);
        logStore(*store);
    }

    qCInfo(lcApp) << "Tessarine is running; press Ctrl+C to stop";
    return QCoreApplication::exec();
}
