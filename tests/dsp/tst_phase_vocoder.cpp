#include "AlignedBuffer.h"

#include "Core/Base/Processor.h"
#include "Core/Dsp/PhaseVocoder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <numeric>

using namespace Harbend;

// Counts the heap requests of the whole process and refuses the one numbered
// g_refusedCall (the sanitizer build has its own allocator, so there the count
// stays at zero and nothing is refused).
static std::atomic<unsigned> g_mallocCalls{0};
static std::atomic<unsigned> g_refusedCall{0};
#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t size);
extern "C" void* malloc(size_t size)
{
    const unsigned call = g_mallocCalls.fetch_add(1, std::memory_order_relaxed) + 1;
    if (call == g_refusedCall.load(std::memory_order_relaxed))
        return nullptr;
    return __libc_malloc(size);
}
#endif

namespace {

const unsigned kFrame = 4096;
const unsigned kBlock = 12288;
const unsigned kVectorFlags = Processor::MMX | Processor::SSE | Processor::SSE2;

struct Stretched {
    std::vector<float> samples;
    std::vector<unsigned> counts;
};

// Feeds whole blocks of the input through a new vocoder and joins its output.
Stretched stretch(const std::vector<float>& input, float factor)
{
    PhaseVocoder vocoder(kFrame, kBlock, factor);
    AlignedBuffer block(kBlock);
    Stretched result;
    for (size_t start = 0; start + kBlock <= input.size(); start += kBlock) {
        std::copy(input.begin() + start, input.begin() + start + kBlock, block.data());
        unsigned count = 0;
        const float* out = vocoder.processData(block.data(), count);
        result.counts.push_back(count);
        result.samples.insert(result.samples.end(), out, out + count);
    }
    return result;
}

std::vector<float> tones(const std::vector<double>& frequencies, double amplitude, double rate, size_t length)
{
    std::vector<float> signal(length);
    for (size_t i = 0; i < length; ++i) {
        double v = 0.0;
        for (size_t t = 0; t < frequencies.size(); ++t)
            v += amplitude * std::sin(2.0 * M_PI * frequencies[t] * i / rate + 0.7 * t);
        signal[i] = float(v);
    }
    return signal;
}

double rms(const float* data, size_t n)
{
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += double(data[i]) * data[i];
    return std::sqrt(sum / n);
}

// Frequency from the positive-going zero crossings, interpolated between samples.
double zeroCrossingFrequency(const float* data, size_t n, double rate)
{
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (size_t i = 1; i < n; ++i) {
        if (data[i - 1] < 0.0f && data[i] >= 0.0f) {
            const double at = (i - 1) + data[i - 1] / double(data[i - 1] - data[i]);
            if (first < 0.0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    return crossings > 1 ? (crossings - 1) * rate / (last - first) : 0.0;
}

// Least-squares fit of a constant and a sine and cosine at each frequency.
// Returns the residual and fills the amplitude found for each frequency.
std::vector<double> fitResidual(const float* data, size_t n, const std::vector<double>& frequencies, double rate,
                                std::vector<double>* amplitudes = nullptr)
{
    const size_t columns = 1 + 2 * frequencies.size();
    std::vector<double> normal(columns * columns, 0.0), rhs(columns, 0.0), row(columns);
    auto basis = [&](size_t i) {
        row[0] = 1.0;
        for (size_t t = 0; t < frequencies.size(); ++t) {
            const double angle = 2.0 * M_PI * frequencies[t] * i / rate;
            row[1 + 2 * t] = std::cos(angle);
            row[2 + 2 * t] = std::sin(angle);
        }
    };
    for (size_t i = 0; i < n; ++i) {
        basis(i);
        for (size_t a = 0; a < columns; ++a) {
            rhs[a] += row[a] * data[i];
            for (size_t b = 0; b < columns; ++b)
                normal[a * columns + b] += row[a] * row[b];
        }
    }
    // Gaussian elimination; the system is small and well conditioned.
    for (size_t p = 0; p < columns; ++p) {
        for (size_t r = p + 1; r < columns; ++r) {
            const double f = normal[r * columns + p] / normal[p * columns + p];
            for (size_t c = p; c < columns; ++c)
                normal[r * columns + c] -= f * normal[p * columns + c];
            rhs[r] -= f * rhs[p];
        }
    }
    std::vector<double> coefficients(columns);
    for (size_t p = columns; p-- > 0;) {
        double v = rhs[p];
        for (size_t c = p + 1; c < columns; ++c)
            v -= normal[p * columns + c] * coefficients[c];
        coefficients[p] = v / normal[p * columns + p];
    }
    if (amplitudes) {
        amplitudes->clear();
        for (size_t t = 0; t < frequencies.size(); ++t)
            amplitudes->push_back(std::hypot(coefficients[1 + 2 * t], coefficients[2 + 2 * t]));
    }
    std::vector<double> residual(n);
    for (size_t i = 0; i < n; ++i) {
        basis(i);
        double v = 0.0;
        for (size_t c = 0; c < columns; ++c)
            v += coefficients[c] * row[c];
        residual[i] = data[i] - v;
    }
    return residual;
}

double decibels(double ratio) { return 20.0 * std::log10(ratio); }

struct PieceFit {
    std::vector<double> amplitudes; // mean over the pieces, per frequency
    double residual;                // residual energy against the signal's, dB
};

// Sine fits over 20 ms pieces, so that slow drifts of phase do not count.
PieceFit fitPieces(const float* data, size_t n, const std::vector<double>& frequencies, double rate)
{
    const size_t piece = size_t(rate / 50);
    PieceFit fit{std::vector<double>(frequencies.size(), 0.0), 0.0};
    double residualEnergy = 0.0, energy = 0.0;
    size_t pieces = 0;
    for (size_t start = 0; start + piece <= n; start += piece, ++pieces) {
        std::vector<double> amplitudes;
        const std::vector<double> r = fitResidual(data + start, piece, frequencies, rate, &amplitudes);
        for (size_t t = 0; t < amplitudes.size(); ++t)
            fit.amplitudes[t] += amplitudes[t];
        for (size_t i = 0; i < piece; ++i) {
            residualEnergy += r[i] * r[i];
            energy += double(data[start + i]) * data[start + i];
        }
    }
    for (double& a : fit.amplitudes)
        a /= pieces;
    fit.residual = 10.0 * std::log10(residualEnergy / energy);
    return fit;
}

struct ToneFigures {
    double measured;       // Hz
    double frequencyError; // relative
    double level;          // dB against the input
    double ripple;         // spread of the 10 ms RMS against its mean
    double residual;       // dB
    double worstPiece;     // dB: the 20 ms piece furthest from the input's level
};

// Levels of the 20 ms pieces in dB against a tone of the given amplitude.
std::vector<double> pieceLevels(const float* data, size_t length, double rate, double amplitude)
{
    const size_t piece = size_t(rate / 50);
    std::vector<double> levels;
    for (size_t start = 0; start + piece <= length; start += piece)
        levels.push_back(decibels(rms(data + start, piece) / (amplitude / std::sqrt(2.0))));
    return levels;
}

ToneFigures measureTone(const float* data, size_t length, double rate, double frequency, double amplitude)
{
    ToneFigures figures;
    figures.measured = zeroCrossingFrequency(data, length, rate);
    figures.frequencyError = std::fabs(figures.measured / frequency - 1.0);
    figures.level = decibels(rms(data, length) / (amplitude / std::sqrt(2.0)));

    const size_t window = size_t(rate / 100);
    double lowest = 1e9, highest = 0.0, sum = 0.0;
    size_t windows = 0;
    for (size_t start = 0; start + window <= length; start += window, ++windows) {
        const double r = rms(data + start, window);
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
        sum += r;
    }
    figures.ripple = (highest - lowest) / (sum / windows);
    figures.residual = fitPieces(data, length, {figures.measured}, rate).residual;
    figures.worstPiece = 0.0;
    for (double level : pieceLevels(data, length, rate, amplitude))
        figures.worstPiece = std::fabs(level) > std::fabs(figures.worstPiece) ? level : figures.worstPiece;
    qInfo("frequency error %.4f%%, level %+.2f dB, worst 20 ms %+.2f dB, 10 ms RMS spread %.1f%%, residual %.1f dB",
          100.0 * figures.frequencyError, figures.level, figures.worstPiece, 100.0 * figures.ripple, figures.residual);
    return figures;
}

void verifyTone(const ToneFigures& figures)
{
    QVERIFY(figures.frequencyError < 0.005);
    QVERIFY(std::fabs(figures.level) < 1.0);
    QVERIFY(std::fabs(figures.worstPiece) < 1.0);
    QVERIFY(figures.ripple < 0.2);
    QVERIFY(figures.residual < -25.0);
}

bool runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Mono float samples from a raw file.
std::vector<float> readRawFloats(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

// First and last sample of the 10 ms windows louder than 40 dB below the peak window.
std::pair<size_t, size_t> audibleSpan(const std::vector<float>& signal, double rate)
{
    const size_t window = size_t(rate / 100);
    std::vector<double> levels;
    for (size_t start = 0; start + window <= signal.size(); start += window)
        levels.push_back(rms(signal.data() + start, window));
    const double peak = *std::max_element(levels.begin(), levels.end());
    size_t first = levels.size(), last = 0;
    for (size_t w = 0; w < levels.size(); ++w) {
        if (levels[w] > peak * 0.01) {
            first = std::min(first, w);
            last = w;
        }
    }
    return {first * window, (last + 1) * window};
}

} // namespace

class PhaseVocoderTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Processor::overrideFlags(0); }

    void countsPerCall_data();
    void countsPerCall();
    void refusedHeap();
    void firstOutputIsTheWindowedInput();
    void pureTone_data();
    void pureTone();
    void longPlayback();
    void sweep_data();
    void sweep();
    void twoTones_data();
    void twoTones();
    void speech_data();
    void speech();
};

void PhaseVocoderTest::countsPerCall_data()
{
    QTest::addColumn<float>("factor");
    QTest::addColumn<unsigned>("expected");
    QTest::newRow("2x") << 2.0f << 6144u;
    QTest::newRow("0.5x") << 0.5f << 24576u;
    QTest::newRow("1x") << 1.0f << 12288u;
}

void PhaseVocoderTest::countsPerCall()
{
    QFETCH(float, factor);
    QFETCH(unsigned, expected);
    const std::vector<float> input = tones({440.0}, 0.5, 16000.0, kBlock);
    PhaseVocoder vocoder(kFrame, kBlock, factor);
    AlignedBuffer block(input);
    for (int call = 0; call < 4; ++call) {
        // The output thread calls it: no heap traffic at all.
        const unsigned before = g_mallocCalls.load();
        unsigned count = 0;
        vocoder.processData(block.data(), count);
        QCOMPARE(g_mallocCalls.load(), before);
        QCOMPARE(count, expected);
    }
}

void PhaseVocoderTest::refusedHeap()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer's allocator is not refused");
#endif
    // The output thread creates the vocoder with a nothrow new: every refused
    // request must end as a null object or a vocoder that returns nothing,
    // never as an exception.
    AlignedBuffer block(tones({440.0}, 0.5, 16000.0, kBlock));
    for (unsigned refused = 1;; ++refused) {
        g_refusedCall = g_mallocCalls.load() + refused;
        PhaseVocoder* vocoder = new (std::nothrow) PhaseVocoder(kFrame, kBlock, 2.0f);
        const bool hit = g_mallocCalls.load() >= g_refusedCall.load();
        g_refusedCall = 0;
        unsigned count = 1;
        if (!hit) {
            QVERIFY(vocoder->processData(block.data(), count));
            QCOMPARE(count, 6144u);
            delete vocoder;
            QVERIFY(refused > 3);
            break;
        }
        if (vocoder) {
            QCOMPARE(vocoder->processData(block.data(), count), static_cast<float*>(nullptr));
            QCOMPARE(count, 0u);
            delete vocoder;
        }
    }
}

void PhaseVocoderTest::firstOutputIsTheWindowedInput()
{
    // Until the first transformed frame arrives (one synthesis hop in), the
    // output is the first frame of input under the window.
    Processor::overrideFlags(kVectorFlags);
    std::vector<float> input = tones({300.0}, 0.5, 8000.0, kBlock);
    PhaseVocoder vocoder(kFrame, kBlock, 0.5f);
    AlignedBuffer block(input);
    unsigned count = 0;
    const float* out = vocoder.processData(block.data(), count);
    for (unsigned i = 0; i < 2048; ++i) {
        const double w = 0.53836 - 0.46164 * std::cos(2.0 * M_PI * i / (kFrame - 1));
        QVERIFY2(std::fabs(out[i] - input[i] * w) < 1e-5, qPrintable(QString::number(i)));
    }
}

void PhaseVocoderTest::pureTone_data()
{
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<float>("factor");
    QTest::addColumn<double>("lead"); // Hz of a tone played before it, 0 for none
    const struct {
        double rate;
        double frequency;
    } cases[] = {{8000.0, 440.0}, {16000.0, 997.0}, {48000.0, 2489.0}};
    for (const auto& c : cases) {
        for (float factor : {2.0f, 0.5f}) {
            const QByteArray name = QByteArray::number(c.rate / 1000) + " kHz " + QByteArray::number(factor) + "x";
            QTest::newRow(("sse " + name).constData()) << kVectorFlags << c.rate << c.frequency << factor << 0.0;
        }
    }
    QTest::newRow("plain 16 kHz 2x") << 0u << 16000.0 << 997.0 << 2.0f << 0.0;
    QTest::newRow("plain 16 kHz 0.5x") << 0u << 16000.0 << 997.0 << 0.5f << 0.0;
    // A tone after another, on a bin, a quarter and half-way between bins: the
    // phases that the first left behind must not set the bins of the second
    // against each other.
    for (double rate : {8000.0, 16000.0, 48000.0}) {
        for (double offset : {0.0, 0.25, 0.5}) {
            for (float factor : {2.0f, 0.5f}) {
                const QByteArray name = "after a tone, bin 78+" + QByteArray::number(offset) + " " +
                                        QByteArray::number(rate / 1000) + " kHz " + QByteArray::number(factor) + "x";
                QTest::newRow(name.constData())
                    << kVectorFlags << rate << (78.0 + offset) * rate / kFrame << factor << 77.0 * rate / kFrame;
            }
        }
    }
}

void PhaseVocoderTest::pureTone()
{
    QFETCH(unsigned, flags);
    QFETCH(double, rate);
    QFETCH(double, frequency);
    QFETCH(float, factor);
    QFETCH(double, lead);
    Processor::overrideFlags(flags);
    const double amplitude = 0.5;
    const unsigned leadBlocks = lead > 0.0 ? 3 : 0;
    std::vector<float> input = tones({lead}, amplitude, rate, leadBlocks * kBlock);
    const std::vector<float> tone = tones({frequency}, amplitude, rate, 8 * kBlock);
    input.insert(input.end(), tone.begin(), tone.end());
    const Stretched out = stretch(input, factor);
    const unsigned count = out.counts[0];

    // The steady part: from the third call of the tone on.
    const float* steady = out.samples.data() + (2 + leadBlocks) * count;
    const size_t length = out.samples.size() - (2 + leadBlocks) * count;

    const ToneFigures figures = measureTone(steady, length, rate, frequency, amplitude);

    // Clicks or dips where one call's output meets the next: the fit from just
    // before each joint over all that the previous call's frames reach into.
    double worstJoint = 0.0;
    for (size_t joint = (3 + leadBlocks) * count; joint + kFrame <= out.samples.size(); joint += count) {
        const std::vector<double> r = fitResidual(out.samples.data() + joint - 512, 512 + kFrame, {figures.measured},
                                                  rate);
        for (double v : r)
            worstJoint = std::max(worstJoint, std::fabs(v));
    }
    const double joint = decibels(worstJoint / amplitude);
    qInfo("worst joint %.1f dB", joint);
    verifyTone(figures);
    QVERIFY(joint < -25.0);
}

void PhaseVocoderTest::longPlayback()
{
    // Two and a half minutes at 48 kHz and 2x: the synthesized phases of every
    // bin must stay bounded and precise however long a hearing plays.
    Processor::overrideFlags(kVectorFlags);
    const double rate = 48000.0, frequency = 2489.0, amplitude = 0.5;
    const unsigned calls = 600;
    PhaseVocoder vocoder(kFrame, kBlock, 2.0f);
    AlignedBuffer block(kBlock);
    std::vector<float> early, tail;
    unsigned long long sample = 0;
    for (unsigned call = 0; call < calls; ++call) {
        for (unsigned i = 0; i < kBlock; ++i, ++sample)
            block[i] = float(amplitude * std::sin(2.0 * M_PI * std::fmod(frequency * sample / rate, 1.0)));
        unsigned count = 0;
        const float* out = vocoder.processData(block.data(), count);
        if (call >= 2 && call < 6)
            early.insert(early.end(), out, out + count);
        if (call + 4 >= calls)
            tail.insert(tail.end(), out, out + count);
    }
    const ToneFigures before = measureTone(early.data(), early.size(), rate, frequency, amplitude);
    const ToneFigures after = measureTone(tail.data(), tail.size(), rate, frequency, amplitude);
    verifyTone(after);
    // Phases that grow lose precision: the tone would get rougher as it plays.
    QVERIFY(after.residual < before.residual + 6.0);
}

void PhaseVocoderTest::sweep_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<float>("factor");
    for (double rate : {8000.0, 16000.0, 48000.0}) {
        for (float factor : {2.0f, 0.5f}) {
            const QByteArray name = QByteArray::number(rate / 1000) + " kHz " + QByteArray::number(factor) + "x";
            QTest::newRow(name.constData()) << rate << factor;
        }
    }
}

void PhaseVocoderTest::sweep()
{
    // A slow sweep crosses bins one after another: its level must hold as
    // each bin takes over from its neighbour.
    QFETCH(double, rate);
    QFETCH(float, factor);
    Processor::overrideFlags(kVectorFlags);
    // Slow against the frame: a bin per frame's duration, 36 bins in all.
    const size_t length = 12 * kBlock;
    const double seconds = length / rate;
    const double amplitude = 0.5, from = 300.0, to = from + double(length) / kFrame * rate / kFrame;
    std::vector<float> input(length);
    for (size_t i = 0; i < length; ++i) {
        const double t = i / rate;
        input[i] = float(amplitude * std::sin(2.0 * M_PI * (from * t + 0.5 * (to - from) / seconds * t * t)));
    }
    const Stretched out = stretch(input, factor);
    const size_t start = 2 * out.counts[0];
    const std::vector<double> levels = pieceLevels(out.samples.data() + start,
                                                   out.samples.size() - start - out.counts[0], rate, amplitude);
    const double lowest = *std::min_element(levels.begin(), levels.end());
    const double highest = *std::max_element(levels.begin(), levels.end());
    qInfo("20 ms levels from %+.2f to %+.2f dB", lowest, highest);
    QVERIFY(lowest > -1.0);
    QVERIFY(highest < 1.0);
    QVERIFY(highest - lowest < 1.0);
}

void PhaseVocoderTest::twoTones_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<float>("factor");
    QTest::newRow("8 kHz 2x") << 8000.0 << 2.0f;
    QTest::newRow("8 kHz 0.5x") << 8000.0 << 0.5f;
    QTest::newRow("16 kHz 2x") << 16000.0 << 2.0f;
    QTest::newRow("16 kHz 0.5x") << 16000.0 << 0.5f;
    QTest::newRow("48 kHz 2x") << 48000.0 << 2.0f;
    QTest::newRow("48 kHz 0.5x") << 48000.0 << 0.5f;
}

void PhaseVocoderTest::twoTones()
{
    QFETCH(double, rate);
    QFETCH(float, factor);
    Processor::overrideFlags(kVectorFlags);
    const std::vector<double> frequencies = {310.0, 1170.0};
    const double amplitude = 0.3;
    const Stretched out = stretch(tones(frequencies, amplitude, rate, 6 * kBlock), factor);
    const size_t start = 2 * out.counts[0];
    const PieceFit fit = fitPieces(out.samples.data() + start, out.samples.size() - start, frequencies, rate);
    const std::vector<double>& amplitudes = fit.amplitudes;
    qInfo("tone levels %+.2f dB, %+.2f dB, residual %.1f dB", decibels(amplitudes[0] / amplitude),
          decibels(amplitudes[1] / amplitude), fit.residual);
    for (double a : amplitudes)
        QVERIFY(std::fabs(decibels(a / amplitude)) < 1.0);
    QVERIFY(fit.residual < -20.0);
}

void PhaseVocoderTest::speech_data()
{
    QTest::addColumn<float>("factor");
    QTest::newRow("2x") << 2.0f;
    QTest::newRow("0.5x") << 0.5f;
}

void PhaseVocoderTest::speech()
{
    QFETCH(float, factor);
    Processor::overrideFlags(kVectorFlags);
    QTemporaryDir dir;
    const QString wav = dir.filePath("speech.wav");
    const QString raw = dir.filePath("speech.f32");
    QVERIFY2(runTool("espeak-ng", {"-v", "pl", "-s", "150", "-w", wav,
                                   "Sąd okręgowy w Warszawie, wydział pierwszy cywilny. Proszę świadka o podanie "
                                   "imienia i nazwiska oraz o powtórzenie ostatniego zdania."}),
             "espeak-ng did not speak");
    // 16 kHz, peaks at -1 dB full scale, with a second of silence around it.
    QVERIFY2(runTool("sox", {wav, "-t", "raw", "-e", "floating-point", "-b", "32", "-c", "1", "-r", "16000", raw,
                             "gain", "-n", "-1", "pad", "1", "1"}),
             "sox did not convert");
    std::vector<float> input = readRawFloats(raw);
    QVERIFY(input.size() > 4 * kBlock);
    input.resize(input.size() - input.size() % kBlock);

    const Stretched out = stretch(input, factor);
    QCOMPARE(out.samples.size(), size_t(input.size() / factor));
    float peak = 0.0f;
    for (float v : out.samples)
        peak = std::max(peak, std::fabs(v));
    const auto inSpan = audibleSpan(input, 16000.0);
    const auto outSpan = audibleSpan(out.samples, 16000.0);
    const double ratio = double(outSpan.second - outSpan.first) / double(inSpan.second - inSpan.first);
    qInfo("peak %.3f, speech lasts %.3f times as long", peak, ratio);
    QVERIFY(peak < 1.0f);
    QVERIFY(std::fabs(ratio * factor - 1.0) < 0.05);
}

QTEST_GUILESS_MAIN(PhaseVocoderTest)
#include "tst_phase_vocoder.moc"
