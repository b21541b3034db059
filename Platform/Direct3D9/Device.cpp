#include "Device.h"

#include "Direct3D.h"
#include "Resources.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <new>

namespace D3D9StandIn {

namespace {

// Large enough for any picture, small enough for an exact conversion to int.
const float kCoordinateLimit = float(1 << 22);

inline __m128i select(__m128i mask, __m128i a, __m128i b)
{
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

inline __m128i clampIndices(__m128i i, __m128i low, __m128i high)
{
    i = select(_mm_cmpgt_epi32(low, i), low, i);
    return select(_mm_cmpgt_epi32(i, high), high, i);
}

inline int wrapped(int i, int size)
{
    i %= size;
    return i < 0 ? i + size : i;
}

// Texel indices along one axis for a number of lanes (a multiple of 4), from
// coordinates scaled to texels and shifted: the index at or below (first)
// and, when asked for, the one after it (second) and the weight of the second
// (fraction). Clamped to the edge or wrapped around.
void texelIndicesOver(int lanes, const float* coordinates, float scale, float shift, int size, bool clamp, int* first,
                      int* second, float* fraction)
{
    const __m128 factor = _mm_set1_ps(scale), offset = _mm_set1_ps(shift);
    const __m128 lowest = _mm_set1_ps(-kCoordinateLimit), highest = _mm_set1_ps(kCoordinateLimit);
    const __m128i zero = _mm_setzero_si128(), last = _mm_set1_epi32(size - 1), one = _mm_set1_epi32(1);
    int outside = 0;
    for (int i = 0; i < lanes; i += 4) {
        // NaN becomes the lower limit: max answers its second operand then.
        const __m128 x = _mm_min_ps(
            _mm_max_ps(_mm_add_ps(_mm_mul_ps(_mm_load_ps(coordinates + i), factor), offset), lowest), highest);
        __m128i below = _mm_cvttps_epi32(x);
        below = _mm_add_epi32(below, _mm_castps_si128(_mm_cmpgt_ps(_mm_cvtepi32_ps(below), x)));
        if (fraction)
            _mm_store_ps(fraction + i, _mm_sub_ps(x, _mm_cvtepi32_ps(below)));
        __m128i after = _mm_add_epi32(below, one);
        if (clamp) {
            below = clampIndices(below, zero, last);
            after = clampIndices(after, zero, last);
        } else {
            const __m128i beyond = _mm_cmpgt_epi32(second ? after : below, last);
            outside |= _mm_movemask_epi8(_mm_or_si128(_mm_cmpgt_epi32(zero, below), beyond));
        }
        _mm_store_si128(reinterpret_cast<__m128i*>(first + i), below);
        if (second)
            _mm_store_si128(reinterpret_cast<__m128i*>(second + i), after);
    }
    if (outside) {
        for (int i = 0; i < lanes; ++i) {
            first[i] = wrapped(first[i], size);
            if (second)
                second[i] = wrapped(second[i], size);
        }
    }
}

// All lanes. A coordinate that is the same in every lane (the texture row
// along a row of the screen) is worked out once.
void texelIndices(const float* coordinates, float scale, float shift, int size, bool clamp, int* first, int* second,
                  float* fraction)
{
    const __m128 lane0 = _mm_set1_ps(coordinates[0]);
    int differ = 0;
    for (int i = 0; i < kLanes; i += 4)
        differ |= _mm_movemask_ps(_mm_cmpneq_ps(_mm_load_ps(coordinates + i), lane0));
    if (differ) {
        texelIndicesOver(kLanes, coordinates, scale, shift, size, clamp, first, second, fraction);
        return;
    }
    alignas(16) float one[4];
    alignas(16) int below[4], after[4];
    alignas(16) float weight[4];
    _mm_store_ps(one, lane0);
    texelIndicesOver(4, one, scale, shift, size, clamp, below, after, weight);
    std::fill(first, first + kLanes, below[0]);
    if (second)
        std::fill(second, second + kLanes, after[0]);
    if (fraction)
        std::fill(fraction, fraction + kLanes, weight[0]);
}

bool allEqual(const int* values)
{
    int differ = 0;
    for (int i = 1; i < kLanes; ++i)
        differ |= values[i] ^ values[0];
    return differ == 0;
}

// Luminance reads as (L, L, L, 1); L is in x, the rest only where it is read.
void spreadLuminance(unsigned components, Lanes& out)
{
    for (int c = 1; c < 3; ++c)
        if (components & (1u << c))
            std::memcpy(out.c[c], out.c[0], sizeof(out.c[0]));
    if (components & 0x8)
        std::fill(out.c[3], out.c[3] + kLanes, 1.0f);
}

// Texel centres lie at half-integer coordinates; two rows, two columns, weighted.
void sampleLinear(const Texture& texture, bool clampU, bool clampV, const float* u, const float* v, unsigned components,
                  Lanes& out)
{
    alignas(16) int left[kLanes], right[kLanes], top[kLanes], bottom[kLanes];
    alignas(16) float across[kLanes], down[kLanes];
    texelIndices(u, float(texture.width), -0.5f, int(texture.width), clampU, left, right, across);
    texelIndices(v, float(texture.height), -0.5f, int(texture.height), clampV, top, bottom, down);
    const uint8_t* texels = texture.texels.data();
    const size_t pitch = texture.pitch;
    // Across a row of the screen the texture rows usually stay the same.
    // The texels are fetched one by one, then weighted four lanes at a time.
    alignas(16) float a[kLanes], b[kLanes], c[kLanes], d[kLanes];
    if (allEqual(top) && allEqual(bottom)) {
        const uint8_t* upper = texels + size_t(top[0]) * pitch;
        const uint8_t* lower = texels + size_t(bottom[0]) * pitch;
        for (int i = 0; i < kLanes; ++i) {
            a[i] = upper[left[i]];
            b[i] = upper[right[i]];
            c[i] = lower[left[i]];
            d[i] = lower[right[i]];
        }
    } else {
        for (int i = 0; i < kLanes; ++i) {
            const uint8_t* upper = texels + size_t(top[i]) * pitch;
            const uint8_t* lower = texels + size_t(bottom[i]) * pitch;
            a[i] = upper[left[i]];
            b[i] = upper[right[i]];
            c[i] = lower[left[i]];
            d[i] = lower[right[i]];
        }
    }
    float* result = out.c[0];
    const __m128 scale = _mm_set1_ps(1.0f / 255.0f);
    for (int i = 0; i < kLanes; i += 4) {
        const __m128 x = _mm_load_ps(across + i), y = _mm_load_ps(down + i);
        const __m128 upperA = _mm_load_ps(a + i), lowerC = _mm_load_ps(c + i);
        const __m128 first = _mm_add_ps(upperA, _mm_mul_ps(_mm_sub_ps(_mm_load_ps(b + i), upperA), x));
        const __m128 second = _mm_add_ps(lowerC, _mm_mul_ps(_mm_sub_ps(_mm_load_ps(d + i), lowerC), x));
        _mm_store_ps(result + i, _mm_mul_ps(_mm_add_ps(first, _mm_mul_ps(_mm_sub_ps(second, first), y)), scale));
    }
    spreadLuminance(components, out);
}

void samplePoint(const Texture& texture, const PointIndices& at, unsigned components, Lanes& out)
{
    const uint8_t* texels = texture.texels.data();
    const size_t pitch = texture.pitch;
    float* result = out.c[0];
    if (allEqual(at.rows)) {
        const uint8_t* row = texels + size_t(at.rows[0]) * pitch;
        for (int i = 0; i < kLanes; ++i)
            result[i] = float(row[at.columns[i]]) * (1.0f / 255.0f);
    } else {
        for (int i = 0; i < kLanes; ++i)
            result[i] = float(texels[size_t(at.rows[i]) * pitch + size_t(at.columns[i])]) * (1.0f / 255.0f);
    }
    spreadLuminance(components, out);
}

// Four pixels as 0xFFRRGGBB from colours in 0..1 (clamped, rounded).
inline __m128i pixels4(const float* r, const float* g, const float* b)
{
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), scale = _mm_set1_ps(255.0f),
                 half = _mm_set1_ps(0.5f);
    const auto level = [&](const float* channel) {
        const __m128 clamped = _mm_min_ps(_mm_max_ps(_mm_load_ps(channel), zero), one);
        return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(clamped, scale), half));
    };
    return _mm_or_si128(_mm_or_si128(_mm_set1_epi32(int(0xFF000000u)), _mm_slli_epi32(level(r), 16)),
                        _mm_or_si128(_mm_slli_epi32(level(g), 8), level(b)));
}

template <class T, class Interface>
T* implementation(Interface* object)
{
    return static_cast<T*>(object);
}

} // namespace

Device::Device(Direct3D* direct3d, const D3DPRESENT_PARAMETERS& parameters, DWORD behaviorFlags)
    : direct3d(direct3d),
      creator(std::this_thread::get_id()),
      parameters(parameters),
      behaviorFlags(behaviorFlags),
      backBuffer(size_t(parameters.BackBufferWidth) * parameters.BackBufferHeight, 0xFF000000u),
      viewport{0, 0, parameters.BackBufferWidth, parameters.BackBufferHeight, 0.0f, 1.0f},
      vertexState(new ShaderProgram::State()),
      pixelState(new ShaderProgram::State())
{
    direct3d->AddRef();
    std::fill(std::begin(renderStates), std::end(renderStates), 0);
    std::fill(&stageStates[0][0], &stageStates[0][0] + 8 * 33, 0);
    for (auto& states : samplerStates) {
        std::fill(std::begin(states), std::end(states), 0);
        states[D3DSAMP_ADDRESSU] = states[D3DSAMP_ADDRESSV] = states[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        states[D3DSAMP_MAGFILTER] = states[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        states[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    }
}

Device::~Device() { direct3d->Release(); }

bool Device::open() { return presenter.open(uint32_t(parameters.hDeviceWindow)); }

void Device::enter() const
{
    if (std::this_thread::get_id() != creator)
        g_foreignCalls.fetch_add(1);
}

void Device::drop()
{
    if (internalReferences.fetch_sub(1) == 1)
        delete this;
}

bool Device::failsLocks() const { return direct3d->controls.fails("lock"); }

void Device::lastReleased()
{
    for (IDirect3DBaseTexture9*& texture : textures)
        hold<IDirect3DBaseTexture9>(texture, nullptr);
    hold<IDirect3DVertexBuffer9>(stream, nullptr);
    hold<IDirect3DVertexDeclaration9>(declaration, nullptr);
    hold<IDirect3DVertexShader9>(vertexShader, nullptr);
    hold<IDirect3DPixelShader9>(pixelShader, nullptr);
    drop();
}

HRESULT Device::TestCooperativeLevel()
{
    enter();
    if (needsReset)
        return D3DERR_DEVICENOTRESET;
    const HRESULT result = direct3d->cooperativeLevel();
    needsReset = result == D3DERR_DEVICENOTRESET;
    return result;
}

HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                        const RGNDATA* dirtyRegion)
{
    enter();
    if (sourceRect || destRect || dirtyRegion || (destWindowOverride && destWindowOverride != parameters.hDeviceWindow))
        return D3DERR_INVALIDCALL;
    if (inScene)
        return D3DERR_INVALIDCALL;
    if (needsReset || direct3d->lost())
        return D3DERR_DEVICELOST;
    if (!presenter.put(backBuffer.data(), int(parameters.BackBufferWidth), int(parameters.BackBufferHeight)))
        return D3DERR_INVALIDCALL;
    g_presents.fetch_add(1);
    return D3D_OK;
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE* sharedHandle)
{
    enter();
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || height == 0 || width > 16384 || height > 16384 || levels != 1 || format != D3DFMT_L8 ||
        pool != D3DPOOL_DEFAULT || sharedHandle || (usage & ~D3DUSAGE_DYNAMIC))
        return D3DERR_INVALIDCALL;
    const int number = texturesCreated++;
    if (direct3d->controls.fails("texture" + std::to_string(number)))
        return D3DERR_OUTOFVIDEOMEMORY;
    *texture = new Texture(this, width, height, usage);
    return D3D_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                                   HANDLE* sharedHandle)
{
    enter();
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || pool != D3DPOOL_DEFAULT || sharedHandle)
        return D3DERR_INVALIDCALL;
    if (direct3d->controls.fails("vertexbuffer"))
        return D3DERR_OUTOFVIDEOMEMORY;
    *buffer = new VertexBuffer(this, length, usage, fvf);
    return D3D_OK;
}

HRESULT Device::BeginScene()
{
    enter();
    if (inScene)
        return D3DERR_INVALIDCALL;
    inScene = true;
    return D3D_OK;
}

HRESULT Device::EndScene()
{
    enter();
    if (!inScene)
        return D3DERR_INVALIDCALL;
    inScene = false;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float, DWORD)
{
    enter();
    // There is no depth or stencil buffer to clear.
    if (flags != D3DCLEAR_TARGET || (count > 0 && !rects))
        return D3DERR_INVALIDCALL;
    const D3DRECT whole{LONG(viewport.X), LONG(viewport.Y), LONG(viewport.X + viewport.Width),
                        LONG(viewport.Y + viewport.Height)};
    const LONG width = LONG(parameters.BackBufferWidth);
    for (DWORD r = 0; r < std::max<DWORD>(count, 1); ++r) {
        const D3DRECT area = count ? rects[r] : whole;
        const LONG left = std::max(area.x1, whole.x1), right = std::min(area.x2, whole.x2);
        const LONG top = std::max(area.y1, whole.y1), bottom = std::min(area.y2, whole.y2);
        for (LONG y = top; y < bottom && left < right; ++y)
            std::fill(backBuffer.begin() + y * width + left, backBuffer.begin() + y * width + right, color);
    }
    return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* area)
{
    enter();
    // The depth range is not checked: nothing here keeps depth.
    if (!area || area->Width == 0 || area->Height == 0 || area->X + area->Width > parameters.BackBufferWidth ||
        area->Y + area->Height > parameters.BackBufferHeight || area->MinZ > area->MaxZ)
        return D3DERR_INVALIDCALL;
    viewport = *area;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    enter();
    if (DWORD(state) >= 256)
        return D3DERR_INVALIDCALL;
    renderStates[state] = value;
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture)
{
    enter();
    if (stage >= 16)
        return D3DERR_INVALIDCALL;
    hold(textures[stage], texture);
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    enter();
    if (stage >= 8 || DWORD(type) >= 33)
        return D3DERR_INVALIDCALL;
    stageStates[stage][type] = value;
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    enter();
    if (sampler >= 16 || DWORD(type) >= 14 || type == 0)
        return D3DERR_INVALIDCALL;
    // Addressing by clamping or wrapping, point or linear filtering: nothing else is drawn.
    const bool addressing = type == D3DSAMP_ADDRESSU || type == D3DSAMP_ADDRESSV || type == D3DSAMP_ADDRESSW;
    if (addressing && value != D3DTADDRESS_WRAP && value != D3DTADDRESS_CLAMP)
        return D3DERR_INVALIDCALL;
    if ((type == D3DSAMP_MAGFILTER || type == D3DSAMP_MINFILTER) && value != D3DTEXF_POINT && value != D3DTEXF_LINEAR)
        return D3DERR_INVALIDCALL;
    if (type == D3DSAMP_MIPFILTER && value > D3DTEXF_LINEAR)
        return D3DERR_INVALIDCALL;
    samplerStates[sampler][type] = value;
    return D3D_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** out)
{
    enter();
    if (!out)
        return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!elements)
        return D3DERR_INVALIDCALL;
    std::vector<D3DVERTEXELEMENT9> kept;
    for (const D3DVERTEXELEMENT9* element = elements; element->Stream != 0xFF; ++element) {
        // Floats from stream 0 only.
        if (element->Stream != 0 || element->Type > D3DDECLTYPE_FLOAT4 || element->Method != D3DDECLMETHOD_DEFAULT ||
            kept.size() >= 64)
            return D3DERR_INVALIDCALL;
        kept.push_back(*element);
    }
    if (direct3d->controls.fails("declaration"))
        return E_OUTOFMEMORY;
    *out = new VertexDeclaration(this, std::move(kept));
    return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* value)
{
    enter();
    hold(declaration, value);
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD value)
{
    enter();
    fvf = value;
    return D3D_OK;
}

HRESULT Device::CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader)
{
    enter();
    if (!shader)
        return D3DERR_INVALIDCALL;
    *shader = nullptr;
    ShaderProgram program;
    if (!program.parse(function, ShaderProgram::Vertex))
        return D3DERR_INVALIDCALL;
    if (direct3d->controls.fails("vertexshader"))
        return E_OUTOFMEMORY;
    *shader = new VertexShader(this, std::move(program));
    return D3D_OK;
}

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader)
{
    enter();
    hold(vertexShader, shader);
    return D3D_OK;
}

HRESULT Device::CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader)
{
    enter();
    if (!shader)
        return D3DERR_INVALIDCALL;
    *shader = nullptr;
    ShaderProgram program;
    if (!program.parse(function, ShaderProgram::Pixel))
        return D3DERR_INVALIDCALL;
    if (direct3d->controls.fails("pixelshader"))
        return E_OUTOFMEMORY;
    *shader = new PixelShader(this, std::move(program));
    return D3D_OK;
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader)
{
    enter();
    hold(pixelShader, shader);
    return D3D_OK;
}

HRESULT Device::SetPixelShaderConstantF(UINT startRegister, const float* data, UINT count)
{
    enter();
    if (!data || startRegister > 32 || count > 32 - startRegister)
        return D3DERR_INVALIDCALL;
    std::memcpy(pixelConstants + 4 * startRegister, data, 4 * sizeof(float) * count);
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT number, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride)
{
    enter();
    if (number != 0)
        return D3DERR_INVALIDCALL;
    hold(stream, buffer);
    streamOffset = offset;
    streamStride = stride;
    return D3D_OK;
}

Texture* Device::boundTexture(int sampler) const
{
    IDirect3DBaseTexture9* texture = textures[sampler];
    return texture ? implementation<Texture>(static_cast<IDirect3DTexture9*>(texture)) : nullptr;
}

bool Device::readyToDraw() const
{
    if (!inScene || !declaration || !vertexShader || !pixelShader || !stream || streamStride == 0)
        return false;
    if (implementation<VertexBuffer>(stream)->locked)
        return false;
    const ShaderProgram& pixels = implementation<PixelShader>(pixelShader)->program;
    for (const ShaderProgram::Declaration& declared : pixels.declarations())
        if (declared.type == ShaderProgram::Sampler) {
            const Texture* texture = boundTexture(declared.index);
            if (texture && texture->locked)
                return false;
        }
    return true;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount)
{
    enter();
    if ((type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLELIST) || primitiveCount == 0 ||
        primitiveCount > (1u << 20) || !readyToDraw())
        return D3DERR_INVALIDCALL;
    const UINT vertexCount = type == D3DPT_TRIANGLESTRIP ? primitiveCount + 2 : primitiveCount * 3;
    std::vector<ScreenVertex> vertices;
    if (!shadeVertices(startVertex, vertexCount, vertices))
        return D3DERR_INVALIDCALL;
    const ShaderProgram& pixels = implementation<PixelShader>(pixelShader)->program;
    pixels.loadConstants(pixelConstants, 32, *pixelState);
    for (UINT p = 0; p < primitiveCount; ++p) {
        const UINT first = type == D3DPT_TRIANGLESTRIP ? p : 3 * p;
        drawTriangle(vertices[first], vertices[first + 1], vertices[first + 2]);
    }
    return D3D_OK;
}

bool Device::shadeVertices(UINT first, UINT count, std::vector<ScreenVertex>& out)
{
    const ShaderProgram& program = implementation<VertexShader>(vertexShader)->program;
    const VertexDeclaration& layout = *implementation<VertexDeclaration>(declaration);
    const std::vector<uint8_t>& bytes = implementation<VertexBuffer>(stream)->bytes;
    // Which input register each element feeds, by usage and usage index.
    std::vector<int> targets;
    for (const D3DVERTEXELEMENT9& element : layout.elements) {
        int target = -1;
        for (const ShaderProgram::Declaration& declared : program.declarations())
            if (declared.type == ShaderProgram::Input && declared.usage == element.Usage &&
                declared.usageIndex == element.UsageIndex)
                target = declared.index;
        targets.push_back(target);
        const size_t end = size_t(streamOffset) + size_t(streamStride) * (size_t(first) + count - 1) + element.Offset +
                           4 * (size_t(element.Type) + 1);
        if (end > bytes.size())
            return false;
    }
    ShaderProgram::State& state = *vertexState;
    program.loadConstants(vertexConstants, 96, state);
    out.resize(count);
    for (UINT base = 0; base < count; base += kLanes) {
        for (int lane = 0; lane < kLanes; ++lane) {
            // Lanes past the end repeat the last vertex.
            const UINT vertex = first + std::min<UINT>(base + UINT(lane), count - 1);
            const uint8_t* record = bytes.data() + streamOffset + size_t(streamStride) * vertex;
            for (size_t e = 0; e < targets.size(); ++e) {
                if (targets[e] < 0)
                    continue;
                // Missing components read as (0, 0, 0, 1).
                float value[4] = {0.0f, 0.0f, 0.0f, 1.0f};
                std::memcpy(value, record + layout.elements[e].Offset, 4 * (size_t(layout.elements[e].Type) + 1));
                for (int c = 0; c < 4; ++c)
                    state.inputs[targets[e]].c[c][lane] = value[c];
            }
        }
        program.run(state, nullptr);
        for (UINT lane = 0; lane < kLanes && base + lane < count; ++lane) {
            ScreenVertex& vertex = out[base + lane];
            const float w = state.position.c[3][lane];
            // Without clipping, a vertex at or behind the eye cannot be placed.
            if (!(w > 0.0f))
                return false;
            vertex.x = viewport.X + (state.position.c[0][lane] / w + 1.0) * viewport.Width / 2.0;
            vertex.y = viewport.Y + (1.0 - state.position.c[1][lane] / w) * viewport.Height / 2.0;
            for (int t = 0; t < 8; ++t)
                for (int c = 0; c < 4; ++c)
                    vertex.texcoords[t][c] = state.texcoords[t].c[c][lane];
        }
    }
    return true;
}

void Device::drawTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c)
{
    const double area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    if (area == 0.0 || !std::isfinite(area))
        return;

    // Each edge as A x + B y + C, positive inside. An edge shared by two
    // triangles is computed from the same ordered end points in both, so
    // that every pixel on it belongs to exactly one of them.
    struct Edge {
        double a, b, c;
        bool inclusive;
    } edges[3];
    const ScreenVertex* corners[3] = {&a, &b, &c};
    for (int e = 0; e < 3; ++e) {
        const ScreenVertex* p = corners[e];
        const ScreenVertex* q = corners[(e + 1) % 3];
        const ScreenVertex* opposite = corners[(e + 2) % 3];
        if (q->x < p->x || (q->x == p->x && q->y < p->y))
            std::swap(p, q);
        Edge edge{-(q->y - p->y), q->x - p->x, (q->y - p->y) * p->x - (q->x - p->x) * p->y, false};
        if (edge.a * opposite->x + edge.b * opposite->y + edge.c < 0.0) {
            edge.a = -edge.a;
            edge.b = -edge.b;
            edge.c = -edge.c;
        }
        // Pixels on a left or top edge are drawn (y grows downwards).
        edge.inclusive = edge.a > 0.0 || (edge.a == 0.0 && edge.b > 0.0);
        edges[e] = edge;
    }

    // Attribute planes f(x, y) = f0 + fx x + fy y for the pixel shader's inputs.
    const ShaderProgram& pixels = implementation<PixelShader>(pixelShader)->program;
    double gradients[8][4][3] = {};
    for (const ShaderProgram::Declaration& declared : pixels.declarations()) {
        if (declared.type != ShaderProgram::Texture)
            continue;
        for (int k = 0; k < 4; ++k) {
            const double f0 = a.texcoords[declared.index][k];
            const double f1 = b.texcoords[declared.index][k] - f0;
            const double f2 = c.texcoords[declared.index][k] - f0;
            const double fx = (f1 * (c.y - a.y) - f2 * (b.y - a.y)) / area;
            const double fy = (f2 * (b.x - a.x) - f1 * (c.x - a.x)) / area;
            gradients[declared.index][k][0] = f0 - fx * a.x - fy * a.y;
            gradients[declared.index][k][1] = fx;
            gradients[declared.index][k][2] = fy;
        }
    }
    // Magnified or minified: texels per pixel along the screen axes.
    for (int s = 0; s < 16; ++s) {
        const int input = pixels.coordinateInput(s);
        const Texture* texture = boundTexture(s);
        magnifying[s] = true;
        if (input < 0 || !texture)
            continue;
        const double(*g)[3] = gradients[input];
        const double footprint = std::max({std::abs(g[0][1]) * texture->width, std::abs(g[0][2]) * texture->width,
                                           std::abs(g[1][1]) * texture->height, std::abs(g[1][2]) * texture->height});
        magnifying[s] = footprint <= 1.0;
    }

    // Pixel centres lie on whole coordinates; drawing stays inside the viewport.
    const int left = int(viewport.X), right = int(viewport.X + viewport.Width) - 1;
    const int top = std::max(int(viewport.Y), int(std::ceil(std::min({a.y, b.y, c.y}))));
    const int bottom = std::min(int(viewport.Y + viewport.Height) - 1, int(std::floor(std::max({a.y, b.y, c.y}))));
    for (int y = top; y <= bottom; ++y) {
        int from = left, to = right;
        for (const Edge& edge : edges) {
            const double rest = edge.b * y + edge.c;
            if (edge.a == 0.0) {
                if (rest < 0.0 || (rest == 0.0 && !edge.inclusive))
                    from = to + 1;
                continue;
            }
            const double bound = -rest / edge.a;
            if (edge.a > 0.0)
                from = std::max(from, int(edge.inclusive ? std::ceil(bound) : std::floor(bound) + 1.0));
            else
                to = std::min(to, int(edge.inclusive ? std::floor(bound) : std::ceil(bound) - 1.0));
        }
        for (int x = from; x <= to; x += kLanes)
            shadeSpan(x, y, std::min(kLanes, to - x + 1), gradients);
    }
}

void Device::shadeSpan(int x, int y, int count, const double (*gradients)[4][3])
{
    const ShaderProgram& program = implementation<PixelShader>(pixelShader)->program;
    ShaderProgram::State& state = *pixelState;
    for (const ShaderProgram::Declaration& declared : program.declarations()) {
        if (declared.type != ShaderProgram::Texture)
            continue;
        for (int k = 0; k < 4; ++k) {
            if (!(declared.mask & (1u << k)))
                continue;
            const double* g = gradients[declared.index][k];
            const float start = float(g[0] + g[1] * x + g[2] * y);
            const float step = float(g[1]);
            float* lanes = state.inputs[declared.index].c[k];
            for (int i = 0; i < kLanes; ++i)
                lanes[i] = start + step * float(i);
        }
    }
    ++spansShaded;
    program.run(state, this);
    // All lanes at once, then the span's pixels.
    const Lanes& color = state.color;
    alignas(16) uint32_t pixels[kLanes];
    for (int i = 0; i < kLanes; i += 4)
        _mm_store_si128(reinterpret_cast<__m128i*>(pixels + i),
                        pixels4(color.c[0] + i, color.c[1] + i, color.c[2] + i));
    std::memcpy(backBuffer.data() + size_t(y) * parameters.BackBufferWidth + size_t(x), pixels,
                sizeof(uint32_t) * size_t(count));
}

void Device::sample(int sampler, const float* u, const float* v, unsigned components, Lanes& out) const
{
    const Texture* texture = boundTexture(sampler);
    if (!texture) {
        // An empty sampler reads as opaque black.
        for (int c = 0; c < 4; ++c)
            std::fill(out.c[c], out.c[c] + kLanes, c == 3 ? 1.0f : 0.0f);
        return;
    }
    const DWORD* states = samplerStates[sampler];
    const DWORD filter = magnifying[sampler] ? states[D3DSAMP_MAGFILTER] : states[D3DSAMP_MINFILTER];
    const bool clampU = states[D3DSAMP_ADDRESSU] == D3DTADDRESS_CLAMP;
    const bool clampV = states[D3DSAMP_ADDRESSV] == D3DTADDRESS_CLAMP;
    if (filter == D3DTEXF_LINEAR) {
        sampleLinear(*texture, clampU, clampV, u, v, components, out);
        return;
    }
    // Planes of one size read at the same coordinates (U and V) share their
    // texel indices, when the coordinates are inputs (no instruction writes those).
    const char* inputs = reinterpret_cast<const char*>(pixelState->inputs);
    const auto isInput = [&](const float* p) {
        const char* at = reinterpret_cast<const char*>(p);
        return at >= inputs && at < inputs + sizeof(pixelState->inputs);
    };
    PointIndices& at = pointIndices;
    if (!isInput(u) || !isInput(v) || at.span != spansShaded || at.u != u || at.v != v || at.width != texture->width ||
        at.height != texture->height || at.clampU != clampU || at.clampV != clampV) {
        texelIndices(u, float(texture->width), 0.0f, int(texture->width), clampU, at.columns, nullptr, nullptr);
        texelIndices(v, float(texture->height), 0.0f, int(texture->height), clampV, at.rows, nullptr, nullptr);
        at.span = spansShaded;
        at.u = u;
        at.v = v;
        at.width = texture->width;
        at.height = texture->height;
        at.clampU = clampU;
        at.clampV = clampV;
    }
    samplePoint(*texture, at, components, out);
}

} // namespace D3D9StandIn
