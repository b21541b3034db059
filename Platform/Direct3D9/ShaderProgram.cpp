#include "ShaderProgram.h"

#include <algorithm>
#include <cstring>

namespace D3D9StandIn {

namespace {

const DWORD kVertexShader11 = 0xFFFE0101;
const DWORD kPixelShader20 = 0xFFFF0200;

enum Opcode { Mov = 1, Mad = 4, Dcl = 31, Tex = 66, Comment = 0xFFFE, End = 0xFFFF };

// A stream longer than this has lost its end token.
const size_t kMaxTokens = 1 << 16;

int parameterCount(int opcode, ShaderProgram::Kind kind)
{
    switch (opcode) {
    case Mov:
        return 2;
    case Mad:
        return 4;
    case Dcl:
        return 2;
    case Tex:
        return kind == ShaderProgram::Pixel ? 3 : -1;
    default:
        return -1;
    }
}

int registerType(DWORD token) { return int(((token >> 28) & 0x7) | ((token >> 8) & 0x18)); }

int registerLimit(int type, ShaderProgram::Kind kind)
{
    const bool pixel = kind == ShaderProgram::Pixel;
    switch (type) {
    case ShaderProgram::Temp:
        return 12;
    case ShaderProgram::Input:
        return pixel ? 0 : 16;
    case ShaderProgram::Const:
        return pixel ? 32 : 96;
    case ShaderProgram::Texture:
        return pixel ? 8 : 0;
    case ShaderProgram::RastOut:
        return pixel ? 0 : 1;
    case ShaderProgram::TexCrdOut:
        return pixel ? 0 : 8;
    case ShaderProgram::ColorOut:
        return pixel ? 1 : 0;
    case ShaderProgram::Sampler:
        return pixel ? 16 : 0;
    default:
        return 0;
    }
}

bool isOutput(int type)
{
    return type == ShaderProgram::RastOut || type == ShaderProgram::TexCrdOut || type == ShaderProgram::ColorOut;
}

} // namespace

bool ShaderProgram::parseDestination(DWORD token, Operand& operand) const
{
    // Parameter bit, no relative addressing, no result modifier or shift.
    if (!(token & 0x80000000u) || (token & 0x2000) || (token & 0x0FF00000))
        return false;
    operand.type = registerType(token);
    operand.index = int(token & 0x7FF);
    operand.mask = (token >> 16) & 0xF;
    if (operand.index >= registerLimit(operand.type, programKind) || operand.mask == 0)
        return false;
    return operand.type == Temp || isOutput(operand.type);
}

bool ShaderProgram::parseSource(DWORD token, Operand& operand)
{
    // Parameter bit, no relative addressing, no source modifier.
    if (!(token & 0x80000000u) || (token & 0x2000) || (token & 0x0F000000))
        return false;
    operand.type = registerType(token);
    operand.index = int(token & 0x7FF);
    operand.mask = 0xF;
    for (int c = 0; c < 4; ++c)
        operand.swizzle[c] = (token >> (16 + 2 * c)) & 3;
    if (operand.index >= registerLimit(operand.type, programKind) || isOutput(operand.type))
        return false;
    if (operand.type == Const) {
        auto found = std::find(constantRegisters.begin(), constantRegisters.end(), operand.index);
        if (found == constantRegisters.end())
            found = constantRegisters.insert(found, operand.index);
        operand.index = int(found - constantRegisters.begin());
    }
    return true;
}

bool ShaderProgram::parseDeclaration(DWORD usageToken, DWORD registerToken)
{
    Operand operand;
    if (!(usageToken & 0x80000000u) || !(registerToken & 0x80000000u) || (registerToken & 0x0FF02000))
        return false;
    operand.type = registerType(registerToken);
    operand.index = int(registerToken & 0x7FF);
    if (operand.index >= registerLimit(operand.type, programKind))
        return false;
    Declaration declaration{operand.type, operand.index, 0, 0, (registerToken >> 16) & 0xF};
    if (operand.type == Input) {
        declaration.usage = int(usageToken & 0x1F);
        declaration.usageIndex = int((usageToken >> 16) & 0xF);
    } else if (operand.type == Sampler) {
        // 2D textures only.
        if (((usageToken >> 27) & 0xF) != 2)
            return false;
    } else if (operand.type != Texture) {
        return false;
    }
    declared.push_back(declaration);
    return true;
}

bool ShaderProgram::parse(const DWORD* tokens, Kind kind)
{
    programKind = kind;
    code.clear();
    instructions.clear();
    declared.clear();
    constantRegisters.clear();
    std::fill(std::begin(samplerCoordinates), std::end(samplerCoordinates), -1);
    if (!tokens || tokens[0] != (kind == Pixel ? kPixelShader20 : kVertexShader11))
        return false;

    size_t at = 1;
    for (;;) {
        if (at >= kMaxTokens)
            return false;
        const DWORD token = tokens[at];
        const int opcode = int(token & 0xFFFF);
        if (opcode == End) {
            ++at;
            break;
        }
        if (opcode == Comment) {
            at += 1 + ((token >> 16) & 0x7FFF);
            continue;
        }
        const int count = parameterCount(opcode, kind);
        // Unknown opcodes, controls (texldp and the like), predication and co-issue.
        if (count < 0 || (token & 0x80000000u) || (token & 0x50FF0000))
            return false;
        // Version 2 states the length; version 1 leaves those bits clear.
        const int stated = int((token >> 24) & 0xF);
        if (stated != (kind == Pixel ? count : 0))
            return false;
        const DWORD* parameters = tokens + at + 1;
        at += 1 + size_t(count);
        if (opcode == Dcl) {
            if (!parseDeclaration(parameters[0], parameters[1]))
                return false;
            continue;
        }
        Instruction instruction;
        instruction.opcode = opcode;
        instruction.read = 0xF;
        if (!parseDestination(parameters[0], instruction.destination))
            return false;
        for (int i = 1; i < count; ++i)
            if (!parseSource(parameters[i], instruction.sources[i - 1]))
                return false;
        if (opcode == Tex) {
            const Operand& coordinates = instruction.sources[0];
            const Operand& sampler = instruction.sources[1];
            if (sampler.type != Sampler || coordinates.type == Sampler)
                return false;
            samplerCoordinates[sampler.index] = coordinates.type == Texture ? coordinates.index : -1;
        } else {
            for (int i = 1; i < count; ++i)
                if (instruction.sources[i - 1].type == Sampler)
                    return false;
        }
        instructions.push_back(instruction);
    }
    code.assign(tokens, tokens + at);
    findReadComponents();
    return true;
}

void ShaderProgram::findReadComponents()
{
    const auto same = [](const Operand& a, const Operand& b) { return a.type == b.type && a.index == b.index; };
    for (size_t i = 0; i < instructions.size(); ++i) {
        Instruction& texld = instructions[i];
        if (texld.opcode != Tex)
            continue;
        unsigned read = 0, live = texld.destination.mask;
        for (size_t j = i + 1; j < instructions.size() && live; ++j) {
            const Instruction& later = instructions[j];
            const int sources = parameterCount(later.opcode, programKind) - 1;
            for (int k = 0; k < sources; ++k) {
                if (!same(later.sources[k], texld.destination))
                    continue;
                // texld reads two coordinates; the others read what their write mask needs.
                const unsigned needed = later.opcode == Tex ? 0x3 : later.destination.mask;
                for (int c = 0; c < 4; ++c)
                    if (needed & (1u << c))
                        read |= (1u << later.sources[k].swizzle[c]) & live;
            }
            if (same(later.destination, texld.destination))
                live &= ~later.destination.mask;
        }
        // What stays in a temporary at the end is never seen; an output always is.
        texld.read = texld.destination.type == Temp ? read : 0xFu;
    }
}

int ShaderProgram::coordinateInput(int sampler) const
{
    return sampler >= 0 && sampler < 16 ? samplerCoordinates[sampler] : -1;
}

void ShaderProgram::loadConstants(const float* registers, int registerCount, State& state) const
{
    state.constants.resize(constantRegisters.size());
    for (size_t slot = 0; slot < constantRegisters.size(); ++slot) {
        const int index = constantRegisters[slot];
        for (int c = 0; c < 4; ++c) {
            const float value = index < registerCount ? registers[4 * index + c] : 0.0f;
            std::fill(state.constants[slot].c[c], state.constants[slot].c[c] + kLanes, value);
        }
    }
}

Lanes* ShaderProgram::registerLanes(const Operand& operand, State& state) const
{
    switch (operand.type) {
    case Temp:
        return &state.temps[operand.index];
    case Input:
    case Texture:
        return &state.inputs[operand.index];
    case Const:
        return &state.constants[size_t(operand.index)];
    case RastOut:
        return &state.position;
    case TexCrdOut:
        return &state.texcoords[operand.index];
    case ColorOut:
        return &state.color;
    default:
        return nullptr;
    }
}

void ShaderProgram::run(State& state, const TextureSampler* sampler) const
{
    for (const Instruction& instruction : instructions) {
        const Operand* sources = instruction.sources;
        const unsigned mask = instruction.destination.mask;
        Lanes* destination = registerLanes(instruction.destination, state);
        // Straight into the destination, unless a source is the destination
        // itself (or only part of it is written, as texld writes all four).
        bool direct = mask == 0xF || instruction.opcode != Tex;
        for (int i = 0; i < parameterCount(instruction.opcode, programKind) - 1; ++i)
            if (registerLanes(sources[i], state) == destination)
                direct = false;
        Lanes& result = direct ? *destination : state.scratch;
        if (instruction.opcode == Tex) {
            const Lanes* coordinates = registerLanes(sources[0], state);
            sampler->sample(sources[1].index, coordinates->c[sources[0].swizzle[0]],
                            coordinates->c[sources[0].swizzle[1]], instruction.read, result);
        } else {
            const Lanes* a = registerLanes(sources[0], state);
            const Lanes* b = instruction.opcode == Mad ? registerLanes(sources[1], state) : nullptr;
            const Lanes* d = instruction.opcode == Mad ? registerLanes(sources[2], state) : nullptr;
            for (int c = 0; c < 4; ++c) {
                if (!(mask & (1u << c)))
                    continue;
                float* out = result.c[c];
                const float* x = a->c[sources[0].swizzle[c]];
                if (instruction.opcode == Mov) {
                    std::memcpy(out, x, sizeof(result.c[c]));
                    continue;
                }
                const float* y = b->c[sources[1].swizzle[c]];
                const float* z = d->c[sources[2].swizzle[c]];
                for (int i = 0; i < kLanes; ++i)
                    out[i] = x[i] * y[i] + z[i];
            }
        }
        if (direct)
            continue;
        for (int c = 0; c < 4; ++c)
            if (mask & (1u << c))
                std::memcpy(destination->c[c], result.c[c], sizeof(result.c[c]));
    }
}

} // namespace D3D9StandIn
