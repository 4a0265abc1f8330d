#include "app/SampleLoops.h"

#include "model/FocusEvent.h"
#include "model/StateReason.h"
#include "store/ContextStore.h"

std::optional<QString> SampleLoops::add(ContextStore& store, const Loop& loop) {
    using State = ContextState;
    const TimePoint before = loop.at - std::chrono::minutes(1);
    store.record(
        FocusEvent{FocusEvent::Kind::FocusGained, loop.bundleID, loop.name, loop.title, before});
    const std::optional<QString> id =
        store.createContext(loop.bundleID, loop.title, std::nullopt, loop.detectorKind.has_value(),
                            loop.detectorKind, before);
    if (!id || loop.state == State::Active)
        return id;
    store.transitionContext(*id, State::Backgrounded, QString::fromLatin1(StateReason::focusLost),
                            loop.at);
    if (loop.state == State::Waiting || loop.state == State::Ready)
        store.transitionContext(*id, State::Waiting,
                                QString::fromLatin1(StateReason::detectorPending), loop.at);
    if (loop.state == State::Ready)
        store.transitionContext(*id, State::Ready, QString::fromLatin1(StateReason::detectorReady),
                                loop.at);
    if (loop.state == State::Stale)
        store.transitionContext(*id, State::Stale, StateReason::staleAfter(1200), loop.at);
    if (loop.note)
        store.setNote(*id, *loop.note);
    if (loop.topic)
        store.setTopic(*id, *loop.topic);
    if (loop.pinned)
        store.setPinned(*id, true);
    return id;
}

QStringList SampleLoops::write(ContextStore& store, TimePoint now) {
    using State = ContextState;
    const auto ago = [now](int minutes) { return now - std::chrono::minutes(minutes); };
    const auto loop = [&](const char16_t* bundleID, const char16_t* name, const char16_t* title,
                          State state, int minutesAgo) {
        Loop made;
        made.bundleID = QString::fromUtf16(bundleID);
        made.name = QString::fromUtf16(name);
        made.title = QString::fromUtf16(title);
        made.state = state;
        made.at = ago(minutesAgo);
        return made;
    };
    Loop loops[] = {
        loop(u"chromium", u"Chromium", u"Claude - Chromium", State::Ready, 2),
        loop(u"claude-code", u"Claude Code", u"~/src/tessarine", State::Waiting, 3),
        loop(u"org.gnome.Terminal", u"Terminal", u"make release", State::Waiting, 6),
        loop(u"org.mozilla.Thunderbird", u"Thunderbird", u"Re: Quarterly numbers",
             State::Backgrounded, 14),
        loop(u"org.libreoffice.LibreOffice.writer", u"LibreOffice Writer", u"Proposal.odt",
             State::Stale, 95),
        loop(u"org.gnome.Nautilus", u"Files", u"Downloads", State::Backgrounded, 20),
        loop(u"org.gnome.Calculator", u"Calculator", u"Calculator", State::Backgrounded, 31),
        loop(u"org.gnome.TextEditor", u"Text Editor", u"notes.txt", State::Stale, 240),
    };
    loops[0].topic = u"Refactoring The Sync Engine"_qs;
    loops[1].topic = u"Fix The Flaky Sync Test"_qs;
    loops[1].detectorKind = u"claude_code"_qs;
    loops[2].note = u"release build for Friday"_qs;
    loops[3].note = u"answer Dana"_qs;
    loops[4].pinned = true;
    QStringList ids;
    for (const Loop& loop : loops) {
        if (const std::optional<QString> id = add(store, loop))
            ids.append(*id);
    }
    return ids;
}
