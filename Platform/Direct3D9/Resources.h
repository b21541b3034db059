#pragma once

#include "ComObject.h"
#include "ShaderProgram.h"

#include <cstdint>
#include <vector>

namespace D3D9StandIn {

class Device;

// An object made by a device: keeps the device alive and answers GetDevice.
template <class Interface>
class DeviceChild : public ComObject<Interface> {
public:
    explicit DeviceChild(Device* owner);
    ~DeviceChild() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override;

protected:
    Device* owner;
};

// The private data, priority and preloading of a resource are not offered.
template <class Interface>
class Resource : public DeviceChild<Interface> {
public:
    using DeviceChild<Interface>::DeviceChild;

    HRESULT SetPrivateData(REFGUID, const void*, DWORD, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT GetPrivateData(REFGUID, void*, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT FreePrivateData(REFGUID) override { return D3DERR_INVALIDCALL; }
    DWORD SetPriority(DWORD) override { return 0; }
    DWORD GetPriority() override { return 0; }
    void PreLoad() override {}
};

// One level of 8-bit luminance texels, rows a pitch apart.
class Texture final : public Resource<IDirect3DTexture9> {
public:
    Texture(Device* owner, UINT width, UINT height, DWORD usage);

    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD SetLOD(DWORD) override { return 0; }
    DWORD GetLOD() override { return 0; }
    DWORD GetLevelCount() override { return 1; }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE) override { return D3DERR_INVALIDCALL; }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return D3DTEXF_NONE; }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* description) override;
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9**) override { return D3DERR_INVALIDCALL; }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    HRESULT AddDirtyRect(const RECT*) override { return D3DERR_INVALIDCALL; }

    const UINT width;
    const UINT height;
    const UINT pitch;
    const DWORD usage;
    std::vector<uint8_t> texels;
    bool locked = false;
};

class VertexBuffer final : public Resource<IDirect3DVertexBuffer9> {
public:
    VertexBuffer(Device* owner, UINT size, DWORD usage, DWORD fvf);

    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* description) override;

    const DWORD usage;
    const DWORD fvf;
    std::vector<uint8_t> bytes;
    bool locked = false;
};

class VertexDeclaration final : public DeviceChild<IDirect3DVertexDeclaration9> {
public:
    VertexDeclaration(Device* owner, std::vector<D3DVERTEXELEMENT9> elements);

    HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

    const std::vector<D3DVERTEXELEMENT9> elements; // without the end marker
};

template <class Interface>
class Shader final : public DeviceChild<Interface> {
public:
    Shader(Device* owner, ShaderProgram program) : DeviceChild<Interface>(owner), program(std::move(program)) {}

    HRESULT GetFunction(void* data, UINT* size) override;

    const ShaderProgram program;
};

typedef Shader<IDirect3DVertexShader9> VertexShader;
typedef Shader<IDirect3DPixelShader9> PixelShader;

} // namespace D3D9StandIn
