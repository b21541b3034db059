#pragma once

#include "Platform/Direct3D9.h"

namespace Harbend {
namespace VideoShadersDirect3D9 {

// vs_1_1: passes the position (w = 1) and the texture coordinate through.
extern const DWORD vertexShader[];
extern const unsigned vertexShaderSize;
// ps_2_0: samples TexY, TexU and TexV (s0 to s2) at t0 and writes
// c0 * Y + c1 * U + c2 * V + c3, the constants being ColorMatrix (c0 to c3).
extern const DWORD pixelShader[];
extern const unsigned pixelShaderSize;

} // namespace VideoShadersDirect3D9
} // namespace Harbend
