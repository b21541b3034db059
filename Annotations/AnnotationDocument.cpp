#include "Annotations/AnnotationDocument.h"

#include <QDateTime>
#include <QDomProcessingInstruction>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>
#include <QXmlStreamReader>

#include <sys/stat.h>

const char* const AnnotationDocument::RootName = "ArrayOfAnnotation";

namespace {

const char kMissingTime[] = "00:00:00";

QTextCodec* utf8()
{
    return QTextCodec::codecForName("UTF-8");
}

// Decodes without guessing; `exact` is false when bytes had to be replaced.
QString decodeWith(QTextCodec* codec, const QByteArray& bytes, bool& exact)
{
    QTextCodec::ConverterState state;
    QString text = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    exact = state.invalidChars == 0 && state.remainingChars == 0;
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString declaredEncoding(const QByteArray& bytes)
{
    static const QRegularExpression declaration(
        QStringLiteral("^\\s*<\\?xml[^>]*\\sencoding\\s*=\\s*[\"']([A-Za-z0-9._:-]+)[\"']"));
    const QRegularExpressionMatch match = declaration.match(QString::fromLatin1(bytes.left(256)));
    return match.hasMatch() ? match.captured(1) : QString();
}

bool isUtf8Name(const QString& name)
{
    const QString lower = name.toLower();
    return lower == QLatin1String("utf-8") || lower == QLatin1String("utf8");
}

} // namespace

AnnotationDocument::AnnotationDocument(const QString& path)
    : filePath(path)
{
}

bool AnnotationDocument::isRegularFile(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

qint64 AnnotationDocument::modifiedSeconds(const QString& path)
{
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

QString AnnotationDocument::decode(const QByteArray& bytes)
{
    if (QTextCodec* bom = QTextCodec::codecForUtfText(bytes, nullptr))
        return decodeWith(bom, bytes, exact);
    QString text = decodeWith(utf8(), bytes, exact);
    if (exact)
        return text;
    // Not UTF-8: a peer may have written it in the encoding it declares.
    const QString declared = declaredEncoding(bytes);
    QTextCodec* codec = declared.isEmpty() || isUtf8Name(declared) ? nullptr
                                                                    : QTextCodec::codecForName(declared.toLatin1());
    if (codec)
        text = decodeWith(codec, bytes, exact);
    return text;
}

QString AnnotationDocument::decodeText(const QByteArray& bytes)
{
    // Line ends as a text-mode read gives them.
    QString text = decode(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// A streaming pass first: it bounds depth and size before the DOM builds a
// tree (whose building, printing and destruction recurse).
bool AnnotationDocument::checkShape(const QString& text)
{
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(false);
    int depth = 0;
    int elements = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > MaxDepth || ++elements > MaxElements)
                return false;
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    if (reader.hasError()) {
        errorLine = int(reader.lineNumber());
        errorColumn = int(reader.columnNumber());
        errorMessage = reader.errorString();
    }
    return true;
}

AnnotationDocument::Status AnnotationDocument::read()
{
    lastStatus = readFile();
    return lastStatus;
}

AnnotationDocument::Status AnnotationDocument::readFile()
{
    if (!isRegularFile(filePath))
        return CannotOpen;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return CannotOpen;
    const QByteArray bytes = file.read(MaxFileSize + 1);
    file.close();
    if (bytes.size() > MaxFileSize)
        return TooBig;
    const QString text = decodeText(bytes);
    if (!checkShape(text))
        return TooComplex;
    if (!errorMessage.isEmpty())
        return ParseError;
    // The stream parser, not the DOM's older one: that one cuts character
    // references beyond U+FFFF to 16 bits, and a rewrite would keep the damage.
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(true);
    if (!dom.setContent(&reader, true, &errorMessage, &errorLine, &errorColumn))
        return ParseError;
    if (root().tagName() != QLatin1String(RootName))
        return NotAnnotations;
    return Ok;
}

bool AnnotationDocument::write()
{
    if (!exact)
        return false;
    // The text is written as UTF-8, so the declaration must say so.
    const QDomNode first = dom.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1String("xml")) {
        QDomProcessingInstruction declaration = first.toProcessingInstruction();
        static const QRegularExpression encoding(QStringLiteral("encoding\\s*=\\s*[\"'][^\"']*[\"']"));
        QString data = declaration.data();
        const QRegularExpressionMatch match = encoding.match(data);
        if (match.hasMatch() && !match.captured(0).contains(QLatin1String("utf-8"), Qt::CaseInsensitive)) {
            data.replace(match.capturedStart(), match.capturedLength(), QStringLiteral("encoding='utf-8'"));
            declaration.setData(data);
        }
    }
    const QByteArray bytes = dom.toString(1).toUtf8();
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        writeError = file.errorString();
        return false;
    }
    // commit() alone reports success after a short write (a full disk):
    // everything must have reached the temporary file first.
    const bool complete = file.write(bytes) == bytes.size() && file.flush()
        && file.error() == QFileDevice::NoError && file.size() == bytes.size();
    if (!complete) {
        writeError = file.errorString();
        file.cancelWriting();
        file.commit();
        return false;
    }
    if (file.commit())
        return true;
    writeError = file.errorString();
    return false;
}

QString AnnotationDocument::timeOf(const QDomElement& annotation)
{
    return annotation.hasAttribute(QStringLiteral("Time")) ? annotation.attribute(QStringLiteral("Time"))
                                                            : QString::fromLatin1(kMissingTime);
}

QString AnnotationDocument::childText(const QDomElement& annotation, const QString& name)
{
    return annotation.firstChildElement(name).text();
}

QDomElement AnnotationDocument::findAnnotation(const QString& time, const QString& text) const
{
    const QString annotationName = QStringLiteral("Annotation");
    for (QDomElement element = root().firstChildElement(annotationName); !element.isNull();
         element = element.nextSiblingElement(annotationName)) {
        if (timeOf(element) == time && childText(element, QStringLiteral("Text")) == text)
            return element;
    }
    return QDomElement();
}

QByteArray AnnotationDocument::newFileContent()
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                             "<ArrayOfAnnotation xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
                             "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
                             "</ArrayOfAnnotation>");
}

bool AnnotationDocument::createNew(const QString& path, QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    const QByteArray bytes = newFileContent();
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    if (reason)
        *reason = file.errorString();
    // Only the file made here is removed.
    file.remove();
    return false;
}

QString AnnotationDocument::cleanText(const QString& text)
{
    QString normalised = text;
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString clean;
    clean.reserve(normalised.size());
    for (int i = 0; i < normalised.size(); ++i) {
        const QChar c = normalised.at(i);
        if (c.isHighSurrogate() && i + 1 < normalised.size() && normalised.at(i + 1).isLowSurrogate()) {
            clean += c;
            clean += normalised.at(++i);
            continue;
        }
        const ushort u = c.unicode();
        const bool allowed = u == 0x9 || u == 0xA || (u >= 0x20 && u < 0xD800) || (u >= 0xE000 && u <= 0xFFFD);
        if (allowed)
            clean += c;
    }
    // The parser drops text that is only white space.
    return clean.trimmed().isEmpty() ? QString() : clean;
}
