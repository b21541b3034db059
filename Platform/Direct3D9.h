#pragma once

// The Direct3D 9 interfaces as the video back end and our software stand-in
// use them: types, constants, result codes and the COM interfaces with their
// methods in the published order, so that the virtual tables have the layout
// of a real implementation. Methods that neither side calls keep their place
// with the parameter types that they take; structures that only such methods
// name stay incomplete.
//
// On Linux there is one calling convention for these methods, so the usual
// __stdcall marker has no counterpart. A window handle is the X11 window id.

#include <cstdint>

typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef int INT;
typedef int32_t LONG;
typedef int BOOL;
typedef uint32_t ULONG;
typedef DWORD D3DCOLOR;
typedef uintptr_t HWND;
typedef void* HANDLE;
typedef void* HMONITOR;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef const GUID& REFIID;
typedef const GUID& REFGUID;

struct RECT {
    LONG left, top, right, bottom;
};
struct POINT {
    LONG x, y;
};
struct RGNDATA;
struct PALETTEENTRY;

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// Result codes: facility 0x876 for Direct3D, the common COM codes besides.
#define MAKE_D3DHRESULT(code) static_cast<HRESULT>(0x88760000u | (code))
const HRESULT S_OK = 0;
const HRESULT D3D_OK = 0;
const HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
const HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
const HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
const HRESULT D3DERR_OUTOFVIDEOMEMORY = MAKE_D3DHRESULT(380);
const HRESULT D3DERR_DEVICELOST = MAKE_D3DHRESULT(2152);
const HRESULT D3DERR_DEVICENOTRESET = MAKE_D3DHRESULT(2153);
const HRESULT D3DERR_NOTAVAILABLE = MAKE_D3DHRESULT(2154);
const HRESULT D3DERR_INVALIDCALL = MAKE_D3DHRESULT(2156);

// The version that Direct3DCreate9 is asked for.
const UINT D3D_SDK_VERSION = 31;

const UINT D3DADAPTER_DEFAULT = 0;

enum D3DDEVTYPE { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3, D3DDEVTYPE_NULLREF = 4 };

enum D3DFORMAT {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_A8R8G8B8 = 21,
    D3DFMT_X8R8G8B8 = 22,
    D3DFMT_L8 = 50,
    D3DFMT_INDEX16 = 101,
    D3DFMT_INDEX32 = 102,
};

enum D3DMULTISAMPLE_TYPE { D3DMULTISAMPLE_NONE = 0 };
enum D3DSWAPEFFECT { D3DSWAPEFFECT_DISCARD = 1, D3DSWAPEFFECT_FLIP = 2, D3DSWAPEFFECT_COPY = 3 };
enum D3DPOOL { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1, D3DPOOL_SYSTEMMEM = 2, D3DPOOL_SCRATCH = 3 };
enum D3DRESOURCETYPE {
    D3DRTYPE_SURFACE = 1,
    D3DRTYPE_VOLUME = 2,
    D3DRTYPE_TEXTURE = 3,
    D3DRTYPE_VOLUMETEXTURE = 4,
    D3DRTYPE_CUBETEXTURE = 5,
    D3DRTYPE_VERTEXBUFFER = 6,
    D3DRTYPE_INDEXBUFFER = 7,
};
enum D3DPRIMITIVETYPE {
    D3DPT_POINTLIST = 1,
    D3DPT_LINELIST = 2,
    D3DPT_LINESTRIP = 3,
    D3DPT_TRIANGLELIST = 4,
    D3DPT_TRIANGLESTRIP = 5,
    D3DPT_TRIANGLEFAN = 6,
};

const DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
const DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
const DWORD D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;

const DWORD D3DPRESENTFLAG_VIDEO = 0x10;
const UINT D3DPRESENT_RATE_DEFAULT = 0;
const UINT D3DPRESENT_INTERVAL_DEFAULT = 0;
const UINT D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

const DWORD D3DUSAGE_WRITEONLY = 0x8;
const DWORD D3DUSAGE_DYNAMIC = 0x200;
const DWORD D3DLOCK_DISCARD = 0x2000;

const DWORD D3DCLEAR_TARGET = 0x1;
const DWORD D3DCLEAR_ZBUFFER = 0x2;
const DWORD D3DCLEAR_STENCIL = 0x4;

const DWORD D3DFVF_XYZ = 0x002;
const DWORD D3DFVF_TEX1 = 0x100;

enum D3DRENDERSTATETYPE {
    D3DRS_ZENABLE = 7,
    D3DRS_ALPHATESTENABLE = 15,
    D3DRS_CULLMODE = 22,
    D3DRS_DITHERENABLE = 26,
    D3DRS_ALPHABLENDENABLE = 27,
    D3DRS_LIGHTING = 137,
    D3DRS_AMBIENT = 139,
};
enum D3DZBUFFERTYPE { D3DZB_FALSE = 0, D3DZB_TRUE = 1 };
enum D3DCULL { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };

enum D3DSAMPLERSTATETYPE {
    D3DSAMP_ADDRESSU = 1,
    D3DSAMP_ADDRESSV = 2,
    D3DSAMP_ADDRESSW = 3,
    D3DSAMP_BORDERCOLOR = 4,
    D3DSAMP_MAGFILTER = 5,
    D3DSAMP_MINFILTER = 6,
    D3DSAMP_MIPFILTER = 7,
};
enum D3DTEXTUREADDRESS { D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3, D3DTADDRESS_BORDER = 4 };
enum D3DTEXTUREFILTERTYPE { D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2, D3DTEXF_ANISOTROPIC = 3 };

enum D3DTEXTURESTAGESTATETYPE {
    D3DTSS_COLOROP = 1,
    D3DTSS_COLORARG1 = 2,
    D3DTSS_COLORARG2 = 3,
    D3DTSS_ALPHAOP = 4,
    D3DTSS_ALPHAARG1 = 5,
    D3DTSS_ALPHAARG2 = 6,
};
enum D3DTEXTUREOP { D3DTOP_DISABLE = 1, D3DTOP_SELECTARG1 = 2, D3DTOP_SELECTARG2 = 3, D3DTOP_MODULATE = 4 };
const DWORD D3DTA_DIFFUSE = 0x0;
const DWORD D3DTA_CURRENT = 0x1;
const DWORD D3DTA_TEXTURE = 0x2;

enum D3DDECLTYPE {
    D3DDECLTYPE_FLOAT1 = 0,
    D3DDECLTYPE_FLOAT2 = 1,
    D3DDECLTYPE_FLOAT3 = 2,
    D3DDECLTYPE_FLOAT4 = 3,
    D3DDECLTYPE_D3DCOLOR = 4,
    D3DDECLTYPE_UNUSED = 17,
};
enum D3DDECLMETHOD { D3DDECLMETHOD_DEFAULT = 0 };
enum D3DDECLUSAGE {
    D3DDECLUSAGE_POSITION = 0,
    D3DDECLUSAGE_BLENDWEIGHT = 1,
    D3DDECLUSAGE_BLENDINDICES = 2,
    D3DDECLUSAGE_NORMAL = 3,
    D3DDECLUSAGE_PSIZE = 4,
    D3DDECLUSAGE_TEXCOORD = 5,
    D3DDECLUSAGE_TANGENT = 6,
    D3DDECLUSAGE_BINORMAL = 7,
    D3DDECLUSAGE_TESSFACTOR = 8,
    D3DDECLUSAGE_POSITIONT = 9,
    D3DDECLUSAGE_COLOR = 10,
    D3DDECLUSAGE_FOG = 11,
    D3DDECLUSAGE_DEPTH = 12,
    D3DDECLUSAGE_SAMPLE = 13,
};

struct D3DVERTEXELEMENT9 {
    WORD Stream;
    WORD Offset;
    BYTE Type;
    BYTE Method;
    BYTE Usage;
    BYTE UsageIndex;
};
#define D3DDECL_END()                                                                                                  \
    {                                                                                                                  \
        0xFF, 0, D3DDECLTYPE_UNUSED, 0, 0, 0                                                                           \
    }

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

struct D3DVIEWPORT9 {
    DWORD X;
    DWORD Y;
    DWORD Width;
    DWORD Height;
    float MinZ;
    float MaxZ;
};

struct D3DLOCKED_RECT {
    INT Pitch;
    void* pBits;
};

struct D3DRECT {
    LONG x1, y1, x2, y2;
};

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    UINT Width;
    UINT Height;
};

struct D3DVERTEXBUFFER_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
    DWORD FVF;
};

// Structures and enumerations of methods that nobody here calls.
struct D3DADAPTER_IDENTIFIER9;
struct D3DDISPLAYMODE;
struct D3DCAPS9;
struct D3DDEVICE_CREATION_PARAMETERS;
struct D3DRASTER_STATUS;
struct D3DGAMMARAMP;
struct D3DMATRIX;
struct D3DMATERIAL9;
struct D3DLIGHT9;
struct D3DCLIPSTATUS9;
struct D3DRECTPATCH_INFO;
struct D3DTRIPATCH_INFO;
enum D3DBACKBUFFER_TYPE { D3DBACKBUFFER_TYPE_MONO = 0 };
enum D3DTRANSFORMSTATETYPE { D3DTS_VIEW = 2 };
enum D3DSTATEBLOCKTYPE { D3DSBT_ALL = 1 };
enum D3DQUERYTYPE { D3DQUERYTYPE_EVENT = 8 };

struct IDirect3D9;
struct IDirect3DDevice9;
struct IDirect3DSurface9;
struct IDirect3DSwapChain9;
struct IDirect3DBaseTexture9;
struct IDirect3DTexture9;
struct IDirect3DVolumeTexture9;
struct IDirect3DCubeTexture9;
struct IDirect3DVertexBuffer9;
struct IDirect3DIndexBuffer9;
struct IDirect3DStateBlock9;
struct IDirect3DVertexDeclaration9;
struct IDirect3DVertexShader9;
struct IDirect3DPixelShader9;
struct IDirect3DQuery9;

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct IDirect3D9 : IUnknown {
    virtual HRESULT RegisterSoftwareDevice(void* initializeFunction) = 0;
    virtual UINT GetAdapterCount() = 0;
    virtual HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) = 0;
    virtual UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) = 0;
    virtual HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* displayMode) = 0;
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                                    BOOL windowed) = 0;
    virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                      D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) = 0;
    virtual HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat, BOOL windowed,
                                               D3DMULTISAMPLE_TYPE multiSampleType, DWORD* qualityLevels) = 0;
    virtual HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                           D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) = 0;
    virtual HRESULT CheckDeviceFormatConversion(UINT adapter, D3DDEVTYPE type, D3DFORMAT sourceFormat,
                                                D3DFORMAT targetFormat) = 0;
    virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
    virtual HMONITOR GetAdapterMonitor(UINT adapter) = 0;
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                                 D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) = 0;
};

struct IDirect3DResource9 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) = 0;
    virtual HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) = 0;
    virtual HRESULT FreePrivateData(REFGUID guid) = 0;
    virtual DWORD SetPriority(DWORD priority) = 0;
    virtual DWORD GetPriority() = 0;
    virtual void PreLoad() = 0;
    virtual D3DRESOURCETYPE GetType() = 0;
};

struct IDirect3DBaseTexture9 : IDirect3DResource9 {
    virtual DWORD SetLOD(DWORD lod) = 0;
    virtual DWORD GetLOD() = 0;
    virtual DWORD GetLevelCount() = 0;
    virtual HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) = 0;
    virtual D3DTEXTUREFILTERTYPE GetAutoGenFilterType() = 0;
    virtual void GenerateMipSubLevels() = 0;
};

struct IDirect3DTexture9 : IDirect3DBaseTexture9 {
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* description) = 0;
    virtual HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;
    virtual HRESULT AddDirtyRect(const RECT* dirtyRect) = 0;
};

struct IDirect3DVertexBuffer9 : IDirect3DResource9 {
    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* description) = 0;
};

struct IDirect3DVertexDeclaration9 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) = 0;
};

struct IDirect3DVertexShader9 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetFunction(void* data, UINT* size) = 0;
};

struct IDirect3DPixelShader9 : IUnknown {
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT GetFunction(void* data, UINT* size) = 0;
};

struct IDirect3DDevice9 : IUnknown {
    virtual HRESULT TestCooperativeLevel() = 0;
    virtual UINT GetAvailableTextureMem() = 0;
    virtual HRESULT EvictManagedResources() = 0;
    virtual HRESULT GetDirect3D(IDirect3D9** direct3d) = 0;
    virtual HRESULT GetDeviceCaps(D3DCAPS9* caps) = 0;
    virtual HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) = 0;
    virtual HRESULT SetCursorProperties(UINT hotSpotX, UINT hotSpotY, IDirect3DSurface9* bitmap) = 0;
    virtual void SetCursorPosition(int x, int y, DWORD flags) = 0;
    virtual BOOL ShowCursor(BOOL show) = 0;
    virtual HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* parameters, IDirect3DSwapChain9** swapChain) = 0;
    virtual HRESULT GetSwapChain(UINT index, IDirect3DSwapChain9** swapChain) = 0;
    virtual UINT GetNumberOfSwapChains() = 0;
    virtual HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) = 0;
    virtual HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                            const RGNDATA* dirtyRegion) = 0;
    virtual HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                                  IDirect3DSurface9** surface) = 0;
    virtual HRESULT GetRasterStatus(UINT swapChain, D3DRASTER_STATUS* status) = 0;
    virtual HRESULT SetDialogBoxMode(BOOL enable) = 0;
    virtual void SetGammaRamp(UINT swapChain, DWORD flags, const D3DGAMMARAMP* ramp) = 0;
    virtual void GetGammaRamp(UINT swapChain, D3DGAMMARAMP* ramp) = 0;
    virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DTexture9** texture, HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                        D3DPOOL pool, IDirect3DVolumeTexture9** texture, HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                       DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                                       HANDLE* sharedHandle) = 0;
    virtual HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                              D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality, BOOL discard,
                                              IDirect3DSurface9** surface, HANDLE* sharedHandle) = 0;
    virtual HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                                  const POINT* destPoint) = 0;
    virtual HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) = 0;
    virtual HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* destination) = 0;
    virtual HRESULT GetFrontBufferData(UINT swapChain, IDirect3DSurface9* destination) = 0;
    virtual HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                                const RECT* destRect, D3DTEXTUREFILTERTYPE filter) = 0;
    virtual HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) = 0;
    virtual HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DSurface9** surface, HANDLE* sharedHandle) = 0;
    virtual HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* renderTarget) = 0;
    virtual HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** renderTarget) = 0;
    virtual HRESULT SetDepthStencilSurface(IDirect3DSurface9* depthStencil) = 0;
    virtual HRESULT GetDepthStencilSurface(IDirect3DSurface9** depthStencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) = 0;
    virtual HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
    virtual HRESULT SetViewport(const D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT9* viewport) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL9* material) = 0;
    virtual HRESULT GetMaterial(D3DMATERIAL9* material) = 0;
    virtual HRESULT SetLight(DWORD index, const D3DLIGHT9* light) = 0;
    virtual HRESULT GetLight(DWORD index, D3DLIGHT9* light) = 0;
    virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
    virtual HRESULT GetLightEnable(DWORD index, BOOL* enable) = 0;
    virtual HRESULT SetClipPlane(DWORD index, const float* plane) = 0;
    virtual HRESULT GetClipPlane(DWORD index, float* plane) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
    virtual HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** stateBlock) = 0;
    virtual HRESULT BeginStateBlock() = 0;
    virtual HRESULT EndStateBlock(IDirect3DStateBlock9** stateBlock) = 0;
    virtual HRESULT SetClipStatus(const D3DCLIPSTATUS9* clipStatus) = 0;
    virtual HRESULT GetClipStatus(D3DCLIPSTATUS9* clipStatus) = 0;
    virtual HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) = 0;
    virtual HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) = 0;
    virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
    virtual HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) = 0;
    virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
    virtual HRESULT ValidateDevice(DWORD* passes) = 0;
    virtual HRESULT SetPaletteEntries(UINT palette, const PALETTEENTRY* entries) = 0;
    virtual HRESULT GetPaletteEntries(UINT palette, PALETTEENTRY* entries) = 0;
    virtual HRESULT SetCurrentTexturePalette(UINT palette) = 0;
    virtual HRESULT GetCurrentTexturePalette(UINT* palette) = 0;
    virtual HRESULT SetScissorRect(const RECT* rect) = 0;
    virtual HRESULT GetScissorRect(RECT* rect) = 0;
    virtual HRESULT SetSoftwareVertexProcessing(BOOL software) = 0;
    virtual BOOL GetSoftwareVertexProcessing() = 0;
    virtual HRESULT SetNPatchMode(float segments) = 0;
    virtual float GetNPatchMode() = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) = 0;
    virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                         UINT vertexCount, UINT startIndex, UINT primitiveCount) = 0;
    virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                    UINT vertexStride) = 0;
    virtual HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT vertexCount,
                                           UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                           const void* vertexData, UINT vertexStride) = 0;
    virtual HRESULT ProcessVertices(UINT sourceStart, UINT destinationIndex, UINT vertexCount,
                                    IDirect3DVertexBuffer9* destination, IDirect3DVertexDeclaration9* declaration,
                                    DWORD flags) = 0;
    virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                            IDirect3DVertexDeclaration9** declaration) = 0;
    virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) = 0;
    virtual HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) = 0;
    virtual HRESULT SetFVF(DWORD fvf) = 0;
    virtual HRESULT GetFVF(DWORD* fvf) = 0;
    virtual HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) = 0;
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9* shader) = 0;
    virtual HRESULT GetVertexShader(IDirect3DVertexShader9** shader) = 0;
    virtual HRESULT SetVertexShaderConstantF(UINT startRegister, const float* data, UINT vector4fCount) = 0;
    virtual HRESULT GetVertexShaderConstantF(UINT startRegister, float* data, UINT vector4fCount) = 0;
    virtual HRESULT SetVertexShaderConstantI(UINT startRegister, const int* data, UINT vector4iCount) = 0;
    virtual HRESULT GetVertexShaderConstantI(UINT startRegister, int* data, UINT vector4iCount) = 0;
    virtual HRESULT SetVertexShaderConstantB(UINT startRegister, const BOOL* data, UINT boolCount) = 0;
    virtual HRESULT GetVertexShaderConstantB(UINT startRegister, BOOL* data, UINT boolCount) = 0;
    virtual HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) = 0;
    virtual HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) = 0;
    virtual HRESULT SetStreamSourceFreq(UINT stream, UINT setting) = 0;
    virtual HRESULT GetStreamSourceFreq(UINT stream, UINT* setting) = 0;
    virtual HRESULT SetIndices(IDirect3DIndexBuffer9* indexData) = 0;
    virtual HRESULT GetIndices(IDirect3DIndexBuffer9** indexData) = 0;
    virtual HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9* shader) = 0;
    virtual HRESULT GetPixelShader(IDirect3DPixelShader9** shader) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT startRegister, const float* data, UINT vector4fCount) = 0;
    virtual HRESULT GetPixelShaderConstantF(UINT startRegister, float* data, UINT vector4fCount) = 0;
    virtual HRESULT SetPixelShaderConstantI(UINT startRegister, const int* data, UINT vector4iCount) = 0;
    virtual HRESULT GetPixelShaderConstantI(UINT startRegister, int* data, UINT vector4iCount) = 0;
    virtual HRESULT SetPixelShaderConstantB(UINT startRegister, const BOOL* data, UINT boolCount) = 0;
    virtual HRESULT GetPixelShaderConstantB(UINT startRegister, BOOL* data, UINT boolCount) = 0;
    virtual HRESULT DrawRectPatch(UINT handle, const float* segments, const D3DRECTPATCH_INFO* info) = 0;
    virtual HRESULT DrawTriPatch(UINT handle, const float* segments, const D3DTRIPATCH_INFO* info) = 0;
    virtual HRESULT DeletePatch(UINT handle) = 0;
    virtual HRESULT CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) = 0;
};

// The library's one entry point.
typedef IDirect3D9* (*Direct3DCreate9Function)(UINT sdkVersion);
