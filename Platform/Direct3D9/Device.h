#pragma once

#include "ComObject.h"
#include "ShaderProgram.h"
#include "WindowPresenter.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace D3D9StandIn {

class Direct3D;
class Texture;
class VertexBuffer;
class VertexDeclaration;
template <class Interface>
class Shader;

// A device that draws in software into an X8R8G8B8 back buffer and presents
// it into its window. It lives until its last reference and the last object
// that it made are gone; what is bound to it is let go with the last reference.
// Where point sampling reads, and for which coordinates and texture size.
struct PointIndices {
    unsigned span = ~0u;
    const float* u = nullptr;
    const float* v = nullptr;
    UINT width = 0;
    UINT height = 0;
    bool clampU = false;
    bool clampV = false;
    alignas(16) int columns[kLanes];
    alignas(16) int rows[kLanes];
};

class Device final : public ComObject<IDirect3DDevice9>, private TextureSampler {
public:
    Device(Direct3D* direct3d, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags);

    // False when the window cannot be drawn into.
    bool open();

    // Every call made on the device or on what it made: counts the calls that
    // come from another thread than the one that created the device.
    void enter() const;
    // Held by each object that the device made.
    void retain() { internalReferences.fetch_add(1); }
    void drop();
    // The tests' control that makes vertex buffer locks fail.
    bool failsLocks() const;

    // What the back end calls.
    HRESULT TestCooperativeLevel() override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* sharedHandle) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                    IDirect3DVertexDeclaration9** declaration) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT SetPixelShaderConstantF(UINT startRegister, const float* data, UINT vector4fCount) override;

    // Everything else is refused.
    UINT GetAvailableTextureMem() override { return 0; }
    HRESULT EvictManagedResources() override { return D3DERR_INVALIDCALL; }
    HRESULT GetDirect3D(IDirect3D9**) override { return D3DERR_INVALIDCALL; }
    HRESULT GetDeviceCaps(D3DCAPS9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetDisplayMode(UINT, D3DDISPLAYMODE*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetCursorProperties(UINT, UINT, IDirect3DSurface9*) override { return D3DERR_INVALIDCALL; }
    void SetCursorPosition(int, int, DWORD) override {}
    BOOL ShowCursor(BOOL) override { return 0; }
    HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS*, IDirect3DSwapChain9**) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT GetSwapChain(UINT, IDirect3DSwapChain9**) override { return D3DERR_INVALIDCALL; }
    UINT GetNumberOfSwapChains() override { return 0; }
    HRESULT Reset(D3DPRESENT_PARAMETERS*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetBackBuffer(UINT, UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface9**) override { return D3DERR_INVALIDCALL; }
    HRESULT GetRasterStatus(UINT, D3DRASTER_STATUS*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetDialogBoxMode(BOOL) override { return D3DERR_INVALIDCALL; }
    void SetGammaRamp(UINT, DWORD, const D3DGAMMARAMP*) override {}
    void GetGammaRamp(UINT, D3DGAMMARAMP*) override {}
    HRESULT CreateVolumeTexture(UINT, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DVolumeTexture9**,
                                HANDLE*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateCubeTexture(UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DCubeTexture9**, HANDLE*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9**, HANDLE*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                               HANDLE*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateDepthStencilSurface(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, DWORD, BOOL, IDirect3DSurface9**,
                                      HANDLE*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT UpdateSurface(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const POINT*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT UpdateTexture(IDirect3DBaseTexture9*, IDirect3DBaseTexture9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetRenderTargetData(IDirect3DSurface9*, IDirect3DSurface9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetFrontBufferData(UINT, IDirect3DSurface9*) override { return D3DERR_INVALIDCALL; }
    HRESULT StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*, D3DTEXTUREFILTERTYPE) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT ColorFill(IDirect3DSurface9*, const RECT*, D3DCOLOR) override { return D3DERR_INVALIDCALL; }
    HRESULT CreateOffscreenPlainSurface(UINT, UINT, D3DFORMAT, D3DPOOL, IDirect3DSurface9**, HANDLE*) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetRenderTarget(DWORD, IDirect3DSurface9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetRenderTarget(DWORD, IDirect3DSurface9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetDepthStencilSurface(IDirect3DSurface9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX*) override { return D3DERR_INVALIDCALL; }
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetViewport(D3DVIEWPORT9*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetMaterial(const D3DMATERIAL9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetMaterial(D3DMATERIAL9*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetLight(DWORD, const D3DLIGHT9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetLight(DWORD, D3DLIGHT9*) override { return D3DERR_INVALIDCALL; }
    HRESULT LightEnable(DWORD, BOOL) override { return D3DERR_INVALIDCALL; }
    HRESULT GetLightEnable(DWORD, BOOL*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetClipPlane(DWORD, const float*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetClipPlane(DWORD, float*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE, IDirect3DStateBlock9**) override { return D3DERR_INVALIDCALL; }
    HRESULT BeginStateBlock() override { return D3DERR_INVALIDCALL; }
    HRESULT EndStateBlock(IDirect3DStateBlock9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetClipStatus(const D3DCLIPSTATUS9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetClipStatus(D3DCLIPSTATUS9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture9**) override { return D3DERR_INVALIDCALL; }
    HRESULT GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetSamplerState(DWORD, D3DSAMPLERSTATETYPE, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT ValidateDevice(DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetPaletteEntries(UINT, const PALETTEENTRY*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetPaletteEntries(UINT, PALETTEENTRY*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetCurrentTexturePalette(UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetCurrentTexturePalette(UINT*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetScissorRect(const RECT*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetScissorRect(RECT*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetSoftwareVertexProcessing(BOOL) override { return D3DERR_INVALIDCALL; }
    BOOL GetSoftwareVertexProcessing() override { return 0; }
    HRESULT SetNPatchMode(float) override { return D3DERR_INVALIDCALL; }
    float GetNPatchMode() override { return 0.0f; }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE, UINT, UINT, UINT, const void*, D3DFORMAT, const void*,
                                   UINT) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT ProcessVertices(UINT, UINT, UINT, IDirect3DVertexBuffer9*, IDirect3DVertexDeclaration9*, DWORD) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9**) override { return D3DERR_INVALIDCALL; }
    HRESULT GetFVF(DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetVertexShader(IDirect3DVertexShader9**) override { return D3DERR_INVALIDCALL; }
    HRESULT SetVertexShaderConstantF(UINT, const float*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetVertexShaderConstantF(UINT, float*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT SetVertexShaderConstantI(UINT, const int*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetVertexShaderConstantI(UINT, int*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT SetVertexShaderConstantB(UINT, const BOOL*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetVertexShaderConstantB(UINT, BOOL*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer9**, UINT*, UINT*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetStreamSourceFreq(UINT, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetStreamSourceFreq(UINT, UINT*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetIndices(IDirect3DIndexBuffer9*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetIndices(IDirect3DIndexBuffer9**) override { return D3DERR_INVALIDCALL; }
    HRESULT GetPixelShader(IDirect3DPixelShader9**) override { return D3DERR_INVALIDCALL; }
    HRESULT GetPixelShaderConstantF(UINT, float*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT SetPixelShaderConstantI(UINT, const int*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetPixelShaderConstantI(UINT, int*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT SetPixelShaderConstantB(UINT, const BOOL*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT GetPixelShaderConstantB(UINT, BOOL*, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT DrawRectPatch(UINT, const float*, const D3DRECTPATCH_INFO*) override { return D3DERR_INVALIDCALL; }
    HRESULT DrawTriPatch(UINT, const float*, const D3DTRIPATCH_INFO*) override { return D3DERR_INVALIDCALL; }
    HRESULT DeletePatch(UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) override { return D3DERR_INVALIDCALL; }

protected:
    void lastReleased() override;

private:
    ~Device() override;

    struct ScreenVertex {
        double x, y;
        float texcoords[8][4];
    };

    void sample(int sampler, const float* u, const float* v, unsigned components, Lanes& out) const override;
    bool readyToDraw() const;
    // Runs the vertex shader over the vertices, 64 at a time.
    bool shadeVertices(UINT first, UINT count, std::vector<ScreenVertex>& out);
    void drawTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c);
    void shadeSpan(int x, int y, int count, const double (*gradients)[4][3]);
    Texture* boundTexture(int sampler) const;

    Direct3D* direct3d;
    const std::thread::id creator;
    std::atomic<int> internalReferences{1};
    const D3DPRESENT_PARAMETERS parameters;
    const DWORD behaviorFlags;
    WindowPresenter presenter;
    std::vector<uint32_t> backBuffer;
    D3DVIEWPORT9 viewport;
    DWORD renderStates[256];
    DWORD samplerStates[16][14];
    DWORD stageStates[8][33];
    DWORD fvf = 0;
    IDirect3DBaseTexture9* textures[16] = {};
    IDirect3DVertexBuffer9* stream = nullptr;
    UINT streamOffset = 0;
    UINT streamStride = 0;
    IDirect3DVertexDeclaration9* declaration = nullptr;
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    float vertexConstants[96 * 4] = {};
    float pixelConstants[32 * 4] = {};
    bool inScene = false;
    bool needsReset = false;
    int texturesCreated = 0;
    std::unique_ptr<ShaderProgram::State> vertexState;
    std::unique_ptr<ShaderProgram::State> pixelState;
    // Per triangle: whether each sampler magnifies (else it minifies).
    bool magnifying[16] = {};
    // The texel indices of the last point-sampled read, for the next one in the same span.
    unsigned spansShaded = 0;
    mutable PointIndices pointIndices;
};

} // namespace D3D9StandIn
