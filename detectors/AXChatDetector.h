#pragma once

#include "detectors/Detector.h"
#include "model/RemoteApproval.h"
#include "platform/Accessibility.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class UserDefaults;

// Tells when a desktop AI chat is generating an answer and when it has finished, from its
// controls: while an answer streams the chat shows a button labelled like "Stop generating".
// Each watched application is observed once the user leaves it; a burst of its accessibility
// events leads to one reading of its controls 0.25 s after the last. It also keeps the
// composer's text (for the loop's summary) and, with remote approval on, reports the approval
// prompts the chat shows and presses their buttons on request. Main thread only.
class AXChatDetector final : public Detector {
public:
    static inline const QString kKind = QStringLiteral("ax_chat");
    static constexpr int kDebounceMs = 250;
    static constexpr int kSummaryCharacters = 400;

    // One text area found by a reading.
    struct TextNode {
        QString value;
        bool editable = false;
        bool focused = false;
    };
    struct Controls {
        QStringList labels;
        QList<TextNode> fields;
    };
    struct Dependencies {
        std::function<std::optional<qint64>(const QString& bundleID)> runningPID;
        // Whether the user turned accessibility on.
        std::function<bool()> trusted;
        // Reads the labels and text areas of a process's interface (bounded by the scan
        // budgets) and hands them to `deliver` on the main thread, readings in the order they
        // were asked (a large tree takes long to read: it is read off the main thread).
        std::function<void(qint64 pid, std::function<void(const Controls&)> deliver)> readControls;
        // Follows a process's accessibility events; nothing when it cannot be followed.
        std::function<std::unique_ptr<Accessibility::Observer>(qint64 pid,
                                                               std::function<void()> changed)>
            observe;
        // Presses the first button (depth first) whose label `choose` accepts; whether it was
        // pressed.
        std::function<bool(qint64 pid, const std::function<bool(const QString& label)>& choose)>
            press;
        std::function<TimePoint()> now;
    };
    using PendingChange = std::function<void(const QString& contextID,
                                             const std::optional<RemoteApproval::Pending>&)>;

    AXChatDetector(QSet<QString> bundleIDs, QStringList patterns, const UserDefaults& settings,
                   Dependencies dependencies);
    ~AXChatDetector() override;

    // The watched identities: the Linux ids of the chat applications known here, and
    // "settings.axChatBundleIDs".
    static QSet<QString> resolvedBundleIDs(const UserDefaults& settings);
    static QStringList resolvedPatterns(const UserDefaults& settings);
    static bool isGenerating(const QStringList& controlLabels, const QStringList& patterns);
    static std::optional<QString> chooseComposer(const QList<TextNode>& fields);

    // Installed by the coordinator before registration.
    PendingChange onPendingChange;

    QString kind() const override { return kKind; }
    bool handles(const QString& bundleID) const override { return m_bundleIDs.contains(bundleID); }
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals& signals) override;
    void stop() override;
    // Presses the chat's own button for the user's answer; false when it could not (the
    // caller then takes the user to the application).
    bool respond(const RemoteApproval::Response& response, const QString& bundleID);

private:
    struct ChatState;

    void arm(const QString& bundleID);
    void disarm(ChatState& state);
    void schedule(const QString& bundleID);
    void evaluate(const QString& bundleID);
    void evaluated(const QString& bundleID, ChatState& state, const Controls& controls);
    void adopt(const QString& bundleID, qint64 pid, const Controls& controls);
    void applyGenerating(ChatState& state, bool generating);
    void adoptRunningGenerations(const DetectorEnvironment& environment);
    bool remoteApproveOn() const;
    QStringList approveTerms() const;
    QStringList denyTerms() const;

    QSet<QString> m_bundleIDs;
    QStringList m_patterns;
    const UserDefaults& m_settings;
    Dependencies m_dependencies;
    DetectorSignalsPtr m_signals;
    QHash<QString, std::shared_ptr<ChatState>> m_states;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
