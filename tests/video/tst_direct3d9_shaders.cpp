// The back end's two Direct3D 9 shaders run by the stand-in's interpreter on
// their own: what they compute and their constant table. One function tests
// the stand-in itself, not the product: the token streams that its
// interpreter refuses, so that it never runs shader code it does not know
// as if it did (which would let the product tests above pass wrongly).

#include "VideoPattern.h"

#include "Core/Output/VideoShadersDirect3D9.h"
#include "Core/Output/VideoSurfaceDirect3D9.h"
#include "Platform/Direct3D9/ShaderProgram.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <vector>

Q_DECLARE_METATYPE(std::vector<DWORD>)

using namespace D3D9StandIn;
namespace Shaders = Harbend::VideoShadersDirect3D9;

namespace {

// Each sampler reads one value everywhere: sampler i gives levels[i] / 255.
class FlatSampler : public TextureSampler {
public:
    explicit FlatSampler(const VideoPattern::Yuv& yuv) : levels{yuv.y, yuv.u, yuv.v} {}
    void sample(int sampler, const float*, const float*, unsigned, Lanes& out) const override
    {
        for (int c = 0; c < 4; ++c)
            std::fill(out.c[c], out.c[c] + kLanes, c == 3 ? 1.0f : float(levels[sampler]) / 255.0f);
    }

private:
    int levels[3];
};

std::vector<DWORD> tokens(const DWORD* shader, unsigned bytes)
{
    return std::vector<DWORD>(shader, shader + bytes / 4);
}

// The index of the last token equal to the value.
size_t lastIndexOf(const std::vector<DWORD>& stream, DWORD value)
{
    for (size_t i = stream.size(); i-- > 0;)
        if (stream[i] == value)
            return i;
    return 0;
}

int level(float value) { return int(std::lround(std::min(1.0f, std::max(0.0f, value)) * 255.0f)); }

} // namespace

class Direct3D9ShadersTest : public QObject {
    Q_OBJECT
private slots:
    void vertexShaderPassesPositionAndCoordinate();
    void pixelShaderColour_data();
    void pixelShaderColour();
    void constantTableNamesTheInputs();
    void standInRefusesCodeItCannotRun_data();
    void standInRefusesCodeItCannotRun();
};

void Direct3D9ShadersTest::vertexShaderPassesPositionAndCoordinate()
{
    ShaderProgram program;
    QVERIFY(program.parse(Shaders::vertexShader, ShaderProgram::Vertex));
    QCOMPARE(program.tokens().size() * 4, size_t(Shaders::vertexShaderSize));
    QCOMPARE(program.declarations().size(), size_t(2));
    QCOMPARE(program.declarations()[0].usage, int(D3DDECLUSAGE_POSITION));
    QCOMPARE(program.declarations()[1].usage, int(D3DDECLUSAGE_TEXCOORD));
    ShaderProgram::State state;
    program.loadConstants(nullptr, 0, state);
    for (int i = 0; i < kLanes; ++i) {
        const float in[2][4] = {{-0.75f + i, 0.5f, 0.0f, 1.0f}, {i / 64.0f, 1.0f - i / 64.0f, 0.0f, 1.0f}};
        for (int c = 0; c < 4; ++c) {
            state.inputs[0].c[c][i] = in[0][c];
            state.inputs[1].c[c][i] = in[1][c];
        }
    }
    program.run(state, nullptr);
    for (int i = 0; i < kLanes; i += 9) {
        QCOMPARE(state.position.c[0][i], -0.75f + i);
        QCOMPARE(state.position.c[1][i], 0.5f);
        QCOMPARE(state.position.c[3][i], 1.0f);
        QCOMPARE(state.texcoords[0].c[0][i], i / 64.0f);
        QCOMPARE(state.texcoords[0].c[1][i], 1.0f - i / 64.0f);
    }
}

void Direct3D9ShadersTest::pixelShaderColour_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("u");
    QTest::addColumn<int>("v");
    QTest::newRow("black") << 16 << 128 << 128;
    QTest::newRow("white") << 235 << 128 << 128;
    QTest::newRow("mid grey") << 128 << 128 << 128;
    QTest::newRow("red chroma at its limit") << 16 << 128 << 240;
    QTest::newRow("beyond the range") << 0 << 255 << 0;
    for (int percent : {75, 100})
        for (const QColor& bar : VideoPattern::bars(percent)) {
            const VideoPattern::Yuv code = VideoPattern::fromRgb(bar);
            QTest::newRow(qPrintable(QStringLiteral("%1%% bar %2").arg(percent).arg(bar.name())))
                << code.y << code.u << code.v;
        }
}

// c0 * Y + c1 * U + c2 * V + c3: BT.709 limited range, within one level, alpha 1.
void Direct3D9ShadersTest::pixelShaderColour()
{
    QFETCH(int, y);
    QFETCH(int, u);
    QFETCH(int, v);
    ShaderProgram program;
    QVERIFY(program.parse(Shaders::pixelShader, ShaderProgram::Pixel));
    QCOMPARE(program.tokens().size() * 4, size_t(Shaders::pixelShaderSize));
    for (int sampler = 0; sampler < 3; ++sampler)
        QCOMPARE(program.coordinateInput(sampler), 0);
    ShaderProgram::State state;
    program.loadConstants(Harbend::VideoSurfaceDirect3D9::ms_colorMatrix, 4, state);
    const FlatSampler sampler({y, u, v});
    program.run(state, &sampler);
    const QColor expected = VideoPattern::toRgb({y, u, v});
    for (int i : {0, kLanes - 1}) {
        QVERIFY2(std::abs(level(state.color.c[0][i]) - expected.red()) <= 1 &&
                     std::abs(level(state.color.c[1][i]) - expected.green()) <= 1 &&
                     std::abs(level(state.color.c[2][i]) - expected.blue()) <= 1,
                 qPrintable(QStringLiteral("(%1, %2, %3), expected %4")
                                .arg(level(state.color.c[0][i]))
                                .arg(level(state.color.c[1][i]))
                                .arg(level(state.color.c[2][i]))
                                .arg(expected.name())));
        QCOMPARE(state.color.c[3][i], 1.0f);
    }
}

// The comment after the version holds the table: names with register set
// (2 float constants, 3 samplers), first register and count.
void Direct3D9ShadersTest::constantTableNamesTheInputs()
{
    const std::vector<DWORD> stream = tokens(Shaders::pixelShader, Shaders::pixelShaderSize);
    QCOMPARE(stream[1] & 0xFFFF, DWORD(0xFFFE));
    QCOMPARE(stream[2], DWORD(0x42415443)); // "CTAB"
    const char* table = reinterpret_cast<const char*>(&stream[3]);
    const size_t tableSize = ((stream[1] >> 16) - 1) * 4;
    DWORD header[7];
    std::memcpy(header, table, sizeof(header));
    QCOMPARE(header[0], DWORD(28));
    QCOMPARE(header[2], DWORD(0xFFFF0200));
    QStringList found;
    for (DWORD i = 0; i < header[3]; ++i) {
        DWORD name;
        WORD where[3];
        std::memcpy(&name, table + header[4] + 20 * i, 4);
        std::memcpy(where, table + header[4] + 20 * i + 4, 6);
        QVERIFY(name < tableSize);
        found << QStringLiteral("%1 %2 %3 %4").arg(table + name).arg(where[0]).arg(where[1]).arg(where[2]);
    }
    found.sort();
    QCOMPARE(found, QStringList({"ColorMatrix 2 0 4", "TexU 3 1 1", "TexV 3 2 1", "TexY 3 0 1"}));
    QCOMPARE(QByteArray(table + header[6]), QByteArray("ps_2_0"));
}

// A test of the test double, not of the product.
void Direct3D9ShadersTest::standInRefusesCodeItCannotRun_data()
{
    QTest::addColumn<std::vector<DWORD>>("stream");
    QTest::addColumn<int>("kind");
    const std::vector<DWORD> pixel = tokens(Shaders::pixelShader, Shaders::pixelShaderSize);
    const size_t mov = lastIndexOf(pixel, 0x02000001);
    const size_t texld = lastIndexOf(pixel, 0x03000042);
    QVERIFY(mov > 0 && texld > 0);
    std::vector<DWORD> edited = pixel;
    edited[mov] = 0x02000006; // rcp: an opcode that the interpreter does not know
    QTest::newRow("unknown opcode") << edited << int(ShaderProgram::Pixel);
    edited = pixel;
    edited[mov + 2] |= 0x01000000; // -r0
    QTest::newRow("source modifier") << edited << int(ShaderProgram::Pixel);
    edited = pixel;
    edited[mov + 1] |= 0x00100000; // mov_sat
    QTest::newRow("result modifier") << edited << int(ShaderProgram::Pixel);
    edited = pixel;
    edited[texld] |= 0x00010000; // texldp
    QTest::newRow("projected texld") << edited << int(ShaderProgram::Pixel);
    edited = pixel;
    edited[mov] = 0x03000001; // a length that does not match the opcode
    QTest::newRow("wrong length") << edited << int(ShaderProgram::Pixel);
    edited = pixel;
    edited[0] = 0xFFFF0300;
    QTest::newRow("ps_3_0") << edited << int(ShaderProgram::Pixel);
    QTest::newRow("vertex code as a pixel shader")
        << tokens(Shaders::vertexShader, Shaders::vertexShaderSize) << int(ShaderProgram::Pixel);
    QTest::newRow("pixel code as a vertex shader") << pixel << int(ShaderProgram::Vertex);
}

void Direct3D9ShadersTest::standInRefusesCodeItCannotRun()
{
    QFETCH(std::vector<DWORD>, stream);
    QFETCH(int, kind);
    ShaderProgram program;
    QVERIFY(!program.parse(stream.data(), ShaderProgram::Kind(kind)));
}

QTEST_APPLESS_MAIN(Direct3D9ShadersTest)

#include "tst_direct3d9_shaders.moc"
