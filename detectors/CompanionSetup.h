#pragma once

#include <QString>
#include <functional>
#include <optional>

class UserDefaults;

// The settings screen's "prepare the companion" command: installs the extension folder and
// the Firefox package, rewrites the host manifests for the companion's own id, shows what to
// load and opens a Chromium-family browser's extension page. Answers with one line for the
// user.
class CompanionSetup {
public:
    struct Dependencies {
        std::optional<QString> resourcesDir; // none when the application ships no resources
        QString dataHome;
        UserDefaults& settings;
        std::function<void()> installManifests; // empty when no browser detector runs
        std::function<void(const QString& path)> revealInFileViewer;
        // Opens the extension page of an installed Chromium-family browser; that browser's
        // name, or nothing when there is none.
        std::function<std::optional<QString>()> openExtensionsPage;
        // The name of the installed Firefox ("Firefox ESR"), or nothing.
        std::function<std::optional<QString>()> findFirefox;
    };

    explicit CompanionSetup(Dependencies dependencies);
    QString prepareBrowserExtension();

private:
    Dependencies m_dependencies;
};
