#include "AlignedBuffer.h"

#include "Core/Base/Processor.h"
#include "Core/Dsp/AudioKernels.h"
#include "Core/Dsp/Complex.h"
#include "Core/Dsp/FFT.h"
#include "Core/Dsp/ScaleFunction.h"
#include "Core/Dsp/WindowFunction.h"

#include <QtTest>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>

using namespace Harbend;

namespace {

const unsigned kVectorFlags = Processor::MMX | Processor::SSE | Processor::SSE2;

std::vector<float> noise(unsigned n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> values(n);
    for (float& v : values)
        v = uniform(random);
    return values;
}

std::vector<std::complex<double>> referenceDft(const std::vector<float>& re, const std::vector<float>& im)
{
    const size_t n = re.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (size_t j = 0; j < n; ++j) {
            const double angle = -2.0 * M_PI * double((j * k) % n) / double(n);
            sum += std::complex<double>(re[j], im[j]) * std::polar(1.0, angle);
        }
        out[k] = sum;
    }
    return out;
}

// The L2 distance between a transform and the reference, relative to the reference.
double relativeError(AlignedBuffer& re, AlignedBuffer& im, const std::vector<std::complex<double>>& reference)
{
    double error = 0.0;
    double norm = 0.0;
    for (unsigned k = 0; k < re.size(); ++k) {
        error += std::norm(std::complex<double>(re[k], im[k]) - reference[k]);
        norm += std::norm(reference[k]);
    }
    return std::sqrt(error / norm);
}

// One row for the plain kernels and one for the SSE/SSE2 kernels.
void addForms()
{
    QTest::addColumn<unsigned>("flags");
    QTest::newRow("plain") << 0u;
    QTest::newRow("sse2") << kVectorFlags;
}

} // namespace

class DspKernelsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Processor::overrideFlags(0); }

    void windowValues_data();
    void windowValues();
    void hammingEdgesAndMiddle_data();
    void hammingEdgesAndMiddle();
    void rectangleAndUnknownTypeLeaveData();
    void windowKernelFollowsSse2Flag();

    void transformMatchesDft_data();
    void transformMatchesDft();
    void impulseConstantAndParseval_data();
    void impulseConstantAndParseval();
    void inverseScaling_data();
    void inverseScaling();
    void plainAndVectorFormsAgree();
    void audioKernelsAgree_data();
    void audioKernelsAgree();

    void polarConversions_data();
    void polarConversions();
    void polarEdgeCases_data();
    void polarEdgeCases();
};

void DspKernelsTest::windowValues_data()
{
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<int>("type");
    QTest::addColumn<unsigned>("n");
    QTest::addColumn<double>("bound");
    // Plain kernels round an extended-precision value once; the SSE2 ones take
    // the angle in single precision and cosine from a polynomial.
    for (unsigned n : {16u, 1024u, 4096u}) {
        const QByteArray size = QByteArray::number(n);
        QTest::newRow("plain hann " + size) << 0u << int(WindowFunction::Type::Hann) << n << 1e-7;
        QTest::newRow("plain hamming " + size) << 0u << int(WindowFunction::Type::Hamming) << n << 1e-7;
        QTest::newRow("sse2 hann " + size) << kVectorFlags << int(WindowFunction::Type::Hann) << n << 1e-6;
        QTest::newRow("sse2 hamming " + size) << kVectorFlags << int(WindowFunction::Type::Hamming) << n << 1e-6;
    }
}

void DspKernelsTest::windowValues()
{
    QFETCH(unsigned, flags);
    QFETCH(int, type);
    QFETCH(unsigned, n);
    QFETCH(double, bound);
    Processor::overrideFlags(flags);
    const double a = type == WindowFunction::Type::Hann ? 0.5 : 0.53836;
    const std::vector<float> input = noise(n, 7);
    AlignedBuffer data(input);
    WindowFunction(WindowFunction::Type::Enum(type)).scale(data.data(), n);
    double worst = 0.0;
    for (unsigned i = 0; i < n; ++i) {
        const double expected = input[i] * (a - (1.0 - a) * std::cos(2.0 * M_PI * i / (n - 1)));
        worst = std::max(worst, std::fabs(data[i] - expected));
    }
    QVERIFY2(worst <= bound, qPrintable(QString::number(worst)));
}

void DspKernelsTest::hammingEdgesAndMiddle_data() { addForms(); }

void DspKernelsTest::hammingEdgesAndMiddle()
{
    QFETCH(unsigned, flags);
    Processor::overrideFlags(flags);
    AlignedBuffer ones(std::vector<float>(4096, 1.0f));
    WindowFunction(WindowFunction::Type::Hamming).scale(ones.data(), 4096);
    QVERIFY(std::fabs(ones[0] - 0.0767200f) < 1e-6f);
    QVERIFY(std::fabs(ones[4095] - 0.0767200f) < 1e-6f);
    QVERIFY(ones[2047] > 0.99999f && ones[2048] > 0.99999f);
    QVERIFY(ones[2047] <= 1.0f);
}

void DspKernelsTest::rectangleAndUnknownTypeLeaveData()
{
    for (unsigned flags : {0u, kVectorFlags}) {
        Processor::overrideFlags(flags);
        const std::vector<float> input = noise(64, 3);
        AlignedBuffer data(input);
        WindowFunction(WindowFunction::Type::Rectangle).scale(data.data(), 64);
        WindowFunction(WindowFunction::Type::Enum(7)).scale(data.data(), 64);
        QCOMPARE(data.values(), input);
    }
}

void DspKernelsTest::windowKernelFollowsSse2Flag()
{
    using Kernel = void (*)(float*, unsigned);
    const struct {
        unsigned flags;
        Kernel hann;
        Kernel hamming;
    } forms[] = {
        {0u, scaleFunction::hann, scaleFunction::hamming},
        {Processor::MMX | Processor::SSE, scaleFunction::hann, scaleFunction::hamming},
        {Processor::SSE2, scaleFunction::hannSSE2, scaleFunction::hammingSSE2},
        {kVectorFlags, scaleFunction::hannSSE2, scaleFunction::hammingSSE2},
    };
    for (const auto& form : forms) {
        Processor::overrideFlags(form.flags);
        QVERIFY(WindowFunction(WindowFunction::Type::Rectangle).scale == Kernel(scaleFunction::rectangle));
        QVERIFY(WindowFunction(WindowFunction::Type::Hann).scale == form.hann);
        QVERIFY(WindowFunction(WindowFunction::Type::Hamming).scale == form.hamming);
    }
}

void DspKernelsTest::transformMatchesDft_data()
{
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<unsigned>("n");
    for (unsigned n : {16u, 32u, 256u, 4096u}) {
        QTest::newRow(("plain " + QByteArray::number(n)).constData()) << 0u << n;
        QTest::newRow(("sse " + QByteArray::number(n)).constData()) << kVectorFlags << n;
    }
}

void DspKernelsTest::transformMatchesDft()
{
    QFETCH(unsigned, flags);
    QFETCH(unsigned, n);
    Processor::overrideFlags(flags);
    const std::vector<float> inRe = noise(n, 11);
    const std::vector<float> inIm = noise(n, 12);
    AlignedBuffer re(inRe), im(inIm);
    FFT transform(n);
    transform.fft(re.data(), im.data(), n);
    // Single precision over log2(n) stages: well inside 1e-6 of the norm.
    const double error = relativeError(re, im, referenceDft(inRe, inIm));
    QVERIFY2(error < 1e-6, qPrintable(QString::number(error)));
}

void DspKernelsTest::impulseConstantAndParseval_data() { addForms(); }

void DspKernelsTest::impulseConstantAndParseval()
{
    QFETCH(unsigned, flags);
    Processor::overrideFlags(flags);
    const unsigned n = 4096;
    FFT transform(n);

    AlignedBuffer re(n), im(n);
    re[0] = 1.0f;
    transform.fft(re.data(), im.data(), n);
    for (unsigned k = 0; k < n; ++k) {
        QCOMPARE(re[k], 1.0f);
        QCOMPARE(im[k], 0.0f);
    }

    AlignedBuffer ones(std::vector<float>(n, 1.0f)), zeros(n);
    transform.fft(ones.data(), zeros.data(), n);
    QCOMPARE(ones[0], float(n));
    for (unsigned k = 1; k < n; ++k) {
        QVERIFY(std::fabs(ones[k]) < 1e-3f);
        QVERIFY(std::fabs(zeros[k]) < 1e-3f);
    }

    const std::vector<float> signal = noise(n, 5);
    AlignedBuffer sRe(signal), sIm(n);
    double timeEnergy = 0.0;
    for (float v : signal)
        timeEnergy += double(v) * v;
    transform.fft(sRe.data(), sIm.data(), n);
    double binEnergy = 0.0;
    for (unsigned k = 0; k < n; ++k)
        binEnergy += double(sRe[k]) * sRe[k] + double(sIm[k]) * sIm[k];
    QVERIFY(std::fabs(binEnergy / (n * timeEnergy) - 1.0) < 1e-6);
}

void DspKernelsTest::inverseScaling_data() { addForms(); }

void DspKernelsTest::inverseScaling()
{
    QFETCH(unsigned, flags);
    Processor::overrideFlags(flags);
    const unsigned n = 1024;
    const std::vector<float> inRe = noise(n, 21);
    const std::vector<float> inIm = noise(n, 22);
    AlignedBuffer re(inRe), im(inIm);
    FFT transform(n);
    transform.fft(re.data(), im.data(), n);
    transform.ifft(re.data(), im.data(), n);
    const float root2 = std::sqrt(2.0f);
    for (unsigned i = 0; i < n; ++i) {
        QVERIFY(std::fabs(re[i] - inRe[i] / root2) < 1e-6f);
        QVERIFY(std::fabs(im[i] + inIm[i] / root2) < 1e-6f);
    }
}

void DspKernelsTest::plainAndVectorFormsAgree()
{
    const unsigned n = 4096;
    const std::vector<float> inRe = noise(n, 31);
    std::vector<float> results[2][2];
    for (int form = 0; form < 2; ++form) {
        Processor::overrideFlags(form ? kVectorFlags : 0u);
        AlignedBuffer re(inRe), im(n);
        WindowFunction(WindowFunction::Type::Hamming).scale(re.data(), n);
        FFT transform(n);
        transform.fft(re.data(), im.data(), n);
        Complex::toPolar(re.data(), im.data(), n);
        results[form][0] = im.values();
        Complex::toRealImaginary(re.data(), im.data(), n);
        transform.ifft(re.data(), im.data(), n);
        results[form][1] = re.values();
    }
    // Magnitudes and the round trip agree to 2e-6 of the signal's peak.
    for (int part = 0; part < 2; ++part) {
        const std::vector<float>& plain = results[0][part];
        const std::vector<float>& vector = results[1][part];
        const float peak = *std::max_element(plain.begin(), plain.end());
        for (unsigned i = 0; i < n; ++i)
            QVERIFY2(std::fabs(plain[i] - vector[i]) <= 2e-6f * peak, qPrintable(QString::number(i)));
    }
}

// Values where rounding, limits and special values could part the two forms.
QVector<float> edgeValues()
{
    const float inf = std::numeric_limits<float>::infinity();
    return {1.0f,
            -1.0f,
            0.0f,
            0.5f,
            100.0f,
            -100.0f,
            1e10f,
            -1e10f,
            -0.0f,
            inf,
            -inf,
            std::numeric_limits<float>::quiet_NaN(),
            1e-40f,
            -1e-40f,
            0.5f / 32768,
            -0.5f / 32768,
            1.5f / 32768,
            -1.5f / 32768,
            32767.5f / 32768,
            -32767.5f / 32768,
            32768.5f / 32768,
            -32768.5f / 32768,
            0.999f,
            -0.999f};
}

QVector<float> noiseValues()
{
    const std::vector<float> values = noise(4096, 11);
    return QVector<float>(values.begin(), values.end()) + edgeValues();
}

enum AudioKernel { Volume, Mix, Convert };

// Every audio kernel pair on noise past full scale and on the edge values, at
// several gains: the vector form must give the plain form's bits.
void DspKernelsTest::audioKernelsAgree_data()
{
    QTest::addColumn<int>("kernel");
    QTest::addColumn<QVector<float>>("input");
    QTest::addColumn<float>("gain");
    QTest::addColumn<QVector<int>>("expected"); // conversion at offset 0, when given
    const QVector<int> fullScale = {32767, -32767, 0, 16384, 32767, -32768, 32767, -32768};
    QTest::newRow("volume noise") << int(Volume) << noiseValues() << 0.37f << QVector<int>();
    QTest::newRow("volume edges") << int(Volume) << edgeValues() << 1.0f << QVector<int>();
    QTest::newRow("mix noise") << int(Mix) << noiseValues() << 0.8f << QVector<int>();
    QTest::newRow("mix edges") << int(Mix) << edgeValues() << 1.0f << QVector<int>();
    QTest::newRow("convert noise") << int(Convert) << noiseValues() << 0.9f << QVector<int>();
    QTest::newRow("convert edges") << int(Convert) << edgeValues() << 1.0f << fullScale;
    QTest::newRow("convert half gain") << int(Convert) << edgeValues() << 0.5f << QVector<int>{16384, -16383};
    QTest::newRow("convert no gain") << int(Convert) << edgeValues() << 0.0f << QVector<int>{0, 0, 0};
}

void DspKernelsTest::audioKernelsAgree()
{
    QFETCH(int, kernel);
    QFETCH(QVector<float>, input);
    QFETCH(float, gain);
    QFETCH(QVector<int>, expected);
    const unsigned n = unsigned(input.size()) & ~7u;
    const std::vector<float> values(input.begin(), input.begin() + n);
    AlignedBuffer plain(values), vector(values);
    std::vector<float> reversed(values.rbegin(), values.rend());
    AlignedBuffer other(reversed);
    if (kernel == Volume) {
        AudioKernels::adjustVolume(plain.data(), n, gain);
        AudioKernels::adjustVolumeSSE(vector.data(), n, gain);
    } else if (kernel == Mix) {
        AudioKernels::mixChannels(plain.data(), other.data(), n, gain);
        AudioKernels::mixChannelsSSE(vector.data(), other.data(), n, gain);
        for (unsigned i = 0; i < n; ++i)
            QVERIFY(plain[i] >= -1.0f && plain[i] <= 1.0f);
    }
    if (kernel != Convert) {
        QCOMPARE(std::memcmp(plain.data(), vector.data(), n * sizeof(float)), 0);
        return;
    }
    // At offset 0 and at an aligned offset into the block.
    for (unsigned offset : {0u, 8u}) {
        alignas(16) qint16 plainOut[4096 + 32];
        alignas(16) qint16 vectorOut[4096 + 32];
        AudioKernels::convertFloatToI16(plainOut, plain.data(), offset, n - offset, gain);
        AudioKernels::convertFloatToI16SSE2(vectorOut, plain.data(), offset, n - offset, gain);
        for (unsigned i = 0; i < n - offset; ++i)
            QVERIFY2(plainOut[i] == vectorOut[i], qPrintable(QString::number(i)));
        for (int i = 0; offset == 0 && i < expected.size(); ++i)
            QCOMPARE(int(plainOut[i]), expected[i]);
    }
}

void DspKernelsTest::polarConversions_data() { addForms(); }

void DspKernelsTest::polarConversions()
{
    QFETCH(unsigned, flags);
    Processor::overrideFlags(flags);
    const unsigned n = 4096;
    std::vector<float> inRe = noise(n, 41);
    std::vector<float> inIm = noise(n, 42);
    for (unsigned i = 0; i < 64; ++i)
        inRe[i] *= 1e-4f; // near the imaginary axis
    AlignedBuffer re(inRe), im(inIm);
    Complex::toPolar(re.data(), im.data(), n);
    for (unsigned i = 0; i < n; ++i) {
        const double phase = std::atan2(double(inIm[i]), double(inRe[i]));
        const double magnitude = std::hypot(double(inRe[i]), double(inIm[i]));
        QVERIFY2(std::fabs(re[i] - phase) < 1e-6, qPrintable(QString::number(i)));
        QVERIFY2(std::fabs(im[i] - magnitude) <= 2e-7 * magnitude, qPrintable(QString::number(i)));
        QVERIFY(re[i] >= -float(M_PI) && re[i] <= float(M_PI));
    }
    Complex::toRealImaginary(re.data(), im.data(), n);
    for (unsigned i = 0; i < n; ++i) {
        QVERIFY(std::fabs(re[i] - inRe[i]) < 1e-6f);
        QVERIFY(std::fabs(im[i] - inIm[i]) < 1e-6f);
    }
}

void DspKernelsTest::polarEdgeCases_data() { addForms(); }

void DspKernelsTest::polarEdgeCases()
{
    QFETCH(unsigned, flags);
    Processor::overrideFlags(flags);
    AlignedBuffer re(std::vector<float>{0.0f, -1.0f, 0.0f, 0.0f, 3.0f, -2.0f, 1e-30f, -5.0f});
    AlignedBuffer im(std::vector<float>{0.0f, 0.0f, 2.0f, -2.0f, 4.0f, -2.0f, 0.0f, 1e-30f});
    Complex::toPolar(re.data(), im.data(), 8);
    const float pi = float(M_PI);
    const float expectedPhase[8] = {0.0f, pi, pi / 2, -pi / 2, std::atan2(4.0f, 3.0f), -3 * pi / 4, 0.0f, pi};
    const float expectedMagnitude[8] = {0.0f, 1.0f, 2.0f, 2.0f, 5.0f, std::sqrt(8.0f), 0.0f, 5.0f};
    for (unsigned i = 0; i < 8; ++i) {
        QVERIFY2(std::fabs(re[i] - expectedPhase[i]) < 1e-6f, qPrintable(QString::number(i)));
        QVERIFY2(std::fabs(im[i] - expectedMagnitude[i]) < 1e-6f, qPrintable(QString::number(i)));
    }
}

QTEST_GUILESS_MAIN(DspKernelsTest)
#include "tst_dsp_kernels.moc"
