// The executable's diagnostic switches, run as a user runs them.
#include "app/SampleLoops.h"
#include "store/ContextStore.h"
#include "store/KeyProviders.h"

#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Finished {
    int status = -1;
    QString output;
};

Finished tessarine(const QTemporaryDir& home, const QList<QPair<QString, QString>>& switches) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
    environment.insert(u"XDG_CONFIG_HOME"_qs, home.filePath(u"config"_qs));
    environment.insert(u"XDG_RUNTIME_DIR"_qs, home.filePath(u"runtime"_qs));
    environment.insert(u"KESTRUNE_EPHEMERAL_KEY"_qs, u"1"_qs);
    environment.remove(u"DISPLAY"_qs);
    for (const auto& [name, value] : switches)
        environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TESSARINE_EXECUTABLE));
    process.waitForFinished(30000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput())};
}

} // namespace

TEST(DiagnosticsTest, SnapshotsDrawTheDropdownAndTheDumpPrintsTheStateWithoutCapturing) {
    QTemporaryDir home;
    QDir().mkpath(home.filePath(u"runtime"_qs));
    const QString png = home.filePath(u"sample.png"_qs);
    const Finished sample = tessarine(home, {{u"KESTRUNE_SNAPSHOT"_qs, u"1"_qs},
                                             {u"KESTRUNE_SNAPSHOT_SAMPLE"_qs, u"1"_qs},
                                             {u"KESTRUNE_SNAPSHOT_PATH"_qs, png},
                                             {u"KESTRUNE_SNAPSHOT_DIR"_qs, home.path()}});
    EXPECT_EQ(sample.status, 0);
    const QStringList paths = sample.output.trimmed().split(u'\n');
    ASSERT_EQ(paths.size(), 3) << sample.output.toStdString();
    EXPECT_EQ(paths[0], png) << "prints where the pictures are";
    EXPECT_EQ(QImage(paths[1]).height(), 28) << "the island, collapsed";
    EXPECT_GT(QImage(paths[2]).height(), 100) << "and dropped down";
    const QImage image(png);
    EXPECT_GE(image.width(), 300);
    EXPECT_GE(image.height(), 300) << "the sample set fills the dropdown";
    EXPECT_FALSE(QFileInfo::exists(home.filePath(u"data/Kestrune/kestrune.db"_qs)))
        << "the sample never touches the user's database";

    // The user's own loops, in the database a running engine would use.
    {
        const QString folder = home.filePath(u"data/Kestrune"_qs);
        QDir().mkpath(folder);
        EphemeralKeyProvider key(EphemeralKeyProvider::developmentKey());
        ContextStore store(folder + u"/kestrune.db"_qs, key);
        SampleLoops::write(store, std::chrono::system_clock::now());
    }
    const Finished dump = tessarine(home, {{u"KESTRUNE_DEBUG_DUMP"_qs, u"1"_qs}});
    EXPECT_EQ(dump.status, 0);
    EXPECT_TRUE(dump.output.contains(u"Loops (5 open):"_qs)) << dump.output.toStdString();
    EXPECT_TRUE(dump.output.contains(u"  ready: 1"_qs));
    EXPECT_TRUE(dump.output.contains(u"  alsoOpen: 3"_qs));
    EXPECT_TRUE(dump.output.contains(u"Detectors: "_qs));
    EXPECT_TRUE(dump.output.contains(u"settings.sensoryProfile = whisper (default)"_qs));
    EXPECT_FALSE(dump.output.contains(u"Proposal.odt"_qs)) << "titles stay private";
    EXPECT_TRUE(dump.output.contains(u"<private>"_qs));
    const Finished titled = tessarine(
        home, {{u"KESTRUNE_DEBUG_DUMP"_qs, u"1"_qs}, {u"KESTRUNE_DEBUG_TITLES"_qs, u"1"_qs}});
    EXPECT_TRUE(titled.output.contains(u"Proposal.odt"_qs));
}
