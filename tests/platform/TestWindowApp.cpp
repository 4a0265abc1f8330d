// Test helper: an X11 "application" with windows of a given WM_CLASS and titles, driven from
// standard input.   tessarine-test-window CLASS TITLE [TITLE...]
// Prints one window id per line, then reads commands: "title INDEX TEXT". Exits at end of input.
// A CLASS written "legacy:NAME" makes windows as old X clients do: WM_CLASS NAME and WM_NAME
// only, without _NET_WM_PID or _NET_WM_NAME.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return value;
}

bool legacy = false;

void setTitle(xcb_connection_t* connection, xcb_window_t window, const std::string& title) {
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    if (!legacy)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window,
                            atom(connection, "_NET_WM_NAME"), utf8, 8,
                            static_cast<uint32_t>(title.size()), title.data());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, static_cast<uint32_t>(title.size()), title.data());
    xcb_flush(connection);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3)
        return 2;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 3;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    std::string className = argv[1];
    if (className.rfind("legacy:", 0) == 0) {
        legacy = true;
        className = className.substr(7);
    }
    std::string wmClass = className + '\0' + className + '\0';
    const uint32_t pid = static_cast<uint32_t>(::getpid());

    std::vector<xcb_window_t> windows;
    for (int i = 2; i < argc; ++i) {
        const xcb_window_t window = xcb_generate_id(connection);
        // A background the server paints: under XWayland a window that never shows a
        // picture is never put on screen.
        const uint32_t background = screen->white_pixel;
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 10 * i, 10 * i,
                          200, 120, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL, &background);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, static_cast<uint32_t>(wmClass.size()),
                            wmClass.data());
        if (!legacy)
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window,
                                atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        setTitle(connection, window, argv[i]);
        xcb_map_window(connection, window);
        windows.push_back(window);
    }
    xcb_flush(connection);
    for (xcb_window_t window : windows)
        std::printf("%u\n", window);
    std::fflush(stdout);

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.rfind("title ", 0) == 0) {
            const std::size_t space = line.find(' ', 6);
            const std::size_t index = std::stoul(line.substr(6, space - 6));
            if (index < windows.size())
                setTitle(connection, windows[index], line.substr(space + 1));
        }
        std::printf("done\n");
        std::fflush(stdout);
    }
    xcb_disconnect(connection);
    return 0;
}
