// Clicks the left mouse button at x, y of the top-level window whose title is the first
// argument, on the X display in $DISPLAY: "x11_click Orvello 523 441"; with the title alone,
// only looks for the window. The press and the release are sent to the program that made the
// window, so no input extension is needed. Exit status: 0 clicked (or found), 1 no such
// window, 2 no display or a wrong command line.
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if ((argc != 2 && argc != 4) || xcb_connection_has_error(c))
        return 2;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_window_t window = XCB_NONE;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    for (int i = 0; tree && i < xcb_query_tree_children_length(tree) && !window; ++i) {
        const xcb_window_t child = xcb_query_tree_children(tree)[i];
        xcb_get_property_reply_t* name = xcb_get_property_reply(
            c, xcb_get_property(c, 0, child, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
            nullptr);
        if (name && std::string(static_cast<const char*>(xcb_get_property_value(name)),
                                std::size_t(xcb_get_property_value_length(name))) == argv[1])
            window = child;
        std::free(name);
    }
    std::free(tree);
    if (window && argc == 4) {
        const int x = std::atoi(argv[2]), y = std::atoi(argv[3]);
        xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, window, root, int16_t(x), int16_t(y)), nullptr);
        for (const bool press : {true, false}) {
            xcb_button_press_event_t event{};
            event.response_type = press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE;
            event.detail = 1; // the left button
            event.root = root;
            event.event = window;
            event.root_x = int16_t(at ? at->dst_x : x);
            event.root_y = int16_t(at ? at->dst_y : y);
            event.event_x = int16_t(x);
            event.event_y = int16_t(y);
            event.state = press ? 0 : XCB_BUTTON_MASK_1;
            event.same_screen = 1;
            // No event mask: the event goes to the program that made the window.
            xcb_send_event(c, 0, window, 0, reinterpret_cast<const char*>(&event));
        }
        std::free(at);
        xcb_flush(c);
    }
    xcb_disconnect(c);
    return window ? 0 : 1;
}
