#pragma once

#include <QString>

// Endpoint names shared by Tessarine and kestrune-native-host.
namespace MessagePortNames {
// Where hosts send what the browser companion reports.
inline QString tabContext() {
    return QStringLiteral("app.kestrune.tabctx");
}
// Where one host listens for focus requests: "app.kestrune.host." + its process id.
inline QString host(qint64 processID) {
    return QStringLiteral("app.kestrune.host.") + QString::number(processID);
}
} // namespace MessagePortNames
