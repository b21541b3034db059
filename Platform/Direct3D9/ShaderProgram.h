#pragma once

#include "Platform/Direct3D9.h"

#include <vector>

namespace D3D9StandIn {

// Pixels (or vertices) that one pass of the interpreter works on together:
// every instruction runs over the whole span before the next one starts.
const int kLanes = 64;

// One register over a span: component c of lane i at c[c][i].
struct Lanes {
    alignas(16) float c[4][kLanes];
};

// Where texld reads from: fills out with the sampler's texels at the
// coordinates (all kLanes lanes), at least the components asked for (a mask,
// x = 1); the others are never read.
class TextureSampler {
public:
    virtual ~TextureSampler() = default;
    virtual void sample(int sampler, const float* u, const float* v, unsigned components, Lanes& out) const = 0;
};

// A vs_1_1 or ps_2_0 token stream, checked once and then interpreted. It
// runs dcl, mov, mad and texld with plain operands; anything else is refused
// when the shader is created.
class ShaderProgram {
public:
    enum Kind { Vertex, Pixel };

    // Register types, as the parameter tokens encode them.
    enum RegisterType {
        Temp = 0,
        Input = 1,
        Const = 2,
        Texture = 3, // pixel shader texture coordinate inputs
        RastOut = 4, // vertex shader position output
        TexCrdOut = 6,
        ColorOut = 8,
        Sampler = 10,
    };

    // A register that the shader declares: a vertex input with its usage, a
    // texture coordinate input or a sampler.
    struct Declaration {
        int type;
        int index;
        int usage;
        int usageIndex;
        unsigned mask;
    };

    // What one pass reads and writes. Constants hold only the registers that
    // the program names, each spread over the lanes (see constantSlots()).
    struct State {
        Lanes temps[12];
        Lanes inputs[16]; // v0.. (vertex) or t0.. (pixel)
        Lanes position;   // oPos
        Lanes texcoords[8];
        Lanes color; // oC0
        Lanes scratch;
        std::vector<Lanes> constants;
    };

    // False for a version, opcode, register, modifier or control that the
    // interpreter does not run; the program is then unusable.
    bool parse(const DWORD* tokens, Kind kind);

    Kind kind() const { return programKind; }
    const std::vector<DWORD>& tokens() const { return code; }
    const std::vector<Declaration>& declarations() const { return declared; }
    // For each constant register the program reads, the slot in State::constants.
    const std::vector<int>& constantSlots() const { return constantRegisters; }
    // The texture coordinate input that texld reads for a sampler, or -1.
    int coordinateInput(int sampler) const;

    // Spreads the constant registers (4 floats each, from register 0) into the state.
    void loadConstants(const float* registers, int registerCount, State& state) const;
    // Runs the program once over all lanes of the state.
    void run(State& state, const TextureSampler* sampler) const;

private:
    struct Operand {
        int type;
        int index;
        unsigned mask;
        unsigned char swizzle[4];
    };
    struct Instruction {
        int opcode;
        Operand destination;
        Operand sources[3];
        // Of a texld's result, the components that later instructions read.
        unsigned read;
    };

    bool parseDestination(DWORD token, Operand& operand) const;
    bool parseSource(DWORD token, Operand& operand);
    bool parseDeclaration(DWORD usageToken, DWORD registerToken);
    Lanes* registerLanes(const Operand& operand, State& state) const;
    void findReadComponents();

    Kind programKind = Vertex;
    std::vector<DWORD> code;
    std::vector<Instruction> instructions;
    std::vector<Declaration> declared;
    std::vector<int> constantRegisters;
    int samplerCoordinates[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

} // namespace D3D9StandIn
