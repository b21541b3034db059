#include "Core/Output/VideoShadersDirect3D9.h"

namespace Harbend {
namespace VideoShadersDirect3D9 {

// Written by hand as token streams (there is no shader compiler here). Each
// stream: the version, a comment holding the constant table (header,
// constant records, type records, then the names), the instructions and the
// end token. Parameter tokens carry the register type in bits 28 to 30 and
// 11 to 12, the write mask or the swizzle in bits 16 to 23.

const DWORD vertexShader[] = {
    0xFFFE0101, // vs_1_1
    0x000EFFFE, // comment, 14 tokens: the constant table
    0x42415443, // 'CTAB'
    0x0000001C, // header size 28
    0x0000001C, // creator name at 28
    0xFFFE0101, // version
    0x00000000, // 0 constants
    0x0000001C, // constant records at 28
    0x00000000, // flags
    0x0000002B, // target name at 43
    0x62726148, // text "Harb"
    0x20646E65, // text "end "
    0x79616C50, // text "Play"
    0x76007265, // text "er.v"
    0x5F315F73, // text "s_1_"
    0xABAB0031, // text "1..."
    0x0000001F, // dcl_position v0
    0x80000000, //   usage position 0
    0x900F0000, //   v0
    0x0000001F, // dcl_texcoord v1
    0x80000005, //   usage texcoord 0
    0x900F0001, //   v1
    0x00000001, // mov oPos, v0 (w is 1: the declaration gives three floats)
    0xC00F0000, //   oPos
    0x90E40000, //   v0
    0x00000001, // mov oT0.xy, v1
    0xE0030000, //   oT0.xy
    0x90E40001, //   v1
    0x0000FFFF, // end
};
// 116 bytes
const DWORD pixelShader[] = {
    0xFFFF0200, // ps_2_0
    0x0039FFFE, // comment, 57 tokens: the constant table
    0x42415443, // 'CTAB'
    0x0000001C, // header size 28
    0x000000C7, // creator name at 199
    0xFFFF0200, // version
    0x00000004, // 4 constants
    0x0000001C, // constant records at 28
    0x00000000, // flags
    0x000000D6, // target name at 214
    0x000000AC, // ColorMatrix: name
    0x00000002, // ColorMatrix: register set 2, register 0
    0x00000004, // ColorMatrix: 4 registers
    0x0000006C, // ColorMatrix: type record
    0x00000000, // ColorMatrix: no default value
    0x000000B8, // TexU: name
    0x00010003, // TexU: register set 3, register 1
    0x00000001, // TexU: 1 registers
    0x0000007C, // TexU: type record
    0x00000000, // TexU: no default value
    0x000000BD, // TexV: name
    0x00020003, // TexV: register set 3, register 2
    0x00000001, // TexV: 1 registers
    0x0000008C, // TexV: type record
    0x00000000, // TexV: no default value
    0x000000C2, // TexY: name
    0x00000003, // TexY: register set 3, register 0
    0x00000001, // TexY: 1 registers
    0x0000009C, // TexY: type record
    0x00000000, // TexY: no default value
    0x00030003, // type 0: class 3, type 3
    0x00040004, // type 0: 4 rows, 4 columns
    0x00000001, // type 0: 1 element, no members
    0x00000000, // type 0: no member records
    0x000C0004, // type 1: class 4, type 12
    0x00010001, // type 1: 1 rows, 1 columns
    0x00000001, // type 1: 1 element, no members
    0x00000000, // type 1: no member records
    0x000C0004, // type 2: class 4, type 12
    0x00010001, // type 2: 1 rows, 1 columns
    0x00000001, // type 2: 1 element, no members
    0x00000000, // type 2: no member records
    0x000C0004, // type 3: class 4, type 12
    0x00010001, // type 3: 1 rows, 1 columns
    0x00000001, // type 3: 1 element, no members
    0x00000000, // type 3: no member records
    0x6F6C6F43, // text "Colo"
    0x74614D72, // text "rMat"
    0x00786972, // text "rix."
    0x55786554, // text "TexU"
    0x78655400, // text ".Tex"
    0x65540056, // text "V.Te"
    0x48005978, // text "xY.H"
    0x65627261, // text "arbe"
    0x5020646E, // text "nd P"
    0x6579616C, // text "laye"
    0x73700072, // text "r.ps"
    0x305F325F, // text "_2_0"
    0xABABAB00, // text "...."
    0x0200001F, // dcl t0.xy
    0x80000000, //   (no usage)
    0xB0030000, //   t0.xy
    0x0200001F, // dcl_2d s0
    0x90000000, //   2d
    0xA00F0800, //   s0
    0x0200001F, // dcl_2d s1
    0x90000000, //   2d
    0xA00F0801, //   s1
    0x0200001F, // dcl_2d s2
    0x90000000, //   2d
    0xA00F0802, //   s2
    0x03000042, // texld r0, t0, s0
    0x800F0000, //   r0
    0xB0E40000, //   t0
    0xA0E40800, //   s0
    0x03000042, // texld r1, t0, s1
    0x800F0001, //   r1
    0xB0E40000, //   t0
    0xA0E40801, //   s1
    0x03000042, // texld r2, t0, s2
    0x800F0002, //   r2
    0xB0E40000, //   t0
    0xA0E40802, //   s2
    0x04000004, // mad r0, c0, r0.x, c3
    0x800F0000, //   r0
    0xA0E40000, //   c0
    0x80000000, //   r0.x
    0xA0E40003, //   c3
    0x04000004, // mad r0, c1, r1.x, r0
    0x800F0000, //   r0
    0xA0E40001, //   c1
    0x80000001, //   r1.x
    0x80E40000, //   r0
    0x04000004, // mad r0, c2, r2.x, r0
    0x800F0000, //   r0
    0xA0E40002, //   c2
    0x80000002, //   r2.x
    0x80E40000, //   r0
    0x02000001, // mov oC0, r0
    0x800F0800, //   oC0
    0x80E40000, //   r0
    0x0000FFFF, // end
};
// 408 bytes

const unsigned vertexShaderSize = sizeof(vertexShader);
const unsigned pixelShaderSize = sizeof(pixelShader);

} // namespace VideoShadersDirect3D9
} // namespace Harbend
