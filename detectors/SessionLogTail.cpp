#include "detectors/SessionLogTail.h"

#include <QFile>
#include <algorithm>
#include <cstring>

namespace {

// A region of complete lines, read from its last line to its first.
class BackwardLines {
public:
    BackwardLines(const SessionLogDetector::Config& config, SessionLogTail::Facts& facts)
        : m_config(config)
        , m_facts(facts) {}

    bool done() const { return m_facts.label && m_facts.latest && m_facts.prompt; }

    // Lines in [from, to) of `data`, each ended by a line break or by `to`.
    void read(const QByteArray& data, qsizetype from, qsizetype to) {
        if (from >= to || done())
            return;
        const bool filtered = !m_config.eventMarkers.isEmpty() && !m_config.labelMarkers.isEmpty();
        if (!filtered) {
            for (qsizetype end = to; end > from && !done();) {
                const qsizetype start = lineStart(data, from, end);
                inspectLine(data, start, end);
                end = start - 1;
            }
            return;
        }
        // Only lines holding a marker can give an event or a name: find those lines with a
        // fast search of the whole region, then read them from the last.
        QList<std::pair<qsizetype, int>> candidates; // line start, what its markers promise
        const auto collect = [&](const QList<QByteArray>& markers, int promise) {
            for (const QByteArray& marker : markers) {
                const char* begin = data.constData() + from;
                const char* end = data.constData() + to;
                for (const char* hit = begin; hit < end;) {
                    hit = static_cast<const char*>(memmem(hit, static_cast<size_t>(end - hit),
                                                          marker.constData(),
                                                          static_cast<size_t>(marker.size())));
                    if (!hit)
                        break;
                    const qsizetype at = hit - data.constData();
                    candidates.append({lineStart(data, from, at), promise});
                    const void* next = memchr(hit, '\n', static_cast<size_t>(end - hit));
                    hit = next ? static_cast<const char*>(next) + 1 : end;
                }
            }
        };
        constexpr int kEvent = 1;
        constexpr int kLabel = 2;
        if (!m_facts.latest || !m_facts.prompt)
            collect(m_config.eventMarkers, kEvent);
        if (!m_facts.label)
            collect(m_config.labelMarkers, kLabel);
        std::sort(candidates.begin(), candidates.end(),
                  [](const auto& a, const auto& b) { return a.first > b.first; });
        for (qsizetype i = 0; i < candidates.size() && !done();) {
            const qsizetype start = candidates[i].first;
            int promise = 0;
            for (; i < candidates.size() && candidates[i].first == start; ++i)
                promise |= candidates[i].second;
            const bool wanted = ((promise & kEvent) && (!m_facts.latest || !m_facts.prompt)) ||
                                ((promise & kLabel) && !m_facts.label);
            if (!wanted)
                continue;
            const void* lineEnd =
                memchr(data.constData() + start, '\n', static_cast<size_t>(to - start));
            inspectLine(data, start,
                        lineEnd ? static_cast<const char*>(lineEnd) - data.constData() : to);
        }
    }

private:
    static qsizetype lineStart(const QByteArray& data, qsizetype from, qsizetype at) {
        const qsizetype previous = at > from ? data.lastIndexOf('\n', at - 1) : -1;
        return previous < from ? from : previous + 1;
    }

    void inspectLine(const QByteArray& data, qsizetype start, qsizetype end) {
        const QByteArray line = QByteArray::fromRawData(data.constData() + start, end - start);
        if (line.trimmed().isEmpty())
            return;
        const auto [event, name] = m_config.meaning(QByteArray(line));
        if (name && !m_facts.label)
            m_facts.label = name;
        if (!event)
            return;
        if (!m_facts.latest)
            m_facts.latest = event;
        if (const auto* prompt = std::get_if<SessionLogDetector::PromptSent>(&*event);
            prompt && !m_facts.prompt)
            m_facts.prompt = *prompt;
    }

    const SessionLogDetector::Config& m_config;
    SessionLogTail::Facts& m_facts;
};

} // namespace

std::optional<SessionLogTail::Facts> SessionLogTail::read(const QString& path, qint64 size,
                                                          const SessionLogDetector::Config& config,
                                                          qint64 budget,
                                                          const std::atomic<bool>* cancel) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Facts facts;
    BackwardLines lines(config, facts);
    qint64 position = size;
    QByteArray carry;           // the start of a line whose end has been read already
    bool dropping = false;      // that line is over the cap: its bytes are not kept
    bool seenLastBreak = false; // the partial last line has been set apart
    constexpr qsizetype kCap = SessionLogDetector::kMaxLineBytes;
    while (position > 0 && !lines.done()) {
        if (facts.bytesRead >= budget || (cancel && cancel->load()))
            return facts; // not complete
        const qint64 length = std::min(kBlockBytes, position);
        position -= length;
        if (!file.seek(position))
            return std::nullopt;
        const QByteArray block = file.read(length);
        if (block.size() != length)
            return std::nullopt; // shrunk while read
        facts.bytesRead += length;
        const QByteArray data = dropping ? block : block + carry;
        carry.clear();
        qsizetype regionEnd = data.size();
        if (!seenLastBreak || dropping) {
            // The end of `data` is inside a line: the unfinished last one, or a dropped one.
            const qsizetype lastBreak = data.lastIndexOf('\n');
            if (lastBreak < 0) {
                if (!dropping) {
                    carry = data;
                    if (carry.size() > kCap) {
                        carry.clear();
                        dropping = true;
                    }
                }
                continue;
            }
            if (!seenLastBreak) {
                seenLastBreak = true;
                facts.partialLine = dropping ? QByteArray() : data.mid(lastBreak + 1);
                facts.partialTooLong = dropping || facts.partialLine.size() > kCap;
                if (facts.partialTooLong)
                    facts.partialLine.clear();
            }
            dropping = false;
            regionEnd = lastBreak;
        }
        // data[0, regionEnd) ends where a line ends; its first line may begin earlier.
        qsizetype linesFrom = 0;
        if (position > 0) {
            const qsizetype firstBreak = data.indexOf('\n');
            if (firstBreak < 0 || firstBreak >= regionEnd) {
                carry = data.left(regionEnd);
                if (carry.size() > kCap) {
                    carry.clear();
                    dropping = true;
                }
                continue;
            }
            carry = data.left(firstBreak);
            if (carry.size() > kCap) {
                carry.clear();
                dropping = true;
            }
            linesFrom = firstBreak + 1;
        }
        lines.read(data, linesFrom, regionEnd);
    }
    if (!seenLastBreak) { // no line break at all: one unfinished line
        if (dropping)
            facts.partialTooLong = true;
        else
            facts.partialLine = carry;
    }
    facts.complete = true;
    return facts;
}
