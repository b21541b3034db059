#pragma once

#include <QDomDocument>
#include <QDomElement>
#include <QString>

// One annotation file read into a DOM document and written back whole.
// Reading refuses what could hang or exhaust memory (devices, FIFOs, huge or
// deeply nested files); writing goes through a temporary file renamed over the
// old one, so a failed or interrupted write leaves the old file as it was.
class AnnotationDocument {
public:
    enum Status {
        Ok,
        CannotOpen,     // missing, unreadable, or not a regular file
        TooBig,         // larger than MaxFileSize
        ParseError,     // see errorLine, errorColumn, errorMessage
        TooComplex,     // nested too deeply or too many elements
        NotAnnotations, // another root element
    };

    static const qint64 MaxFileSize = 32 * 1024 * 1024;
    static const int MaxDepth = 64;
    static const int MaxElements = 1000 * 1000;

    explicit AnnotationDocument(const QString& path);

    Status read();
    Status status() const { return lastStatus; }

    const QString& path() const { return filePath; }
    QDomDocument& document() { return dom; }
    QDomElement root() const { return dom.documentElement(); }

    int errorLine = 0;
    int errorColumn = 0;
    QString errorMessage;

    // False when the bytes could not be turned into text without loss (not
    // UTF-8 and no usable declared encoding): such a file is never rewritten.
    bool decodedExactly() const { return exact; }

    // Writes the document as UTF-8 with an indent of 1; false on any failure,
    // with the system's reason in writeError.
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
    Status readFile();
    QString decode(const QByteArray& bytes);
    QString decodeText(const QByteArray& bytes);
    bool checkShape(const QString& text);

    QString filePath;
    QDomDocument dom;
    bool exact = true;
    Status lastStatus = CannotOpen;
};
