// CPU time of the phase vocoder per second of mono audio, at 16 and 48 kHz,
// 2x and 0.5x, plain and SSE2 kernels; then the same speech stretched by the
// phase vocoder and by rubberband, soundstretch and sox tempo as whole
// processes, less a sox pass-through.

#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Dsp/PhaseVocoder.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

using namespace Harbend;

namespace {

const unsigned kFrame = 4096;
const unsigned kBlock = 12288;
const unsigned kVectorFlags = Processor::MMX | Processor::SSE | Processor::SSE2;

struct Block {
    Block() : data(static_cast<float*>(Memory::allocate(kBlock * sizeof(float)))) {}
    ~Block() { Memory::free(data); }
    float* data;
};

void fillSpeechLike(float* data, unsigned n, unsigned seed)
{
    std::srand(seed);
    for (unsigned i = 0; i < n; ++i)
        data[i] = 0.3f * (std::rand() / float(RAND_MAX) - 0.5f) + 0.2f * std::sin(i * 0.07f);
}

// One call per iteration; the counter gives CPU time as a share of the audio's duration.
void vocoderPerCall(benchmark::State& state, double rate, float factor, unsigned flags)
{
    Processor::overrideFlags(flags);
    PhaseVocoder vocoder(kFrame, kBlock, factor);
    Block block;
    fillSpeechLike(block.data, kBlock, 1);
    unsigned count = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vocoder.processData(block.data, count));
        benchmark::ClobberMemory();
    }
    const double audioSeconds = double(state.iterations()) * kBlock / rate;
    state.counters["cpu_pct_of_audio"] = benchmark::Counter(audioSeconds / 100.0,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

double processCpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Runs a command and returns the CPU time (user + system) of its process tree, or -1.
double childCpuSeconds(const std::vector<std::string>& command)
{
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : command)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1.0;
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
}

// The least of three runs, as the figure least disturbed by the machine.
double bestOfThree(const std::vector<std::string>& command)
{
    double best = -1.0;
    for (int run = 0; run < 3; ++run) {
        const double t = childCpuSeconds(command);
        if (t < 0.0)
            return -1.0;
        best = best < 0.0 ? t : std::min(best, t);
    }
    return best;
}

std::vector<float> readFloats(const std::string& path)
{
    std::vector<float> samples;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        float buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, sizeof(float), 4096, file)) > 0)
            samples.insert(samples.end(), buffer, buffer + got);
        std::fclose(file);
    }
    return samples;
}

double vocoderSeconds(const std::vector<float>& input, float factor, unsigned flags)
{
    Processor::overrideFlags(flags);
    PhaseVocoder vocoder(kFrame, kBlock, factor);
    Block block;
    double best = -1.0;
    for (int run = 0; run < 3; ++run) {
        const double start = processCpuSeconds();
        unsigned count = 0;
        for (size_t at = 0; at + kBlock <= input.size(); at += kBlock) {
            std::memcpy(block.data, input.data() + at, kBlock * sizeof(float));
            benchmark::DoNotOptimize(vocoder.processData(block.data, count));
        }
        const double t = processCpuSeconds() - start;
        best = best < 0.0 ? t : std::min(best, t);
    }
    return best;
}

void compareWithTools()
{
    char folder[] = "/tmp/bench_time_stretch.XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return;
    }
    const std::string dir = folder;
    const std::string speech = dir + "/speech.wav";
    const char* text =
        "Sąd okręgowy w Warszawie, wydział pierwszy cywilny, rozpoznaje sprawę z powództwa spółki przeciwko "
        "skarbowi państwa. Proszę świadka o podanie imienia i nazwiska oraz o powtórzenie ostatniego zdania.";
    if (childCpuSeconds({"espeak-ng", "-v", "pl", "-w", speech, text}) < 0.0) {
        std::printf("espeak-ng is missing: no tool comparison\n");
        return;
    }
    const double audioSeconds = 60.0;
    std::printf("\nOne minute of speech, CPU time as %% of the audio's duration (whole processes less a sox "
                "pass-through; the vocoder in process):\n");
    std::printf("%-28s %10s %10s\n", "", "16 kHz", "48 kHz");

    struct Row {
        std::string name;
        std::vector<std::string> command; // {in} and {out} are replaced
        float factor;
        unsigned flags;
    };
    const std::vector<Row> rows = {
        {"PhaseVocoder 2x SSE2", {}, 2.0f, kVectorFlags},
        {"PhaseVocoder 2x plain", {}, 2.0f, 0},
        {"PhaseVocoder 0.5x SSE2", {}, 0.5f, kVectorFlags},
        {"PhaseVocoder 0.5x plain", {}, 0.5f, 0},
        {"rubberband 2x", {"rubberband", "-T", "2", "{in}", "{out}"}, 0, 0},
        {"rubberband 0.5x", {"rubberband", "-T", "0.5", "{in}", "{out}"}, 0, 0},
        {"soundstretch 2x", {"soundstretch", "{in}", "{out}", "-tempo=100"}, 0, 0},
        {"soundstretch 0.5x", {"soundstretch", "{in}", "{out}", "-tempo=-50"}, 0, 0},
        {"sox tempo 2x", {"sox", "{in}", "{out}", "tempo", "2"}, 0, 0},
        {"sox tempo 0.5x", {"sox", "{in}", "{out}", "tempo", "0.5"}, 0, 0},
    };
    std::vector<std::vector<double>> figures(rows.size());
    for (const char* rate : {"16000", "48000"}) {
        const std::string wav = dir + "/speech" + rate + ".wav";
        const std::string raw = dir + "/speech" + rate + ".f32";
        const std::string out = dir + "/out.wav";
        // One minute: the phrase padded and repeated, then cut.
        childCpuSeconds({"sox", speech, "-r", rate, "-c", "1", "-b", "16", wav, "pad", "0", "0.5", "repeat", "20",
                         "trim", "0", "60"});
        childCpuSeconds({"sox", wav, "-t", "raw", "-e", "floating-point", "-b", "32", raw});
        const std::vector<float> input = readFloats(raw);
        const double baseline = bestOfThree({"sox", wav, out});
        for (size_t r = 0; r < rows.size(); ++r) {
            double seconds;
            if (rows[r].command.empty()) {
                seconds = vocoderSeconds(input, rows[r].factor, rows[r].flags);
            } else {
                std::vector<std::string> command = rows[r].command;
                for (std::string& a : command)
                    a = a == "{in}" ? wav : a == "{out}" ? out : a;
                seconds = bestOfThree(command);
                seconds = seconds < 0.0 ? -1.0 : std::max(0.0, seconds - baseline);
            }
            figures[r].push_back(seconds < 0.0 ? -1.0 : 100.0 * seconds / audioSeconds);
        }
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        std::printf("%-28s", rows[r].name.c_str());
        for (double f : figures[r]) {
            if (f < 0.0)
                std::printf(" %10s", "missing");
            else
                std::printf(" %9.3f%%", f);
        }
        std::printf("\n");
    }
    std::system(("rm -rf " + dir).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    for (double rate : {16000.0, 48000.0}) {
        for (float factor : {2.0f, 0.5f}) {
            for (unsigned flags : {kVectorFlags, 0u}) {
                const std::string name = "PhaseVocoder/" + std::to_string(int(rate / 1000)) + "kHz/" +
                                         (factor > 1.0f ? "2x" : "0.5x") + (flags ? "/sse2" : "/plain");
                benchmark::RegisterBenchmark(name.c_str(), vocoderPerCall, rate, factor, flags);
            }
        }
    }
    // A filter picks some kernels only: then the tools are left out too.
    bool filtered = false;
    for (int i = 1; i < argc; ++i)
        filtered = filtered || std::strncmp(argv[i], "--benchmark_filter", 18) == 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!filtered)
        compareWithTools();
    return 0;
}
