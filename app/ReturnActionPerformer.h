#pragma once

#include "model/ContextRecord.h"

class Workspace;

// Carries out one stored way back into a loop through the desktop: open an address or a
// file with its default handler, bring an application forward, or put a command or a text
// on the clipboard (never running it).
class ReturnActionPerformer {
public:
    explicit ReturnActionPerformer(Workspace& workspace);
    // Whether the action was carried out.
    bool perform(const ReturnActionRecord& record) const;
    // An address that can be opened: it parses and has a scheme.
    static bool isAddress(const QString& text);

private:
    Workspace& m_workspace;
};

// The way back into a loop that is an AI session.
struct SessionReturn {
    enum class Kind { ClaudeDesktopSession, CodexSession, TerminalHosted, Standard };
    Kind kind = Kind::Standard;
    QString bundleID;
    std::optional<QString> label;

    static SessionReturn plan(const ContextRecord& record);
};
