#include "WindowPresenter.h"

#include <algorithm>
#include <cstdlib>

namespace D3D9StandIn {

WindowPresenter::~WindowPresenter()
{
    if (connection) {
        if (context)
            xcb_free_gc(connection, context);
        xcb_disconnect(connection);
    }
}

bool WindowPresenter::open(uint32_t target)
{
    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return false;
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, target),
                                                                nullptr);
    if (!geometry)
        return false;
    depth = geometry->depth;
    std::free(geometry);
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool thirtyTwoBits = false;
    for (xcb_format_iterator_t format = xcb_setup_pixmap_formats_iterator(setup); format.rem; xcb_format_next(&format))
        if (format.data->depth == depth)
            thirtyTwoBits = format.data->bits_per_pixel == 32;
    if (!thirtyTwoBits || (depth != 24 && depth != 32))
        return false;
    window = target;
    context = xcb_generate_id(connection);
    return !xcb_request_check(connection, xcb_create_gc_checked(connection, context, window, 0, nullptr));
}

bool WindowPresenter::windowSize(int& width, int& height) const
{
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window),
                                                                nullptr);
    if (!geometry)
        return false;
    width = geometry->width;
    height = geometry->height;
    std::free(geometry);
    return true;
}

void WindowPresenter::stretch(const uint32_t* pixels, int width, int height, int toWidth, int toHeight)
{
    stretched.resize(size_t(toWidth) * size_t(toHeight));
    std::vector<int> columns(size_t(toWidth), 0);
    for (int x = 0; x < toWidth; ++x)
        columns[size_t(x)] = int((int64_t(2 * x + 1) * width) / (2 * int64_t(toWidth)));
    for (int y = 0; y < toHeight; ++y) {
        const uint32_t* from = pixels + size_t((int64_t(2 * y + 1) * height) / (2 * int64_t(toHeight))) * size_t(width);
        uint32_t* to = stretched.data() + size_t(y) * size_t(toWidth);
        for (int x = 0; x < toWidth; ++x)
            to[x] = from[columns[size_t(x)]];
    }
}

bool WindowPresenter::put(const uint32_t* pixels, int width, int height)
{
    int windowWidth = 0, windowHeight = 0;
    if (!context || !windowSize(windowWidth, windowHeight))
        return false;
    if (windowWidth != width || windowHeight != height) {
        stretch(pixels, width, height, windowWidth, windowHeight);
        pixels = stretched.data();
        width = windowWidth;
        height = windowHeight;
    }
    // Requests have a size limit (in 4-byte units): the picture goes in bands of rows.
    const uint32_t limit = xcb_get_maximum_request_length(connection) * 4u;
    const uint32_t stride = uint32_t(width) * 4u;
    const int rows = std::max(1, int((limit - 64) / stride));
    xcb_void_cookie_t last{};
    for (int top = 0; top < height; top += rows) {
        const int band = std::min(rows, height - top);
        const auto put = top + band < height ? xcb_put_image : xcb_put_image_checked;
        last = put(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, context, uint16_t(width), uint16_t(band), 0,
                   int16_t(top), 0, depth, stride * uint32_t(band),
                   reinterpret_cast<const uint8_t*>(pixels + size_t(top) * size_t(width)));
    }
    xcb_generic_error_t* error = xcb_request_check(connection, last);
    if (error) {
        std::free(error);
        return false;
    }
    return true;
}

} // namespace D3D9StandIn
