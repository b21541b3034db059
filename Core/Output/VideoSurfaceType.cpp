#include "Core/Output/VideoSurfaceType.h"

namespace Harbend {
namespace VideoSurfaceType {

const char* name(Enum type)
{
    switch (type) {
    case Software:
        return "software";
    case OpenGL:
        return "OpenGL";
    case Direct3D:
        return "Direct3D";
    case None:
        break;
    }
    return "none";
}

} // namespace VideoSurfaceType
} // namespace Harbend
