#include "store/PrivacyRules.h"

#include "store/GlobMatcher.h"

#include <algorithm>

namespace {

bool anyMatches(const QStringList& patterns, const QString& text) {
    return std::any_of(patterns.cbegin(), patterns.cend(),
                       [&](const QString& pattern) { return GlobMatcher::matches(pattern, text); });
}

} // namespace

bool PrivacyRules::excludesBundleID(const QString& bundleID) const {
    return excludedBundleIDs.contains(bundleID);
}

bool PrivacyRules::excludesWindowTitle(const QString& windowTitle) const {
    return anyMatches(neverTrackTitlePatterns, windowTitle);
}

bool PrivacyRules::excludesURL(const QString& url) const {
    return anyMatches(neverTrackURLPatterns, url);
}
