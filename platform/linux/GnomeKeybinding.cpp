#include "platform/linux/GnomeKeybinding.h"

#include "platform/GlobalHotkey.h"

namespace {

const QString kMediaKeys = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");

// A GVariant string literal.
QString quoted(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + escaped + u'\'';
}

} // namespace

GnomeKeybinding::GnomeKeybinding(GnomeShellExtension::Gsettings gsettings)
    : m_gsettings(std::move(gsettings)) {}

std::optional<QString> GnomeKeybinding::accelerator(quint32 keyCode, quint32 modifiers) {
    const std::optional<quint32> sym = GlobalHotkey::keysym(keyCode);
    if (!sym || *sym < 0x21 || *sym > 0x7e || !QChar(*sym).isLetterOrNumber())
        return std::nullopt;
    QString text;
    if (modifiers & GlobalHotkey::kControl)
        text += QStringLiteral("<Control>");
    if (modifiers & GlobalHotkey::kOption)
        text += QStringLiteral("<Alt>");
    if (modifiers & GlobalHotkey::kShift)
        text += QStringLiteral("<Shift>");
    if (modifiers & GlobalHotkey::kCommand)
        text += QStringLiteral("<Super>");
    return text + QChar(*sym);
}

QString GnomeKeybinding::bind(quint32 keyCode, quint32 modifiers, const QString& command) {
    const std::optional<QString> keys = accelerator(keyCode, modifiers);
    if (!keys)
        return QStringLiteral("GNOME cannot bind %1; choose a letter or a digit with Ctrl, Alt "
                              "or Super.")
            .arg(GlobalHotkey::describe(keyCode, modifiers));
    const QString binding = QStringLiteral("%1.custom-keybinding:%2").arg(kMediaKeys, path);
    const std::optional<QString> list =
        m_gsettings({QStringLiteral("get"), kMediaKeys, QStringLiteral("custom-keybindings")});
    const std::optional<QString> updated =
        list ? GnomeShellExtension::withItem(*list, path) : std::nullopt;
    const bool written =
        updated &&
        m_gsettings({QStringLiteral("set"), binding, QStringLiteral("name"),
                     quoted(QStringLiteral("Tessarine"))}) &&
        m_gsettings({QStringLiteral("set"), binding, QStringLiteral("command"), quoted(command)}) &&
        m_gsettings({QStringLiteral("set"), binding, QStringLiteral("binding"), quoted(*keys)}) &&
        m_gsettings(
            {QStringLiteral("set"), kMediaKeys, QStringLiteral("custom-keybindings"), *updated});
    if (!written)
        return QStringLiteral("GNOME's keyboard settings could not be changed. Add it in "
                              "Settings \u203a Keyboard \u203a Custom Shortcuts: the command "
                              "%1.")
            .arg(command);
    return QStringLiteral("Added: %1 opens Tessarine (Settings \u203a Keyboard \u203a Custom "
                          "Shortcuts).")
        .arg(GlobalHotkey::describe(keyCode, modifiers));
}
