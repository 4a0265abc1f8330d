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
    const QDir resources(*m_dependencies.resourcesDir);
    const std::optional<QString> firefox =
        m_dependencies.findFirefox ? m_dependencies.findFirefox() : std::nullopt;
    QString installed;
    QString package;
    try {
        installed = BrowserExtensionBundle::install(
            resources.filePath(BrowserExtensionBundle::resourceDirectoryName),
            m_dependencies.dataHome);
        if (firefox)
            package = BrowserExtensionBundle::installFirefoxPackage(
                resources.filePath(BrowserExtensionBundle::firefoxPackageName),
                m_dependencies.dataHome);
    } catch (const std::exception&) {
        return QStringLiteral("Couldn't prepare the companion. Reinstall Tessarine and try again.");
    }
    // The companion's own id applies from now on.
    m_dependencies.settings.remove(QStringLiteral("settings.browserExtensionID"));
    if (m_dependencies.installManifests)
        m_dependencies.installManifests();
    const std::optional<QString> browser =
        m_dependencies.openExtensionsPage ? m_dependencies.openExtensionsPage() : std::nullopt;
    if (m_dependencies.revealInFileViewer)
        m_dependencies.revealInFileViewer(firefox && !browser ? package : installed);

    const QString loadUnpacked = QStringLiteral(
        "turn on Developer mode, click Load unpacked, and choose \u201CTessarine Companion.\u201D");
    QString status = QStringLiteral("Ready in your file manager.");
    if (browser)
        status += QStringLiteral(" In %1, ").arg(*browser) + loadUnpacked;
    if (firefox)
        // Until Mozilla signs the companion, only these Firefoxes install it for good.
        status += QStringLiteral(
                      " In %1, open about:addons, choose Install Add-on From File, and pick "
                      "\u201C%2.\u201D Firefox ESR, Developer Edition and Nightly take it once "
                      "xpinstall.signatures.required is false in about:config; other Firefox "
                      "releases load it only as a temporary add-on from about:debugging, until "
                      "they restart.")
                      .arg(*firefox, BrowserExtensionBundle::firefoxPackageName);
    if (!browser && !firefox)
        status += QStringLiteral(" No Chromium-family browser was found: in yours, open "
                                 "chrome://extensions, ") +
                  loadUnpacked;
    return status;
}
