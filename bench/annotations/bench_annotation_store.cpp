// Loading a layer into the panel and rewriting it after one added annotation,
// for files of 1,000 annotations up to one just below the size cap; and the
// same through a panel on screen, until it has painted. Peak resident memory
// is reported as a counter (run one benchmark per process to read it).

#include "Annotations/Adnotacje.h"
#include "Annotations/AnnotationDocument.h"
#include "Annotations/Duration.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

QTemporaryDir* g_dir = nullptr;

QString layerFile(int count, const QString& name = QStringLiteral("layer"))
{
    const QString path = g_dir->filePath(QStringLiteral("%1-%2.xml").arg(name).arg(count));
    if (QFile::exists(path))
        return path;
    QByteArray bytes = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfAnnotation Created=\"1\">\n";
    for (int i = 0; i < count; ++i)
        bytes += " <Annotation Time=\"" + Duration::msToIso(qint64(i) * 1370).toUtf8() +
                 "\">\n  <Text>Świadek odpowiada na pytanie pełnomocnika powoda numer " + QByteArray::number(i) +
                 "</Text>\n  <Protocol>false</Protocol>\n </Annotation>\n";
    bytes += "</ArrayOfAnnotation>\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Elements with one attribute each, as many as allowed, up to the size cap.
void fillToCap(QByteArray& bytes, const QByteArray& name)
{
    const int size = int((AnnotationDocument::MaxFileSize - bytes.size()) / AnnotationDocument::MaxElements) + 1;
    const QByteArray element = "<" + name + " b=\"" + QByteArray(qMax(0, size - name.size() - 8), 'x') + "\"/>";
    while (bytes.size() + element.size() < AnnotationDocument::MaxFileSize - 64)
        bytes += element;
    bytes += "</ArrayOfAnnotation>";
}

// Files at and over the shape bounds (see BM_LoadHostile).
QString hostileFile(int kind)
{
    const QString path = g_dir->filePath(QStringLiteral("hostile-%1.xml").arg(kind));
    if (QFile::exists(path))
        return path;
    QByteArray bytes = "<ArrayOfAnnotation";
    if (kind == 0) {
        bytes += ">";
        QByteArray element = "<a";
        for (int i = 0; i < AnnotationDocument::MaxAttributes; ++i)
            element += " a" + QByteArray::number(i) + "=\"\"";
        element += "/>";
        // The attribute pairs of a file are bounded too: stop at that bound.
        const qint64 pairsPerElement = qint64(AnnotationDocument::MaxAttributes) *
                                       (AnnotationDocument::MaxAttributes - 1) / 2;
        for (qint64 pairs = pairsPerElement; pairs <= AnnotationDocument::MaxAttributePairs &&
                                             bytes.size() + element.size() < AnnotationDocument::MaxFileSize - 64;
             pairs += pairsPerElement)
            bytes += element;
        fillToCap(bytes, "a");
    } else if (kind == 2) {
        for (int i = 0; i < AnnotationDocument::MaxNamespaceDeclarations; ++i)
            bytes += " xmlns:n" + QByteArray::number(i) + "=\"urn:" + QByteArray::number(i) + "\"";
        bytes += ">";
        // The first declared is the last one found.
        fillToCap(bytes, "n0:a");
    } else {
        for (int i = 0; i < 40000; ++i)
            bytes += " a" + QByteArray::number(i) + "=\"1\"";
        bytes += "/>";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void BM_LoadHostile(benchmark::State& state)
{
    const QString path = hostileFile(int(state.range(0)));
    int layers = 0;
    for (auto _ : state) {
        Adnotacje panel;
        panel.loadAdnotationsFile(path, true);
        layers = panel.getLayers().size();
    }
    state.counters["file_MB"] = QFile(path).size() / 1048576.0;
    state.counters["loaded"] = layers;
}

double peakMegabytes()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_LoadAndShow(benchmark::State& state)
{
    const QString path = layerFile(int(state.range(0)));
    for (auto _ : state) {
        Adnotacje panel;
        panel.loadAdnotationsFile(path, true);
        benchmark::DoNotOptimize(panel.getActivAnnotations().size());
    }
    state.counters["file_MB"] = QFile(path).size() / 1048576.0;
    state.counters["peak_MB"] = peakMegabytes();
}

void BM_AddRewrite(benchmark::State& state)
{
    const QString path = layerFile(int(state.range(0)));
    Adnotacje panel;
    qint64 at = 500;
    for (auto _ : state) {
        const CAdnotation next(Duration::msToIso(at += 1000), QStringLiteral("dopisek"), QStringLiteral("false"), 1);
        if (!panel.addAnnotXML(next, path))
            state.SkipWithError("rewrite failed");
    }
    state.counters["peak_MB"] = peakMegabytes();
}

// A panel of the window's size, as the user has it.
void showPanel(Adnotacje& panel)
{
    panel.resize(700, 900);
    panel.show();
    QApplication::processEvents();
    panel.repaint();
}

// From the load to the first painting of the panel; the layers load before
// the window is first shown, as at start-up.
void BM_OpenOnScreen(benchmark::State& state)
{
    const QString path = layerFile(int(state.range(0)), QStringLiteral("shown"));
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        Adnotacje panel;
        panel.loadAdnotationsFile(path, true);
        showPanel(panel);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["peak_MB"] = peakMegabytes();
}

// One annotation added through the panel's buttons, until it has painted.
void BM_AddOnScreen(benchmark::State& state)
{
    const QString path = layerFile(int(state.range(0)), QStringLiteral("added"));
    Adnotacje panel;
    panel.loadAdnotationsFile(path, true);
    showPanel(panel);
    auto* add = panel.findChild<QPushButton*>(QStringLiteral("btAddAdn"));
    auto* save = panel.findChild<QPushButton*>(QStringLiteral("btSaveAddAdn"));
    auto* text = panel.findChild<QPlainTextEdit*>(QStringLiteral("plainTextEditChangeAdn"));
    const int before = panel.getAdnotations().size();
    qint64 at = 700;
    for (auto _ : state) {
        panel.spyAdnotations(at += 100000);
        add->click();
        text->setPlainText(QStringLiteral("Pełnomocnik pozwanego składa wniosek dowodowy"));
        QElapsedTimer timer;
        timer.start();
        save->click();
        QApplication::processEvents();
        panel.repaint();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    if (panel.getAdnotations().size() != before + int(state.iterations()))
        state.SkipWithError("not added");
    state.counters["peak_MB"] = peakMegabytes();
}

// 200,000 annotations (30 MB) come close to the 32 MB cap.
BENCHMARK(BM_LoadAndShow)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);
// Up to the size cap: 0 attributes at their bounds, 2 namespace declarations at
// theirs; 1: 40,000 attributes on one element.
BENCHMARK(BM_LoadHostile)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddRewrite)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenOnScreen)->Arg(10000)->Arg(200000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddOnScreen)->Arg(10000)->Arg(200000)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
