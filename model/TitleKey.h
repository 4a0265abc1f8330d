#pragma once

#include <QString>
#include <optional>

// Turns a window or tab title into the identity of a loop within one application.
// Titles that normalize to the same key are the same loop; no key means application-wide.
namespace TitleKey {
std::optional<QString> normalize(const std::optional<QString>& title);
}
