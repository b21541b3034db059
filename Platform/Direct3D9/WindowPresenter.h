#pragma once

#include <cstdint>
#include <vector>
#include <xcb/xcb.h>

namespace D3D9StandIn {

// Puts 32-bit X8R8G8B8 pictures into an X11 window over a connection of its own.
class WindowPresenter {
public:
    WindowPresenter() = default;
    ~WindowPresenter();
    WindowPresenter(const WindowPresenter&) = delete;
    WindowPresenter& operator=(const WindowPresenter&) = delete;

    // False when there is no X server, or the window does not exist or has
    // no 32-bit pixel layout.
    bool open(uint32_t window);
    // Waits until the server has the picture, so that what is on the screen
    // afterwards is this picture. As Direct3D 9 presents into a window, a
    // picture of another size than the window is stretched over all of it.
    bool put(const uint32_t* pixels, int width, int height);

private:
    // The window's size now; false when it is gone.
    bool windowSize(int& width, int& height) const;
    // Nearest pixels, into stretched.
    void stretch(const uint32_t* pixels, int width, int height, int toWidth, int toHeight);

    std::vector<uint32_t> stretched;
    xcb_connection_t* connection = nullptr;
    uint32_t window = 0;
    uint32_t context = 0;
    uint8_t depth = 0;
};

} // namespace D3D9StandIn
