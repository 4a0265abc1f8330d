#pragma once

#include "detectors/Detector.h"

#include <QHash>
#include <QSet>

class UserDefaults;

// Notices an unsent message being written in a mail application (a reply, a forward, a new
// message or a draft, judged by the window title) and marks its loop as work in progress.
class ComposeDetector final : public Detector {
public:
    explicit ComposeDetector(QSet<QString> bundleIDs);

    QString kind() const override { return QStringLiteral("compose"); }
    bool handles(const QString& bundleID) const override { return m_bundleIDs.contains(bundleID); }
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals& signals) override;

    // The built-in mail applications and those listed under "settings.composeBundleIDs".
    // The built-in clients (Linux and others) plus "settings.composeBundleIDs".
    static QSet<QString> resolvedBundleIDs(const UserDefaults& settings);
    static const QSet<QString>& linuxMailClients();
    static bool isComposeWindow(const QString& title);

private:
    QSet<QString> m_bundleIDs;
    QHash<QString, QString> m_lastComposeTitle;
};
