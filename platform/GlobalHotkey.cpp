#include "platform/GlobalHotkey.h"

#include <QHash>

namespace {

// Virtual key codes of the ANSI keyboard (the values the settings store) and their keysyms.
const QHash<quint32, quint32>& keysyms() {
    static const QHash<quint32, quint32> table = [] {
        QHash<quint32, quint32> codes;
        const char* letters = "asdfhgzxcv\0bqweryt";
        for (quint32 code = 0; code < 18; ++code) {
            if (letters[code])
                codes.insert(code, static_cast<quint32>(letters[code]));
        }
        const std::pair<quint32, quint32> rest[] = {
            {18, '1'},     {19, '2'},     {20, '3'},     {21, '4'},     {22, '6'},
            {23, '5'},     {24, '='},     {25, '9'},     {26, '7'},     {27, '-'},
            {28, '8'},     {29, '0'},     {30, ']'},     {31, 'o'},     {32, 'u'},
            {33, '['},     {34, 'i'},     {35, 'p'},     {36, 0xff0d},  {37, 'l'},
            {38, 'j'},     {39, '\''},    {40, 'k'},     {41, ';'},     {42, '\\'},
            {43, ','},     {44, '/'},     {45, 'n'},     {46, 'm'},     {47, '.'},
            {48, 0xff09},  {49, ' '},     {50, '`'},     {51, 0xff08},  {53, 0xff1b},
            {96, 0xffc2},  {97, 0xffc3},  {98, 0xffc4},  {99, 0xffc0},  {100, 0xffc5},
            {101, 0xffc6}, {103, 0xffc8}, {105, 0xffca}, {107, 0xffcb}, {109, 0xffc7},
            {111, 0xffc9}, {113, 0xffcc}, {115, 0xff50}, {116, 0xff55}, {117, 0xffff},
            {118, 0xffc1}, {119, 0xff57}, {120, 0xffbf}, {121, 0xff56}, {122, 0xffbe},
            {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52}};
        for (const auto& [code, sym] : rest)
            codes.insert(code, sym);
        return codes;
    }();
    return table;
}

} // namespace

std::optional<quint32> GlobalHotkey::keysym(quint32 keyCode) {
    const auto found = keysyms().constFind(keyCode);
    return found == keysyms().constEnd() ? std::nullopt : std::optional(*found);
}

QString GlobalHotkey::describe(quint32 keyCode, quint32 modifiers) {
    QStringList parts;
    if (modifiers & kControl)
        parts.append(QStringLiteral("Ctrl"));
    if (modifiers & kOption)
        parts.append(QStringLiteral("Alt"));
    if (modifiers & kShift)
        parts.append(QStringLiteral("Shift"));
    if (modifiers & kCommand)
        parts.append(QStringLiteral("Super"));
    const std::optional<quint32> sym = keysym(keyCode);
    if (sym && *sym > 0x20 && *sym < 0x7f)
        parts.append(QString(QChar(*sym)).toUpper());
    else
        parts.append(QStringLiteral("key %1").arg(keyCode));
    return parts.join(u'+');
}
