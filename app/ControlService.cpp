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

void ControlService::Approve(const QString& id) {
    answer(m_commands.respond(id, true));
}

void ControlService::Deny(const QString& id) {
    answer(m_commands.respond(id, false));
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

namespace {
void runOrSay(const std::function<void()>& surface, const char* what) {
    if (surface)
        surface();
    else
        qCInfo(lcApp).noquote() << "Asked to" << what << "but this engine runs without a display";
}
} // namespace

void ControlService::Show() {
    runOrSay(onShow, "show itself,");
}

void ControlService::Toggle() {
    runOrSay(onToggle, "toggle the dropdown,");
}

void ControlService::OpenSettings() {
    runOrSay(onOpenSettings, "open the settings,");
}
