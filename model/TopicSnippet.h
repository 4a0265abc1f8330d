#pragma once

#include <QString>
#include <optional>

// A deterministic one-line snippet of a chat prompt: speaker prefixes removed, the first
// non-empty line, white space collapsed, cut on a word boundary with an ellipsis.
namespace TopicSnippet {
std::optional<QString> firstLine(const std::optional<QString>& text, qsizetype maxChars);
}
