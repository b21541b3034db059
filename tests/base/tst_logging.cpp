#include "Core/Base/Log.h"
#include "Core/Base/LogExtendedFormatPolicy.h"
#include "Core/Base/LogFilterPolicy.h"
#include "Core/Base/LogWriteFile.h"
#include "Core/Base/Logger.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cwchar>

using namespace Harbend;

namespace {

const char kLogSource[] = "tests/base/Logging";

// Keeps what reaches the logger, and lets a test refuse levels.
class CapturingLogger : public Logging::ILogger {
public:
    bool filter(LogLevel::Enum level) override { return policy.filter(level); }
    void log(const char* name, const SourceInfo& source, LogLevel::Enum level, const char* message) override
    {
        names << name;
        levels << level;
        messages << QByteArray(message);
        lines << source.line;
    }
    LogFilterPolicy policy;
    QStringList names;
    QList<int> levels;
    QList<QByteArray> messages;
    QList<unsigned> lines;
};

QByteArray formatLine(const char* message, LogLevel::Enum level, unsigned size = 1024)
{
    QByteArray buffer(int(size), '\0');
    LogExtendedFormatPolicy().format(buffer.data(), size, message, "Widget", SourceInfo{"Core/Widget", 42}, level);
    return QByteArray(buffer.constData());
}

QList<QByteArray> fileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class LoggingTest : public QObject {
    Q_OBJECT
private slots:
    void lineFormat_data();
    void lineFormat();
    void longLinesAreCut();
    void filterPassesFatalAndTheDefaultMask();
    void messagesAreCutAndFailedFormatsDropped();
    void fileIsEmptiedAtOpenAndFlushedPerLine();
    void systemLoggerWritesToFileOnlyWhileOpen();
};

void LoggingTest::lineFormat_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("field");
    QTest::newRow("fatal") << int(LogLevel::Fatal) << "  FATAL";
    QTest::newRow("debug") << int(LogLevel::Debug) << "  DEBUG";
    QTest::newRow("info") << int(LogLevel::Info) << "   INFO";
    QTest::newRow("success") << int(LogLevel::Success) << "SUCCESS";
    QTest::newRow("warning") << int(LogLevel::Warning) << "WARNING";
    QTest::newRow("error") << int(LogLevel::Error) << "  ERROR";
}

void LoggingTest::lineFormat()
{
    QFETCH(int, level);
    QFETCH(QString, field);
    const QString line = QString::fromLatin1(formatLine("Hello 1", LogLevel::Enum(level)));
    const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,\\d{3}) :: (.{7}) :: \\[Core/Widget\\(42\\): Widget\\] Hello 1$"));
    const QRegularExpressionMatch match = pattern.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QCOMPARE(match.captured(2), field);
    const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss,zzz"));
    QVERIFY(stamp.isValid());
    QVERIFY(qAbs(stamp.msecsTo(QDateTime::currentDateTime())) < 60000);
}

void LoggingTest::longLinesAreCut()
{
    const QByteArray message(1023, 'x');
    const QByteArray line = formatLine(message.constData(), LogLevel::Info);
    QCOMPARE(line.size(), 1023);
    QVERIFY(line.endsWith("xxx"));
    QCOMPARE(formatLine("abc", LogLevel::Info, 10).size(), 9);
}

void LoggingTest::filterPassesFatalAndTheDefaultMask()
{
    LogFilterPolicy filter;
    for (LogLevel::Enum level :
         {LogLevel::Fatal, LogLevel::Debug, LogLevel::Info, LogLevel::Success, LogLevel::Warning, LogLevel::Error})
        QVERIFY(filter.filter(level));
    QVERIFY(!filter.filter(LogLevel::Enum(32)));
}

void LoggingTest::messagesAreCutAndFailedFormatsDropped()
{
    CapturingLogger capture;
    Logging::Log ms_log("Capture", &capture);

    HARBEND_LOG(Warning, "value %d and %s", 7, "text");
    QCOMPARE(capture.messages.size(), 1);
    QCOMPARE(capture.messages[0], QByteArray("value 7 and text"));
    QCOMPARE(capture.names[0], QStringLiteral("Capture"));
    QCOMPARE(capture.levels[0], int(LogLevel::Warning));
    QVERIFY(capture.lines[0] > 0);

    const QByteArray longMessage(2000, 'y');
    HARBEND_LOG(Info, "%s", longMessage.constData());
    QCOMPARE(capture.messages.size(), 2);
    QCOMPARE(capture.messages[1], QByteArray(1023, 'y'));

    // A wide character with no multibyte form makes the formatting fail.
    const wchar_t unconvertible[] = {wchar_t(0xD800), 0};
    HARBEND_LOG(Error, "%ls", unconvertible);
    QCOMPARE(capture.messages.size(), 2);
}

void LoggingTest::fileIsEmptiedAtOpenAndFlushedPerLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old content\n");
    }
    LogWriteFile writer;
    QVERIFY(!writer.isOpen());
    writer.write("dropped while closed");
    QVERIFY(writer.openFile(QFile::encodeName(path).constData()));
    QCOMPARE(fileLines(path).size(), 0);
    writer.write("first");
    QCOMPARE(fileLines(path), QList<QByteArray>{"first"});
    writer.write("second");
    QCOMPARE(fileLines(path), (QList<QByteArray>{"first", "second"}));
    writer.close();
    writer.write("after close");
    QCOMPARE(fileLines(path).size(), 2);
    QVERIFY(!writer.openFile("/nonexistent-folder/log.txt"));
}

void LoggingTest::systemLoggerWritesToFileOnlyWhileOpen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("system.log"));
    Logging::Log ms_log("SystemTest", Logging::Log::systemLogger());
    auto& writer = Logging::SystemLogger::get()->writer();
    HARBEND_LOG(Info, "before open");
    QVERIFY(writer.openFile(QFile::encodeName(path).constData()));
    HARBEND_LOG(Fatal, "while open %u", 5u);
    writer.close();
    HARBEND_LOG(Info, "after close");
    const QList<QByteArray> lines = fileLines(path);
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines[0].contains(" ::   FATAL :: [tests/base/Logging("));
    QVERIFY(lines[0].endsWith("): SystemTest] while open 5"));
}

QTEST_GUILESS_MAIN(LoggingTest)
#include "tst_logging.moc"
