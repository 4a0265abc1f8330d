#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The enforced never-track rules, as loaded from `privacy_rule`.
struct PrivacyRules {
    QSet<QString> excludedBundleIDs;
    QStringList neverTrackTitlePatterns;
    QStringList neverTrackURLPatterns;

    // Exact, case-sensitive membership.
    bool excludesBundleID(const QString& bundleID) const;
    // True when a pattern matches the whole text (wildcards, case folded).
    bool excludesWindowTitle(const QString& windowTitle) const;
    bool excludesURL(const QString& url) const;
};
