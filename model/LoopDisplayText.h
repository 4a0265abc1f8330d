#pragma once

#include <QString>
#include <optional>

// The text side of how loops are shown, shared by every surface (the island's model works
// without a display): which AI site a loop is on, a session's badge, and a title cleaned of
// what every window of an application repeats. The images (letter marks, favicons) are drawn
// by the views.
namespace AISiteMark {

struct Site {
    QString name;
    QString letter;
    double red = 0;
    double green = 0;
    double blue = 0;

    bool operator==(const Site&) const = default;
};

// The first site whose needle occurs in the lowercased text (an address or a title).
std::optional<Site> detect(const std::optional<QString>& text);
// A native AI application by its identity.
std::optional<Site> detectForBundleID(const QString& bundleID);

} // namespace AISiteMark

namespace LoopDisplay {

// "Claude Code", "Codex", "Claude session", "Gemini CLI", "Aider", by detector kind.
std::optional<QString> sessionKindBadge(const std::optional<QString>& detectorKind);

// A window title as a loop's line: without a leading unread counter ("(3) ", "[12] "),
// without a trailing " — Application" / " - Application" naming a browser or the loop's
// own application, with runs of blanks collapsed. Nothing when nothing is left.
std::optional<QString> cleanTitle(const std::optional<QString>& title,
                                  const std::optional<QString>& applicationName = std::nullopt);

} // namespace LoopDisplay
