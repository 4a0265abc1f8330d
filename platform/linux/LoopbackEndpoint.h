#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// The address of a model server on this computer, checked before any connection is made:
// only an IP literal in 127.0.0.0/8 or ::1, or "localhost", which becomes 127.0.0.1 and ::1
// without asking a resolver (a resolver or a hosts file could send it elsewhere).
struct LoopbackEndpoint {
    // The OpenAI-style base addresses ("…/v1") to try, in order; empty when refused.
    QList<QUrl> bases;
    // Why the address is refused; empty when it is accepted.
    QString refusal;

    // A base address as the user writes it: "http://127.0.0.1:11434", "localhost:8080/v1".
    // A missing scheme means http; a missing path means "/v1".
    static LoopbackEndpoint parse(const QString& text);
    // A well-known server's port on 127.0.0.1.
    static LoopbackEndpoint onPort(quint16 port);
};
