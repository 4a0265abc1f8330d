#include "detectors/CompanionSetup.h"

#include "detectors/BrowserExtensionBundle.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <exception>

CompanionSetup::CompanionSetup(Dependencies dependencies)
    : m_dependencies(std::move(dependencies)) {}

QString CompanionSetup::prepareBrowserExtension() {
    if (!m_dependencies.resourcesDir)
        return QStringLiteral(
            "The bundled companion is missing. Reinstall Tessarine and try again.");
    QString installed;
    try {
        installed = BrowserExtensionBundle::install(
            QDir(*m_dependencies.resourcesDir)
                .filePath(BrowserExtensionBundle::resourceDirectoryName),
            m_dependencies.dataHome);
    } catch (const std::exception&) {
        return QStringLiteral("Couldn't prepare the companion. Reinstall Tessarine and try again.");
    }
    // The companion's own id applies from now on.
    m_dependencies.settings.remove(QStringLiteral("settings.browserExtensionID"));
    if (m_dependencies.installManifests)
        m_dependencies.installManifests();
    if (m_dependencies.revealInFileViewer)
        m_dependencies.revealInFileViewer(installed);
    const std::optional<QString> browser =
        m_dependencies.openExtensionsPage ? m_dependencies.openExtensionsPage() : std::nullopt;
    if (!browser)
        return QStringLiteral("Ready in your file manager. No Chromium-family browser was found: "
                              "in yours, open chrome://extensions, turn on Developer mode, click "
                              "Load unpacked, and choose \u201CTessarine Companion.\u201D");
    return QStringLiteral("Ready in your file manager. In %1, turn on Developer mode, click Load "
                          "unpacked, and choose \u201CTessarine Companion.\u201D")
        .arg(*browser);
}
