// The words of `tessarine COMMAND …` (any bytes, split at NUL as argv is) and the loop list
// the engine answers with, through what reads them before anything is sent or printed.
#include "app/CommandRequest.h"
#include "model/SnoozeDuration.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList words;
    for (const QByteArray& word : bytes.split('\0'))
        words.append(QString::fromLocal8Bit(word));
    const CommandRequest::Parsed parsed =
        CommandRequest::parse(words, QStringLiteral("/home/someone/work"));
    if (!parsed.request && parsed.usageError.isEmpty())
        __builtin_trap(); // a refusal always says why
    for (const QString& word : words)
        (void)SnoozeDuration::isDuration(word);
    (void)CommandRequest::listing(bytes);
    return 0;
}
