#include "platform/linux/X11GlobalHotkey.h"

#include "platform/linux/Xcb.h"

#include <QSocketNotifier>
#include <xcb/xcb.h>

namespace {

constexpr quint32 kSuperL = 0xffeb;
constexpr quint32 kSuperR = 0xffec;
constexpr quint32 kAltL = 0xffe9;
constexpr quint32 kAltR = 0xffea;
constexpr quint32 kMetaL = 0xffe7;
constexpr quint32 kNumLock = 0xff7f;
constexpr quint32 kScrollLock = 0xff14;

} // namespace

std::optional<quint16> X11GlobalHotkey::modifierMask(quint32 carbonModifiers, quint16 superMask,
                                                     quint16 altMask) {
    quint16 mask = 0;
    if (carbonModifiers & kCommand)
        mask |= superMask;
    if (carbonModifiers & kOption)
        mask |= altMask;
    if (carbonModifiers & kControl)
        mask |= XCB_MOD_MASK_CONTROL;
    if (carbonModifiers & kShift)
        mask |= XCB_MOD_MASK_SHIFT;
    // A bare key (or one with Shift alone) would be taken from every application.
    if ((mask & ~XCB_MOD_MASK_SHIFT) == 0)
        return std::nullopt;
    return mask;
}

QList<quint16> X11GlobalHotkey::lockCombinations(const QList<quint16>& lockMasks) {
    QList<quint16> combinations{0};
    for (const quint16 lock : lockMasks) {
        if (lock == 0)
            continue;
        const QList<quint16> without = combinations;
        for (const quint16 combination : without) {
            if (!combinations.contains(combination | lock))
                combinations.append(combination | lock);
        }
    }
    return combinations;
}

X11GlobalHotkey::X11GlobalHotkey() {
    const std::optional<XcbDisplay> display = connectDisplay();
    if (!display)
        return;
    m_connection = display->connection;
    m_root = display->root;
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection),
                                                   QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
}

X11GlobalHotkey::~X11GlobalHotkey() {
    m_notifier.reset();
    if (m_connection) {
        ungrabCurrent();
        xcb_disconnect(m_connection);
    }
}

X11GlobalHotkey::Mapping X11GlobalHotkey::readMapping(quint32 wanted) const {
    Mapping mapping;
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    const quint8 first = setup->min_keycode;
    const quint8 count = static_cast<quint8>(setup->max_keycode - first + 1);
    const ReplyPtr<xcb_get_keyboard_mapping_reply_t> keyboard(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, first, count), nullptr));
    const ReplyPtr<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!keyboard || !modifiers)
        return mapping;
    const int perKeycode = keyboard->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    const int symCount = xcb_get_keyboard_mapping_keysyms_length(keyboard.get());
    const auto hasSym = [&](quint8 keycode, std::initializer_list<quint32> wantedSyms) {
        if (keycode < first || perKeycode == 0)
            return false;
        const int start = (keycode - first) * perKeycode;
        for (int i = start; i < start + perKeycode && i < symCount; ++i) {
            for (const quint32 sym : wantedSyms) {
                if (syms[i] == sym)
                    return true;
            }
        }
        return false;
    };
    for (int keycode = first; keycode < first + count && !mapping.keycode; ++keycode) {
        if (hasSym(static_cast<quint8>(keycode), {wanted}))
            mapping.keycode = static_cast<quint8>(keycode);
    }

    quint16 numLock = 0;
    quint16 scrollLock = 0;
    const int perModifier = modifiers->keycodes_per_modifier;
    const xcb_keycode_t* modifierKeys = xcb_get_modifier_mapping_keycodes(modifiers.get());
    for (int modifier = 3; modifier < 8; ++modifier) { // Mod1…Mod5
        const quint16 mask = static_cast<quint16>(1u << modifier);
        for (int i = 0; i < perModifier; ++i) {
            const quint8 keycode = modifierKeys[modifier * perModifier + i];
            if (keycode == 0)
                continue;
            if (hasSym(keycode, {kSuperL, kSuperR}))
                mapping.superMask |= mask;
            if (hasSym(keycode, {kAltL, kAltR, kMetaL}))
                mapping.altMask |= mask;
            if (hasSym(keycode, {kNumLock}))
                numLock |= mask;
            if (hasSym(keycode, {kScrollLock}))
                scrollLock |= mask;
        }
    }
    // Servers that place neither keep the conventional Mod4 and Mod1.
    if (mapping.superMask == 0)
        mapping.superMask = XCB_MOD_MASK_4;
    if (mapping.altMask == 0)
        mapping.altMask = XCB_MOD_MASK_1;
    mapping.lockMasks = {XCB_MOD_MASK_LOCK, numLock, scrollLock};
    return mapping;
}

bool X11GlobalHotkey::grab(quint32 keyCode, quint32 modifiers, std::function<void()> pressed) {
    release();
    m_keyCode = keyCode;
    m_modifiers = modifiers;
    m_pressed = std::move(pressed);
    return grabCurrent();
}

void X11GlobalHotkey::release() {
    if (m_connection)
        ungrabCurrent();
    m_keyCode.reset();
    m_pressed = nullptr;
}

bool X11GlobalHotkey::grabCurrent() {
    if (!m_connection || !m_keyCode)
        return false;
    const std::optional<quint32> sym = GlobalHotkey::keysym(*m_keyCode);
    if (!sym)
        return false;
    const Mapping mapping = readMapping(*sym);
    const std::optional<quint16> mask =
        modifierMask(m_modifiers, mapping.superMask, mapping.altMask);
    if (!mapping.keycode || !mask)
        return false;
    m_grabbedKeycode = mapping.keycode;
    m_grabbedMask = *mask;
    m_grabbedLocks = lockCombinations(mapping.lockMasks);
    QList<xcb_void_cookie_t> cookies;
    for (const quint16 locks : std::as_const(m_grabbedLocks))
        cookies.append(xcb_grab_key_checked(m_connection, 1, m_root, m_grabbedMask | locks,
                                            *m_grabbedKeycode, XCB_GRAB_MODE_ASYNC,
                                            XCB_GRAB_MODE_ASYNC));
    bool taken = false;
    for (const xcb_void_cookie_t cookie : cookies) {
        const ReplyPtr<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie));
        taken = taken || error != nullptr;
    }
    if (taken) {
        // Another program holds some variant: ours would work only now and then.
        ungrabCurrent();
        return false;
    }
    return true;
}

void X11GlobalHotkey::ungrabCurrent() {
    if (!m_grabbedKeycode)
        return;
    for (const quint16 locks : std::as_const(m_grabbedLocks))
        xcb_ungrab_key(m_connection, *m_grabbedKeycode, m_root, m_grabbedMask | locks);
    xcb_flush(m_connection);
    m_grabbedKeycode.reset();
    m_grabbedLocks.clear();
}

void X11GlobalHotkey::readEvents() {
    bool remap = false;
    bool press = false;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(m_connection)) {
        const ReplyPtr<xcb_generic_event_t> event(raw);
        const quint8 type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS) {
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(raw);
            quint16 locks = 0;
            for (const quint16 combination : std::as_const(m_grabbedLocks))
                locks |= combination;
            press = press || (m_grabbedKeycode && key->detail == *m_grabbedKeycode &&
                              (key->state & ~locks & 0xff) == m_grabbedMask);
        } else if (type == XCB_MAPPING_NOTIFY) {
            const auto* change = reinterpret_cast<const xcb_mapping_notify_event_t*>(raw);
            remap = remap || change->request != XCB_MAPPING_POINTER;
        }
    }
    if (xcb_connection_has_error(m_connection)) {
        m_notifier->setEnabled(false);
        return;
    }
    if (remap && m_keyCode) {
        ungrabCurrent();
        grabCurrent();
    }
    if (press && m_pressed) {
        const std::function<void()> pressed = m_pressed; // it may grab another shortcut
        pressed();
    }
}
