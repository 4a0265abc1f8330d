#pragma once

#include "detectors/SessionLogDetector.h"

#include <QByteArray>
#include <atomic>
#include <optional>

// What the launch needs from a session log — its latest event, its latest prompt and its
// session name — read from the end of the file backwards in blocks, stopping once all three
// are found. Lines are parsed only when they hold one of the configuration's markers, and no
// more than one block and one line (up to the line cap) are held at a time.
class SessionLogTail {
public:
    struct Facts {
        std::optional<QString> label;                         // the last line naming one
        std::optional<SessionLogDetector::Event> latest;      // the last event
        std::optional<SessionLogDetector::PromptSent> prompt; // the last prompt
        QByteArray partialLine;      // after the last line break: unfinished
        bool partialTooLong = false; // an unfinished line over the cap, dropped
        bool complete = false;       // all three found, or the whole file read
        qint64 bytesRead = 0;
    };
    static constexpr qint64 kBlockBytes = 64 * 1024;

    // Reads the first `size` bytes of `path` from their end, at most `budget` bytes (then
    // `complete` is false); nothing when the file cannot be read. `cancel` stops it early.
    static std::optional<Facts> read(const QString& path, qint64 size,
                                     const SessionLogDetector::Config& config, qint64 budget,
                                     const std::atomic<bool>* cancel = nullptr);
};
