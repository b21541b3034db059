#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QDomElement>
#include <QString>
#include <QVector>
#include <QXmlStreamReader>

// One annotation file, read either into a DOM document to be changed and
// written back whole, or straight into its annotations for a load (no tree).
// Reading refuses what could hang or exhaust memory (devices, FIFOs, huge,
// deeply nested or attribute-laden files); writing goes through a temporary
// file renamed over the old one, so a failed or interrupted write leaves the
// old file as it was.
class AnnotationDocument {
public:
    enum Status {
        Ok,
        CannotOpen,     // missing, unreadable, or not a regular file
        TooBig,         // larger than MaxFileSize
        ParseError,     // see errorLine, errorColumn, errorMessage
        TooComplex,     // over one of the shape bounds below, or a DTD subset
        NotAnnotations, // another root element
    };
    enum Mode {
        Tree,    // document() holds the whole file
        Content, // only rootAttribute() and entries()
    };

    static constexpr qint64 MaxFileSize = 32 * 1024 * 1024;
    static constexpr int MaxDepth = 64;
    static constexpr int MaxElements = 1000 * 1000;
    // The XML parser compares every attribute of an element with every other
    // one, and resolves each name through every namespace declaration in
    // scope: these keep any file under MaxFileSize well under a second. The
    // declarations are bounded in scope rather than per file, because a
    // rewrite declares a prefix again on every element that uses it. Time,
    // Created and copyOf are not counted: a rewrite may add them.
    static constexpr int MaxAttributes = 64;
    static constexpr qint64 MaxAttributePairs = 1 << 20;
    static constexpr int MaxNamespaceDeclarations = 64;

    // One Annotation element as a load sees it.
    struct Entry {
        QString time; // "00:00:00" when the attribute is missing
        QString text;
        QString protocol;
    };

    explicit AnnotationDocument(const QString& path = QString());

    Status read(Mode mode = Tree);
    // The same from bytes, with no file: what read() does after reading them.
    Status parse(QByteArray bytes, Mode mode = Tree);
    // What the last read found; TooBig or TooComplex after a write() that
    // refused to make a file that read() would refuse.
    Status status() const { return lastStatus; }

    const QString& path() const { return filePath; }
    QDomDocument& document() { return dom; }
    QDomElement root() const { return dom.documentElement(); }
    QString rootAttribute(const QString& name) const;
    const QVector<Entry>& entries() const { return annotations; }

    int errorLine = 0;
    int errorColumn = 0;
    QString errorMessage;

    // False when the bytes could not be turned into text without loss (not
    // UTF-8 and no usable declared encoding): such a file is never rewritten.
    bool decodedExactly() const { return exact; }

    // The bytes write() puts into the file: UTF-8 with an indent of 1; null
    // when the document may not be written.
    QByteArray serialize();
    // False on any failure, with the system's reason in writeError, or with
    // status() telling why the document may not be written.
    bool write();
    QString writeError;

    // The first Annotation child whose Time (or "00:00:00") and Text equal
    // these; a null element when none does.
    QDomElement findAnnotation(const QString& time, const QString& text) const;

    static QString timeOf(const QDomElement& annotation);
    static QString childText(const QDomElement& annotation, const QString& name);

    // The three pieces of a new, empty annotation file.
    static QByteArray newFileContent();
    // Creates a new file with newFileContent(); never touches an existing one.
    // On failure the system's reason goes to `reason` when given.
    static bool createNew(const QString& path, QString* reason = nullptr);

    // Regular files only, after following links.
    static bool isRegularFile(const QString& path);
    static qint64 modifiedSeconds(const QString& path);

    // Text with the characters XML 1.0 forbids removed and line ends made
    // "\n", so that it parses back as the same text.
    static QString cleanText(const QString& text);

    static const char* const RootName;

private:
    Status readFile(Mode mode);
    Status parseBytes(QByteArray bytes, Mode mode);
    Status parseWith(QXmlStreamReader& reader, Mode mode);
    Status readContent(QXmlStreamReader& reader);
    QString decode(const QByteArray& bytes);
    QString decodeText(const QByteArray& bytes);
    void setError(const QXmlStreamReader& reader);

    QString filePath;
    QDomDocument dom;
    QXmlStreamAttributes rootAttributes; // Content mode
    QVector<Entry> annotations;          // Content mode
    bool exact = true;
    Status lastStatus = CannotOpen;
};
