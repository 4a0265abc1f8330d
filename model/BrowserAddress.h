#pragma once

#include <QString>
#include <optional>

// The address of a browser's tab as its address bar or its document shows it, made into an
// address that can be opened again: scheme, host, port and path (query and fragment left
// out, as they may carry private data); a bar's text without a scheme is taken as https.
// Nothing for the browser's own pages (chrome://, about:, edge://) or anything without a host.
namespace BrowserAddress {

// Whether an address bar's text looks like an address at all.
bool looksLikeAddress(const QString& text);
std::optional<QString> normalized(const QString& text);

} // namespace BrowserAddress
