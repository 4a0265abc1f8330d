#pragma once

#include "platform/GlobalHotkey.h"

#include <QList>
#include <QObject>
#include <memory>
#include <optional>

class QSocketNotifier;
struct xcb_connection_t;

// The shortcut as a passive key grab on the X root window, through a connection of its own:
// the virtual key code becomes a keysym and then this keyboard's keycode, command is Super and
// option is Alt (as the server's modifier map places them), and every combination of
// NumLock, CapsLock and ScrollLock is grabbed too. A keyboard mapping change grabs again.
class X11GlobalHotkey final : public QObject, public GlobalHotkey {
    Q_OBJECT
public:
    X11GlobalHotkey();
    ~X11GlobalHotkey() override;

    bool isConnected() const { return m_connection != nullptr; }
    bool grab(quint32 keyCode, quint32 modifiers, std::function<void()> pressed) override;
    void release() override;

    // X modifier masks of Carbon bits, given the masks Super and Alt sit on.
    static std::optional<quint16> modifierMask(quint32 carbonModifiers, quint16 superMask,
                                               quint16 altMask);
    // Every combination of the lock masks that are present (non-zero), none first.
    static QList<quint16> lockCombinations(const QList<quint16>& lockMasks);

private:
    struct Mapping {
        std::optional<quint8> keycode;
        quint16 superMask = 0;
        quint16 altMask = 0;
        QList<quint16> lockMasks;
    };
    Mapping readMapping(quint32 keysym) const;
    bool grabCurrent();
    void ungrabCurrent();
    void readEvents();

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::optional<quint32> m_keyCode;
    quint32 m_modifiers = 0;
    std::function<void()> m_pressed;
    // What is grabbed now.
    std::optional<quint8> m_grabbedKeycode;
    quint16 m_grabbedMask = 0;
    QList<quint16> m_grabbedLocks;
};
