#pragma once

namespace Harbend {
namespace VideoSurfaceType {

// The kind of video back end that the façade chose.
enum Enum { None = 0, Software = 1, OpenGL = 2, Direct3D = 3 };

// The name that log lines print for a kind.
const char* name(Enum type);

} // namespace VideoSurfaceType
} // namespace Harbend
