#include "Annotations/AnnotationDocument.h"

#include "Annotations/SystemErrorText.h"

#include <QBuffer>
#include <QDateTime>
#include <QDomImplementation>
#include <QDomNamedNodeMap>
#include <QDomProcessingInstruction>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextStream>
#include <QXmlStreamReader>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <sys/stat.h>

const char* const AnnotationDocument::RootName = "ArrayOfAnnotation";

namespace {

const char kMissingTime[] = "00:00:00";

QTextCodec* utf8() { return QTextCodec::codecForName("UTF-8"); }

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

template <typename Char>
bool isXmlSpace(Char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The lexical scan of shapeWithinBounds over UTF-16 text or UTF-8 bytes: all
// the markup it looks for is ASCII, which never occurs inside a multi-byte
// UTF-8 sequence.
template <typename Char>
class MarkupScan {
public:
    MarkupScan(const Char* text, int size) : c(text), n(size) {}

    int find(Char wanted, int from) const
    {
        for (int i = from; i < n; ++i)
            if (c[i] == wanted)
                return i;
        return -1;
    }
    bool at(int i, const char* s) const
    {
        for (; *s; ++s, ++i)
            if (i >= n || c[i] != Char(*s))
                return false;
        return true;
    }
    // Index just past the first `end` at or after `from`; -1 when none.
    int skipPast(int from, const char* end) const
    {
        for (int i = find(Char(end[0]), from); i >= 0; i = find(Char(end[0]), i + 1))
            if (at(i, end))
                return i + int(qstrlen(end));
        return -1;
    }
    int skipSpace(int i) const
    {
        while (i < n && isXmlSpace(c[i]))
            ++i;
        return i;
    }
    int skipName(int i) const
    {
        while (i < n && !isXmlSpace(c[i]) && c[i] != '=' && c[i] != '>' && c[i] != '/')
            ++i;
        return i;
    }
    bool isDeclaration(int from, int to) const
    {
        return (to - from == 5 && at(from, "xmlns")) || (to - from > 6 && at(from, "xmlns:"));
    }
    bool is(int from, int to, const char* name) const { return to - from == int(qstrlen(name)) && at(from, name); }
    // The store adds these to a file it rewrites.
    bool isStoreAttribute(int from, int to) const
    {
        return is(from, to, "Time") || is(from, to, "Created") || is(from, to, "copyOf");
    }

    const Char* c;
    const int n;
};

// Counts on the raw text what the parser's time and stack grow with, before
// any parser sees it. The scan follows XML's lexical rules exactly for
// well-formed text; where text cannot be well-formed the parser stops at that
// point, so the scan stops there too and lets the parser report it. A DTD
// subset is refused: its declarations could add attributes to every element.
template <typename Char>
bool shapeWithinBounds(const Char* text, int size)
{
    const MarkupScan<Char> s(text, size);
    const Char* c = text;
    const int n = size;
    int depth = 0;
    int elements = 0;
    int declarations = 0; // in scope: of the open elements and this tag
    int declaredBy[AnnotationDocument::MaxDepth + 1] = {};
    qint64 pairs = 0;
    int i = 0;
    while ((i = s.find('<', i)) >= 0) {
        if (s.at(i, "<!--")) {
            i = s.skipPast(i + 4, "-->");
        } else if (s.at(i, "<![CDATA[")) {
            i = s.skipPast(i + 9, "]]>");
        } else if (s.at(i, "<?")) {
            i = s.skipPast(i + 2, "?>");
        } else if (s.at(i, "<!")) {
            Char quote = 0;
            for (i += 2; i < n && (quote || c[i] != '>'); ++i) {
                if (quote)
                    quote = c[i] == quote ? Char(0) : quote;
                else if (c[i] == '"' || c[i] == '\'')
                    quote = c[i];
                else if (c[i] == '[')
                    return false;
            }
        } else if (s.at(i, "</")) {
            if (depth > 0)
                declarations -= declaredBy[depth--];
            i = s.skipPast(i + 2, ">");
        } else {
            if (++elements > AnnotationDocument::MaxElements)
                return false;
            i = s.skipName(i + 1);
            int attributes = 0;
            const int inScope = declarations;
            for (;;) {
                i = s.skipSpace(i);
                if (i >= n)
                    return true;
                if (c[i] == '>' || c[i] == '/')
                    break;
                const int nameStart = i;
                i = s.skipName(i);
                if (s.isDeclaration(nameStart, i)) {
                    if (++declarations > AnnotationDocument::MaxNamespaceDeclarations)
                        return false;
                } else if (!s.isStoreAttribute(nameStart, i)) {
                    pairs += attributes;
                    if (++attributes > AnnotationDocument::MaxAttributes ||
                        pairs > AnnotationDocument::MaxAttributePairs)
                        return false;
                }
                i = s.skipSpace(i);
                if (i >= n || c[i] != '=')
                    return true;
                i = s.skipSpace(i + 1);
                if (i >= n || (c[i] != '"' && c[i] != '\''))
                    return true;
                i = s.find(c[i], i + 1);
                if (i < 0)
                    return true;
                ++i;
            }
            if (c[i] == '/') {
                declarations = inScope;
            } else {
                if (++depth > AnnotationDocument::MaxDepth)
                    return false;
                declaredBy[depth] = declarations - inScope;
            }
        }
        if (i < 0)
            return true;
    }
    return true;
}

bool shapeWithinBounds(const QString& text)
{
    return shapeWithinBounds(reinterpret_cast<const ushort*>(text.constData()), text.size());
}

bool shapeWithinBounds(const QByteArray& bytes)
{
    return shapeWithinBounds(reinterpret_cast<const uchar*>(bytes.constData()), bytes.size());
}

// Writes all of `bytes` to a file opened unbuffered. A write cut short (a full
// disk) leaves no error of its own: the next one fails with the system's reason.
bool writeAll(QFileDevice& file, const QByteArray& bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

bool isForbiddenControl(char c) { return uchar(c) < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

const QRegularExpression& forbiddenControls()
{
    static const QRegularExpression controls(QStringLiteral("[\\x{0}-\\x{8}\\x{B}\\x{C}\\x{E}-\\x{1F}]"));
    return controls;
}

// True for bytes that are UTF-8 throughout, without control characters or a
// declaration of another encoding: the parser may then decode them itself,
// piece by piece, and read them exactly as the text they are.
bool isPlainUtf8(const QByteArray& bytes)
{
    if (std::any_of(bytes.begin(), bytes.end(), isForbiddenControl))
        return false;
    QTextCodec* bom = QTextCodec::codecForUtfText(bytes, nullptr);
    if (bom && bom->mibEnum() != 106)
        return false;
    // A byte-order mark wins over any declaration, but the parser might not agree.
    const QString declared = declaredEncoding(bom ? bytes.mid(3, 256) : bytes);
    if (!declared.isEmpty() && !isUtf8Name(declared))
        return false;
    const std::unique_ptr<QTextDecoder> decoder(utf8()->makeDecoder());
    const int piece = 1 << 20;
    for (int at = 0; at < bytes.size(); at += piece)
        decoder->toUnicode(bytes.constData() + at, qMin(piece, bytes.size() - at));
    return !decoder->hasFailure() && !decoder->needsMoreData();
}

// A copy of its own, as long as the text: toString() of a reference to a
// whole string shares the parser's buffer and all its spare room.
QString ownCopy(const QStringRef& text)
{
    return text.isEmpty() ? QString(QLatin1String("")) : QString(text.unicode(), text.size());
}

// The attributes the store reads are those without a prefix (see
// dropUnwritable); false when there is none.
bool attributeValue(const QXmlStreamAttributes& attributes, const QString& name, QString& value)
{
    for (const QXmlStreamAttribute& attribute : attributes) {
        if (attribute.qualifiedName() == name) {
            value = ownCopy(attribute.value());
            return true;
        }
    }
    return false;
}

// The tree drops character data that is only white space.
bool keptByTree(const QStringRef& text) { return !text.trimmed().isEmpty(); }

const QStringList& readNames()
{
    static const QStringList names{QStringLiteral("Time"), QStringLiteral("Created"), QStringLiteral("copyOf")};
    return names;
}

// Comments, processing instructions and document types that the parser let
// through but that would not read back as written (it is more lenient with
// some names on a first reading than on a second): they carry no annotation,
// so they go.
bool writable(const QDomNode& node)
{
    if (!node.isComment() && !node.isProcessingInstruction() && !node.isDocumentType())
        return true;
    if (node.isProcessingInstruction() && node.nodeName().compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0 &&
        !(node.parentNode().isDocument() && node.previousSibling().isNull()))
        return false;
    QString written;
    QTextStream stream(&written);
    node.save(stream, 0);
    stream.flush();
    QXmlStreamReader reader(written + QLatin1String("<a/>"));
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

// The namespace of a name as the tree's own parser gives it: none is null.
QString namespaceOf(const QStringRef& uri) { return uri.isEmpty() ? QString() : uri.toString(); }

// Builds the tree as QDomDocument::setContent(reader) does, node for node, but
// with each text copied exactly: its parser keeps every text sharing a copy of
// the reader's buffer with all its spare room (over 200 MB for 200,000
// annotations). Nodes before the root wait for the document, which a
// document type must create. (Entity references need a DTD subset: refused.)
bool buildTree(QXmlStreamReader& reader, QDomDocument& dom)
{
    using Make = std::function<QDomNode(QDomDocument&)>;
    std::vector<Make> prolog;
    QDomDocumentType type;
    QDomNode current;
    const auto add = [&prolog, &current, &dom](Make make) {
        if (current.isNull())
            prolog.push_back(std::move(make));
        else
            current.appendChild(make(dom));
    };
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument:
            if (!reader.documentVersion().isEmpty()) {
                QString data = QLatin1String("version='") + reader.documentVersion() + QLatin1Char('\'');
                if (!reader.documentEncoding().isEmpty())
                    data += QLatin1String(" encoding='") + reader.documentEncoding() + QLatin1Char('\'');
                if (reader.isStandaloneDocument())
                    data += QLatin1String(" standalone='yes'");
                add([data](QDomDocument& d) { return d.createProcessingInstruction(QStringLiteral("xml"), data); });
            }
            break;
        case QXmlStreamReader::DTD:
            type = QDomImplementation().createDocumentType(reader.dtdName().toString(), reader.dtdPublicId().toString(),
                                                           reader.dtdSystemId().toString());
            // The tree writes it first whatever comes before it, so it is
            // checked here, not with the other nodes.
            if (!writable(type))
                type = QDomDocumentType();
            break;
        case QXmlStreamReader::StartElement: {
            if (current.isNull()) {
                dom = QDomDocument(type);
                for (const Make& make : prolog)
                    dom.appendChild(make(dom));
                prolog.clear();
                current = dom;
            }
            QDomElement element = dom.createElementNS(namespaceOf(reader.namespaceUri()),
                                                      reader.qualifiedName().toString());
            for (const QXmlStreamAttribute& attribute : reader.attributes())
                element.setAttributeNS(namespaceOf(attribute.namespaceUri()), attribute.qualifiedName().toString(),
                                       ownCopy(attribute.value()));
            current = current.appendChild(element);
            break;
        }
        case QXmlStreamReader::EndElement:
            current = current.parentNode();
            break;
        case QXmlStreamReader::Characters:
            if (keptByTree(reader.text())) {
                const QString text = ownCopy(reader.text());
                if (reader.isCDATA())
                    add([text](QDomDocument& d) { return d.createCDATASection(text); });
                else
                    add([text](QDomDocument& d) { return d.createTextNode(text); });
            }
            break;
        case QXmlStreamReader::Comment: {
            const QString text = ownCopy(reader.text());
            add([text](QDomDocument& d) { return d.createComment(text); });
            break;
        }
        case QXmlStreamReader::ProcessingInstruction: {
            const QString target = reader.processingInstructionTarget().toString();
            const QString data = ownCopy(reader.processingInstructionData());
            add([target, data](QDomDocument& d) { return d.createProcessingInstruction(target, data); });
            break;
        }
        default:
            break;
        }
    }
    return !reader.hasError();
}

QString qualifiedName(const QDomNode& node)
{
    return node.prefix().isEmpty() ? node.localName() : node.prefix() + QLatin1Char(':') + node.localName();
}

bool isPrefixedNamesake(const QDomAttr& attribute)
{
    return !attribute.prefix().isEmpty() && readNames().contains(attribute.name());
}

// The tree finds attributes by local name, and writes them in an order of its
// own: a prefixed namesake of an attribute the store reads would make the
// value it finds depend on that order, so it goes. The element is built anew
// without it (removing attributes that share a local name confuses the tree).
QDomElement dropNamesakes(QDomElement element)
{
    const QDomNamedNodeMap attributes = element.attributes();
    bool any = false;
    for (int i = 0; i < attributes.count() && !any; ++i)
        any = isPrefixedNamesake(attributes.item(i).toAttr());
    if (!any)
        return element;
    QDomElement rebuilt = element.ownerDocument().createElementNS(element.namespaceURI(), qualifiedName(element));
    for (int i = 0; i < attributes.count(); ++i) {
        const QDomAttr attribute = attributes.item(i).toAttr();
        if (!isPrefixedNamesake(attribute))
            rebuilt.setAttributeNS(attribute.namespaceURI(), qualifiedName(attribute), attribute.value());
    }
    while (element.hasChildNodes())
        rebuilt.appendChild(element.firstChild());
    element.parentNode().replaceChild(rebuilt, element);
    return rebuilt;
}

void dropUnwritable(QDomNode parent)
{
    for (QDomNode child = parent.firstChild(); !child.isNull();) {
        const QDomNode next = child.nextSibling();
        if (!writable(child)) {
            parent.removeChild(child);
        } else if (child.isElement()) {
            dropUnwritable(dropNamesakes(child.toElement()));
        }
        child = next;
    }
}

} // namespace

AnnotationDocument::AnnotationDocument(const QString& path) : filePath(path) {}

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
    // Control characters are never part of XML, yet the parser takes some of
    // them inside names, where they cannot be written back; and a crash can
    // leave a file's tail zero-filled.
    text.remove(forbiddenControls());
    return text;
}

AnnotationDocument::Status AnnotationDocument::read(Mode mode)
{
    lastStatus = readFile(mode);
    return lastStatus;
}

AnnotationDocument::Status AnnotationDocument::parse(QByteArray bytes, Mode mode)
{
    lastStatus = parseBytes(std::move(bytes), mode);
    return lastStatus;
}

AnnotationDocument::Status AnnotationDocument::parseBytes(QByteArray bytes, Mode mode)
{
    if (bytes.size() > MaxFileSize)
        return TooBig;
    if (isPlainUtf8(bytes)) {
        // The common file: no copy of it as text, the parser decodes it piece by piece.
        if (!shapeWithinBounds(bytes))
            return TooComplex;
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        QXmlStreamReader reader(&device);
        return parseWith(reader, mode);
    }
    const QString text = decodeText(bytes);
    bytes = QByteArray();
    if (!shapeWithinBounds(text))
        return TooComplex;
    QXmlStreamReader reader(text);
    return parseWith(reader, mode);
}

AnnotationDocument::Status AnnotationDocument::readFile(Mode mode)
{
    if (!isRegularFile(filePath))
        return CannotOpen;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return CannotOpen;
    // What the file holds, and one byte more to see that it grew past the cap.
    QByteArray bytes = file.read(qMin(file.size(), MaxFileSize) + 1);
    file.close();
    if (bytes.size() > MaxFileSize)
        return TooBig;
    return parse(std::move(bytes), mode);
}

void AnnotationDocument::setError(const QXmlStreamReader& reader)
{
    errorLine = int(reader.lineNumber());
    errorColumn = int(reader.columnNumber());
    errorMessage = reader.errorString();
}

AnnotationDocument::Status AnnotationDocument::parseWith(QXmlStreamReader& reader, Mode mode)
{
    reader.setNamespaceProcessing(true);
    if (mode == Content)
        return readContent(reader);
    // The stream parser, not the DOM's older one: that one cuts character
    // references beyond U+FFFF to 16 bits, and a rewrite would keep the damage.
    if (!buildTree(reader, dom)) {
        setError(reader);
        dom = QDomDocument();
        return ParseError;
    }
    if (root().tagName() != QLatin1String(RootName))
        return NotAnnotations;
    dropUnwritable(dom);
    return Ok;
}

// Reads what a load shows as the tree's accessors would find it: elements by
// local name, the first Text and Protocol of each Annotation, their text as
// the tree keeps it.
AnnotationDocument::Status AnnotationDocument::readContent(QXmlStreamReader& reader)
{
    const QString annotationName = QStringLiteral("Annotation");
    const QString textName = QStringLiteral("Text");
    const QString protocolName = QStringLiteral("Protocol");
    int depth = 0;
    bool annotationsRoot = false;
    bool inAnnotation = false;
    bool haveText = false;
    bool haveProtocol = false;
    QString* target = nullptr; // the first Text or Protocol being read
    Entry entry;
    QString lastProtocol;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 1) {
                annotationsRoot = reader.name() == QLatin1String(RootName);
                rootAttributes = reader.attributes();
            } else if (depth == 2 && annotationsRoot && reader.name() == annotationName) {
                inAnnotation = true;
                entry = Entry();
                if (!attributeValue(reader.attributes(), QStringLiteral("Time"), entry.time))
                    entry.time = QString::fromLatin1(kMissingTime);
                haveText = haveProtocol = false;
            } else if (depth == 3 && inAnnotation) {
                if (!haveText && reader.name() == textName) {
                    haveText = true;
                    target = &entry.text;
                } else if (!haveProtocol && reader.name() == protocolName) {
                    haveProtocol = true;
                    target = &entry.protocol;
                }
            }
            break;
        case QXmlStreamReader::EndElement:
            if (depth == 3)
                target = nullptr;
            if (depth == 2 && inAnnotation) {
                // Most annotations share their protocol text: keep it once.
                if (entry.protocol == lastProtocol)
                    entry.protocol = lastProtocol;
                else
                    lastProtocol = entry.protocol;
                annotations.append(entry);
                inAnnotation = false;
            }
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (target && keptByTree(reader.text())) {
                if (target->isEmpty())
                    *target = ownCopy(reader.text());
                else
                    target->append(reader.text());
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        setError(reader);
        annotations.clear();
        return ParseError;
    }
    return annotationsRoot ? Ok : NotAnnotations;
}

QString AnnotationDocument::rootAttribute(const QString& name) const
{
    if (!dom.isNull())
        return root().attribute(name);
    QString value;
    attributeValue(rootAttributes, name, value);
    return value;
}

QByteArray AnnotationDocument::serialize()
{
    if (!exact)
        return QByteArray();
    // The text is written as UTF-8, so the declaration must say so.
    const QDomNode first = dom.firstChild();
    if (first.isProcessingInstruction() && first.nodeName() == QLatin1String("xml")) {
        QDomProcessingInstruction declaration = first.toProcessingInstruction();
        static const QRegularExpression encoding(QStringLiteral("encoding\\s*=\\s*[\"']([^\"']*)[\"']"));
        QString data = declaration.data();
        const QRegularExpressionMatch match = encoding.match(data);
        // The writer also takes its encoding from here.
        if (match.hasMatch() && !isUtf8Name(match.captured(1))) {
            data.replace(match.capturedStart(), match.capturedLength(), QStringLiteral("encoding='utf-8'"));
            declaration.setData(data);
        }
    }
    // Straight into UTF-8 bytes: no text copy of the whole file on the way.
    QByteArray bytes;
    QTextStream stream(&bytes, QIODevice::WriteOnly);
    stream.setCodec(utf8());
    dom.save(stream, 1);
    stream.flush();
    return bytes;
}

bool AnnotationDocument::write()
{
    const QByteArray bytes = serialize();
    if (bytes.isNull())
        return false;
    // Never a file that read() would refuse: it would vanish at the next load.
    if (bytes.size() > MaxFileSize || !shapeWithinBounds(bytes)) {
        lastStatus = bytes.size() > MaxFileSize ? TooBig : TooComplex;
        return false;
    }
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        writeError = SystemErrorText::of(file);
        return false;
    }
    // commit() alone reports success after a short write (a full disk):
    // everything must have reached the temporary file first.
    const bool complete = writeAll(file, bytes) && file.error() == QFileDevice::NoError && file.size() == bytes.size();
    if (!complete) {
        writeError = SystemErrorText::of(file);
        file.cancelWriting();
        file.commit();
        return false;
    }
    if (file.commit())
        return true;
    writeError = SystemErrorText::of(file);
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
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        if (reason)
            *reason = SystemErrorText::of(file);
        return false;
    }
    const bool written = writeAll(file, newFileContent());
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    if (reason)
        *reason = SystemErrorText::of(file);
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
