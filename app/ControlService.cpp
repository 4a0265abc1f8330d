#include "app/ControlService.h"

#include "app/AppModel.h"
#include "model/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonDocument>

ControlService::ControlService(AppModel& model, UserCommands& commands, QObject* parent)
    : QObject(parent)
    , m_commands(commands) {
    QObject::connect(&model, &AppModel::loopsChanged, this, &ControlService::LoopsChanged);
}

bool ControlService::registerOnSessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcApp) << "No session bus: the command line cannot reach this Tessarine";
        return false;
    }
    if (!bus.registerObject(objectPath, this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
        !bus.registerService(serviceName)) {
        qCWarning(lcApp).noquote() << "Could not take" << serviceName
                                   << "on the session bus:" << bus.lastError().message();
        return false;
    }
    return true;
}

void ControlService::answer(const QString& error) {
    if (!error.isEmpty() && calledFromDBus())
        sendErrorReply(failedError, error);
}

QString ControlService::Loops() {
    return QString::fromUtf8(QJsonDocument(m_commands.loops()).toJson(QJsonDocument::Compact));
}

void ControlService::Open(const QString& id) {
    answer(m_commands.open(id));
}

void ControlService::Dismiss(const QString& id) {
    answer(m_commands.dismiss(id));
}

void ControlService::Snooze(const QString& id, const QString& duration) {
    answer(m_commands.snooze(id, duration));
}

void ControlService::TogglePin(const QString& id) {
    answer(m_commands.togglePin(id));
}

void ControlService::MarkNotReady(const QString& id) {
    answer(m_commands.markNotReady(id));
}

void ControlService::SetNote(const QString& id, const QString& note) {
    answer(m_commands.setNote(id, note));
}

void ControlService::ClearAll() {
    answer(m_commands.clearAll());
}

void ControlService::Pause() {
    answer(m_commands.pause());
}

void ControlService::Resume() {
    answer(m_commands.resume());
}

void ControlService::Watch(const QString& id) {
    answer(m_commands.watch(id));
}

void ControlService::Export(const QString& absolutePath) {
    answer(m_commands.exportTo(absolutePath));
}

void ControlService::Exclude(const QString& bundleID) {
    answer(m_commands.exclude(bundleID));
}

void ControlService::Show() {
    qCInfo(lcApp) << "Asked to show itself (no window exists yet)";
}

void ControlService::Toggle() {
    qCInfo(lcApp) << "Asked to toggle the dropdown (no dropdown exists yet)";
}

void ControlService::OpenSettings() {
    qCInfo(lcApp) << "Asked to open the settings (no settings window exists yet)";
}
