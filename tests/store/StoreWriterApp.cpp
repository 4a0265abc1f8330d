// Writes focus events through the real state machine into the store at argv[1] as fast as it
// can, printing the number of each event once ingest has returned (acknowledged). The crash
// test kills it at random moments.
#include "engine/StateMachine.h"
#include "store/ContextStore.h"
#include "store/KeyProviders.h"

#include <QByteArray>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fputs("usage: tessarine-test-store-writer DATABASE HEX-KEY FIRST\n", stderr);
        return 2;
    }
    EphemeralKeyProvider key(QByteArray::fromHex(argv[2]));
    ContextStore store(QString::fromLocal8Bit(argv[1]), key);
    StateMachineConfiguration immediate;
    immediate.engagementThreshold = 0;
    StateMachine machine(store, immediate, nullptr);
    const TimePoint start = std::chrono::system_clock::now();
    for (long i = std::atol(argv[3]);; ++i) {
        const QString app = QStringLiteral("org.example.App%1").arg(i % 5);
        const QString title = QStringLiteral("Window %1").arg(i);
        const TimePoint at = start + std::chrono::milliseconds(i * 10);
        machine.ingest({FocusEvent::Kind::FocusGained, app, std::nullopt, title, at});
        machine.ingest({FocusEvent::Kind::FocusLost, app, std::nullopt, title,
                        at + std::chrono::milliseconds(5)});
        std::printf("%ld\n", i);
        std::fflush(stdout);
    }
}
