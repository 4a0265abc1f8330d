#pragma once

#include "detectors/Detector.h"
#include "platform/Accessibility.h"

#include <QHash>
#include <QSet>

class Workspace;

// Tells when a command left running in a terminal has finished, from the terminal's window
// title alone: a title naming an idle shell or showing a path means the prompt is back; any
// other title means a command runs. Leaving a busy terminal reports pending; a later title
// change to an idle one reports its waiting loop ready.
class TerminalDetector final : public Detector {
public:
    using Clock = std::function<TimePoint()>;

    static const QSet<QString>& terminalBundleIDs();

    TerminalDetector(
        Accessibility& accessibility, const Workspace& workspace,
        Clock now = [] { return std::chrono::system_clock::now(); });

    QString kind() const override { return QStringLiteral("terminal"); }
    bool handles(const QString& bundleID) const override {
        return terminalBundleIDs().contains(bundleID);
    }
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals& signals) override;
    // Observers stay while capture is paused.
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;

    static bool looksIdle(const QString& title);
    static bool looksBusy(const QString& title) { return !title.isEmpty() && !looksIdle(title); }
    std::optional<QString> currentTitle(const QString& bundleID) const;
    int observerCount() const { return static_cast<int>(m_observers.size()); }

private:
    std::optional<QString> focusedWindowTitle(qint64 pid) const;
    void ensureObserver(const QString& bundleID);
    void removeObserver(const QString& bundleID);
    void addTitleNotifications(Accessibility::Observer& observer, qint64 pid);
    void titleDidChange();

    Accessibility& m_accessibility;
    const Workspace& m_workspace;
    Clock m_now;
    DetectorSignalsPtr m_signals;
    std::optional<DetectorEnvironment> m_environment;
    std::unordered_map<qint64, std::unique_ptr<Accessibility::Observer>> m_observers;
};
