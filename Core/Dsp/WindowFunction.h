#pragma once

namespace Harbend {

// A window that scales a frame in place; the kernel form follows the SSE2 flag
// at construction.
class WindowFunction {
public:
    struct Type {
        enum Enum { Rectangle = 0, Hann = 1, Hamming = 2 };
    };

    explicit WindowFunction(Type::Enum type);

    // A type outside the table gets the rectangle, so that scale is always callable.
    void (*scale)(float* data, unsigned n);
};

} // namespace Harbend
