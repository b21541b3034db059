#include "Resources.h"

#include "Device.h"

#include <cstring>

namespace D3D9StandIn {

namespace {
// Rows start on 64-byte boundaries, as graphics memory often wants: the
// back end has to honour the pitch.
UINT alignedPitch(UINT width) { return (width + 63u) & ~63u; }
} // namespace

template <class Interface>
DeviceChild<Interface>::DeviceChild(Device* owner) : owner(owner)
{
    owner->retain();
}

template <class Interface>
DeviceChild<Interface>::~DeviceChild()
{
    owner->drop();
}

template <class Interface>
HRESULT DeviceChild<Interface>::GetDevice(IDirect3DDevice9** device)
{
    if (!device)
        return D3DERR_INVALIDCALL;
    owner->AddRef();
    *device = owner;
    return D3D_OK;
}

Texture::Texture(Device* owner, UINT width, UINT height, DWORD usage)
    : Resource<IDirect3DTexture9>(owner),
      width(width),
      height(height),
      pitch(alignedPitch(width)),
      usage(usage),
      texels(size_t(pitch) * height, 0)
{
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* description)
{
    owner->enter();
    if (level != 0 || !description)
        return D3DERR_INVALIDCALL;
    *description = D3DSURFACE_DESC{D3DFMT_L8, D3DRTYPE_SURFACE, usage, D3DPOOL_DEFAULT, D3DMULTISAMPLE_NONE, 0, width,
                                   height};
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags)
{
    owner->enter();
    // Only dynamic textures may be locked in the default pool, and discarding
    // is for dynamic textures locked whole.
    if (level != 0 || !lockedRect || locked || !(usage & D3DUSAGE_DYNAMIC) || ((flags & D3DLOCK_DISCARD) && rect))
        return D3DERR_INVALIDCALL;
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > LONG(width) || rect->bottom > LONG(height) ||
            rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        offset = size_t(rect->top) * pitch + size_t(rect->left);
    }
    locked = true;
    lockedRect->Pitch = INT(pitch);
    lockedRect->pBits = texels.data() + offset;
    return D3D_OK;
}

HRESULT Texture::UnlockRect(UINT level)
{
    owner->enter();
    if (level != 0 || !locked)
        return D3DERR_INVALIDCALL;
    locked = false;
    return D3D_OK;
}

VertexBuffer::VertexBuffer(Device* owner, UINT size, DWORD usage, DWORD fvf)
    : Resource<IDirect3DVertexBuffer9>(owner), usage(usage), fvf(fvf), bytes(size, 0)
{
}

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD)
{
    owner->enter();
    if (!data || locked || offset > bytes.size() || size > bytes.size() - offset)
        return D3DERR_INVALIDCALL;
    if (owner->failsLocks())
        return D3DERR_INVALIDCALL;
    locked = true;
    *data = bytes.data() + offset;
    return D3D_OK;
}

HRESULT VertexBuffer::Unlock()
{
    owner->enter();
    if (!locked)
        return D3DERR_INVALIDCALL;
    locked = false;
    return D3D_OK;
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* description)
{
    owner->enter();
    if (!description)
        return D3DERR_INVALIDCALL;
    *description = D3DVERTEXBUFFER_DESC{D3DFMT_UNKNOWN,  D3DRTYPE_VERTEXBUFFER, usage,
                                        D3DPOOL_DEFAULT, UINT(bytes.size()),    fvf};
    return D3D_OK;
}

VertexDeclaration::VertexDeclaration(Device* owner, std::vector<D3DVERTEXELEMENT9> elements)
    : DeviceChild<IDirect3DVertexDeclaration9>(owner), elements(std::move(elements))
{
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* out, UINT* count)
{
    owner->enter();
    if (!count)
        return D3DERR_INVALIDCALL;
    const D3DVERTEXELEMENT9 end = D3DDECL_END();
    if (out) {
        std::copy(elements.begin(), elements.end(), out);
        out[elements.size()] = end;
    }
    *count = UINT(elements.size() + 1);
    return D3D_OK;
}

template <class Interface>
HRESULT Shader<Interface>::GetFunction(void* data, UINT* size)
{
    this->owner->enter();
    if (!size)
        return D3DERR_INVALIDCALL;
    const UINT bytes = UINT(program.tokens().size() * sizeof(DWORD));
    if (data) {
        if (*size < bytes)
            return D3DERR_INVALIDCALL;
        std::memcpy(data, program.tokens().data(), bytes);
    }
    *size = bytes;
    return D3D_OK;
}

template class DeviceChild<IDirect3DTexture9>;
template class DeviceChild<IDirect3DVertexBuffer9>;
template class DeviceChild<IDirect3DVertexDeclaration9>;
template class DeviceChild<IDirect3DVertexShader9>;
template class DeviceChild<IDirect3DPixelShader9>;
template class Shader<IDirect3DVertexShader9>;
template class Shader<IDirect3DPixelShader9>;

} // namespace D3D9StandIn
