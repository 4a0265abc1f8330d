#pragma once

#include "Wait.h"
#include "engine/StateMachineFixture.h"
#include "detectors/DetectorRegistry.h"
#include "detectors/DetectorSignalBinding.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

// Detectors registered the way the application does: real signal binding, a real state
// machine over an encrypted store, files in a temporary home.
class DetectorFixture : public StateMachineFixture {
protected:
    QTemporaryDir home;
    MemoryUserDefaults settings;
    FakeWorkspace workspace;
    std::shared_ptr<StateMachine> shared = std::make_shared<StateMachine>(
        *store, StateMachineConfiguration{}, &timer, [this] { return clock; });
    DetectorRegistry registry{[this](const QString& kind) {
                                  return DetectorSignalBinding::signalsFor(kind, shared, *store,
                                                                           settings);
                              },
                              DetectorSignalBinding::environment(*store, workspace)};

    // Writes (appends) a file below the home, optionally dated some seconds before the clock.
    QString writeFile(const QString& relative, const QByteArray& contents,
                      std::optional<double> modifiedSecondsAgo = std::nullopt,
                      QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append) {
        const QString path = home.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(mode));
        file.write(contents);
        file.flush(); // before the time is set, or the flush at close would reset it
        if (modifiedSecondsAgo)
            file.setFileTime(QDateTime::fromMSecsSinceEpoch(toMillis(clock) -
                                                            qint64(*modifiedSecondsAgo * 1000)),
                             QFileDevice::FileModificationTime);
        return QFileInfo(path).canonicalFilePath();
    }

    // "kind signal detail @seconds" for every signal stored for a loop.
    QStringList signalsOf(const QString& contextID) {
        auto db = raw();
        Statement rows(*db, u"SELECT detector_kind, signal, signal_detail, observed_at FROM "
                            "detector_state WHERE context_id = ? ORDER BY rowid"_qs);
        rows.bindAll(contextID);
        QStringList list;
        while (rows.step())
            list.append(rows.text(0).value_or(QString()) + u' ' + rows.text(1).value_or(QString()) +
                        u' ' + rows.text(2).value_or(QString()) + u" @"_qs +
                        QString::number((rows.int64(3).value_or(0) - ms(0)) / 1000));
        return list;
    }

    // Runs the event loop until `done` holds or the time is up.
    template <typename Predicate> static bool waitUntil(Predicate done, int milliseconds = 5000) {
        return waitFor(done, milliseconds);
    }
    // Runs the event loop past queued work and a watch's latency (0.3 s), for asserting that
    // nothing came.
    static void drain(int milliseconds = 700) { runEventLoopFor(milliseconds); }
};
