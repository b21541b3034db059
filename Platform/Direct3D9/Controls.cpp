#include "Controls.h"

#include <cstdlib>

namespace D3D9StandIn {

namespace {
const char* variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
} // namespace

Controls Controls::fromEnvironment()
{
    Controls controls;
    controls.nullDirect3D = std::atoi(variable("D3D9_STANDIN_NULL")) != 0;
    controls.refuseHardware = std::atoi(variable("D3D9_STANDIN_REFUSE_HARDWARE")) != 0;
    controls.lostTests = std::atoi(variable("D3D9_STANDIN_LOST"));
    controls.fail = variable("D3D9_STANDIN_FAIL");
    return controls;
}

} // namespace D3D9StandIn
