#pragma once

#include <string>

namespace D3D9StandIn {

// What the tests ask the library to do, read from the environment when
// Direct3DCreate9 is called:
//   D3D9_STANDIN_NULL=1             Direct3DCreate9 returns null
//   D3D9_STANDIN_REFUSE_HARDWARE=1  devices with hardware vertex processing are refused
//   D3D9_STANDIN_LOST=N             the next N cooperative-level tests report the device
//                                   lost, the one after them not reset
//   D3D9_STANDIN_FAIL=what          this creation fails: device (in every mode),
//                                   texture0, texture1, texture2 (by order of creation
//                                   on a device), vertexshader, pixelshader,
//                                   declaration, vertexbuffer, or lock (vertex buffer locks)
struct Controls {
    bool nullDirect3D = false;
    bool refuseHardware = false;
    int lostTests = 0;
    std::string fail;

    static Controls fromEnvironment();
    bool fails(const std::string& what) const { return fail == what; }
};

} // namespace D3D9StandIn
