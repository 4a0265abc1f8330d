#include "ui/SampleLoops.h"

#include "model/FocusEvent.h"
#include "model/StateReason.h"
#include "store/ContextStore.h"

namespace {

struct Sample {
    const char* bundleID;
    const char* name;
    const char* title;
    ContextState state;
    int minutesAgo;
    const char* note = nullptr;
    const char* topic = nullptr;
    const char* detectorKind = nullptr;
    bool pinned = false;
};

} // namespace

QStringList SampleLoops::write(ContextStore& store, TimePoint now) {
    using State = ContextState;
    const Sample samples[] = {
        {"chromium", "Chromium", "Claude - Chromium", State::Ready, 2, nullptr,
         "Refactoring The Sync Engine"},
        {"org.gnome.Terminal", "Terminal", "make release", State::Waiting, 6,
         "release build for Friday"},
        {"org.mozilla.Thunderbird", "Thunderbird", "Re: Quarterly numbers", State::Backgrounded, 14,
         "answer Dana"},
        {"org.libreoffice.LibreOffice.writer", "LibreOffice Writer", "Proposal.odt", State::Stale,
         95, nullptr, nullptr, nullptr, true},
        {"claude-code", "Claude Code", "~/src/tessarine", State::Waiting, 3, nullptr,
         "Fix The Flaky Sync Test", "claude_code"},
        {"org.gnome.Nautilus", "Files", "Downloads", State::Backgrounded, 20},
        {"org.gnome.Calculator", "Calculator", "Calculator", State::Backgrounded, 31},
        {"org.gnome.TextEditor", "Text Editor", "notes.txt", State::Stale, 240},
    };
    QStringList ids;
    for (const Sample& sample : samples) {
        const TimePoint at = now - std::chrono::minutes(sample.minutesAgo);
        const QString bundleID = QString::fromLatin1(sample.bundleID);
        store.record(FocusEvent{FocusEvent::Kind::FocusGained, bundleID,
                                QString::fromUtf8(sample.name), QString::fromUtf8(sample.title),
                                at - std::chrono::minutes(1)});
        const std::optional<QString> detector =
            sample.detectorKind ? std::optional(QString::fromLatin1(sample.detectorKind))
                                : std::nullopt;
        const std::optional<QString> id =
            store.createContext(bundleID, QString::fromUtf8(sample.title), std::nullopt,
                                detector.has_value(), detector, at - std::chrono::minutes(1));
        if (!id)
            continue;
        const QString left = QString::fromLatin1(StateReason::focusLost);
        store.transitionContext(*id, State::Backgrounded, left, at);
        if (sample.state == State::Waiting || sample.state == State::Ready)
            store.transitionContext(*id, State::Waiting,
                                    QString::fromLatin1(StateReason::detectorPending), at);
        if (sample.state == State::Ready)
            store.transitionContext(*id, State::Ready,
                                    QString::fromLatin1(StateReason::detectorReady), at);
        if (sample.state == State::Stale)
            store.transitionContext(*id, State::Stale, StateReason::staleAfter(1200), at);
        if (sample.note)
            store.setNote(*id, QString::fromUtf8(sample.note));
        if (sample.topic)
            store.setTopic(*id, QString::fromUtf8(sample.topic));
        if (sample.pinned)
            store.setPinned(*id, true);
        ids.append(*id);
    }
    return ids;
}
