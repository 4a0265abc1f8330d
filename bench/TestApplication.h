#pragma once

#include <QProcess>
#include <QString>

// A test application with one window of the given class (tessarine-test-window), for the
// benchmarks that need a real X server.
struct TestApplication {
    QProcess process;
    quint64 window = 0;

    explicit TestApplication(const QString& wmClass) {
        process.start(QStringLiteral(TESSARINE_TEST_WINDOW),
                      {wmClass, wmClass + QStringLiteral(" window")});
        process.waitForStarted();
        process.waitForReadyRead(5000);
        window = process.readLine().trimmed().toULongLong();
    }
    ~TestApplication() {
        process.closeWriteChannel();
        process.waitForFinished(5000);
    }
};
