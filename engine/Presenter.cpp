#include "engine/Presenter.h"

AppSurface AppSurfaces::current(const UserDefaults& settings) {
    const std::optional<QString> primary =
        settings.stringValue(QStringLiteral("settings.primarySurface"));
    if (primary == u"notch")
        return AppSurface::Notch;
    if (primary == u"menubar")
        return AppSurface::MenuBar;
    return settings.boolValue(QStringLiteral("settings.notchHUD")).value_or(true)
               ? AppSurface::Notch
               : AppSurface::MenuBar;
}

DropdownNotifier::DropdownNotifier(const UserDefaults& settings)
    : m_settings(settings) {}

void DropdownNotifier::present(const QString&, const QString&, const QString&) {
    if (AppSurfaces::current(m_settings) == AppSurface::MenuBar && onSurface)
        onSurface();
}
