#include "detectors/ComposeDetector.h"

#include "platform/UserDefaults.h"

#include <algorithm>

namespace {

const QString kComposeDetail = QStringLiteral("compose:email");

} // namespace

ComposeDetector::ComposeDetector(QSet<QString> bundleIDs)
    : m_bundleIDs(std::move(bundleIDs)) {}

const QSet<QString>& ComposeDetector::linuxMailClients() {
    // Desktop ids (native and Flatpak), and window classes of clients without an entry.
    static const QSet<QString> ids = {QStringLiteral("thunderbird"),
                                      QStringLiteral("org.mozilla.Thunderbird"),
                                      QStringLiteral("thunderbird-esr"),
                                      QStringLiteral("Thunderbird"),
                                      QStringLiteral("org.gnome.Evolution"),
                                      QStringLiteral("org.gnome.Geary"),
                                      QStringLiteral("org.kde.kmail2"),
                                      QStringLiteral("claws-mail"),
                                      QStringLiteral("Mailspring"),
                                      QStringLiteral("betterbird"),
                                      QStringLiteral("eu.betterbird.Betterbird")};
    return ids;
}

QSet<QString> ComposeDetector::resolvedBundleIDs(const UserDefaults& settings) {
    QSet<QString> ids = linuxMailClients();
    ids.insert(QStringLiteral("com.apple.mail"));
    ids.insert(QStringLiteral("com.microsoft.Outlook"));
    for (const QString& id : settings.stringListValue(QStringLiteral("settings.composeBundleIDs"))
                                 .value_or(QStringList()))
        ids.insert(id);
    return ids;
}

bool ComposeDetector::isComposeWindow(const QString& title) {
    static const QStringList replyPrefixes = {
        QStringLiteral("re:"),   QStringLiteral("re :"), QStringLiteral("fwd:"),
        QStringLiteral("fwd :"), QStringLiteral("fw:"),  QStringLiteral("fw :"),
        QStringLiteral("tr:"),   QStringLiteral("aw:"),  QStringLiteral("rv:"),
        QStringLiteral("wg:"),   QStringLiteral("antw:")};
    static const QStringList newMessageTitles = {
        QStringLiteral("new message"),     QStringLiteral("untitled"),
        QStringLiteral("no subject"),      QStringLiteral("nouveau message"),
        QStringLiteral("neue nachricht"),  QStringLiteral("nuevo mensaje"),
        QStringLiteral("nuovo messaggio"), QStringLiteral("nieuw bericht"),
        QStringLiteral("ny melding"),      QStringLiteral("nytt meddelande")};
    static const QStringList draftWords = {QStringLiteral("draft"), QStringLiteral("brouillon"),
                                           QStringLiteral("entwurf")};
    const QString t = title.trimmed().toLower();
    if (t.isEmpty())
        return false;
    const auto startsWith = [&t](const QString& prefix) { return t.startsWith(prefix); };
    const auto contains = [&t](const QString& word) { return t.contains(word); };
    return std::any_of(replyPrefixes.cbegin(), replyPrefixes.cend(), startsWith) ||
           newMessageTitles.contains(t) ||
           std::any_of(draftWords.cbegin(), draftWords.cend(), contains);
}

void ComposeDetector::observe(const FocusEvent& event, const std::optional<ContextRecord>&,
                              const DetectorSignals& signals) {
    const bool composing = event.windowTitle && isComposeWindow(*event.windowTitle);
    switch (event.kind) {
    case FocusEvent::Kind::FocusGained:
    case FocusEvent::Kind::WindowTitleChanged:
        break;
    case FocusEvent::Kind::AppTerminated:
        m_lastComposeTitle.remove(event.bundleID);
        return;
    default:
        return;
    }
    if (!composing) {
        if (event.kind == FocusEvent::Kind::WindowTitleChanged)
            m_lastComposeTitle.remove(event.bundleID);
        return;
    }
    const QString& title = *event.windowTitle;
    const auto reported = m_lastComposeTitle.constFind(event.bundleID);
    if (reported != m_lastComposeTitle.cend() && *reported == title)
        return; // already reported
    const std::optional<QString> contextID = signals.claim(event.bundleID, title, event.occurredAt);
    if (!contextID)
        return;
    m_lastComposeTitle.insert(event.bundleID, title);
    signals.pending(*contextID, kComposeDetail, event.occurredAt);
}
