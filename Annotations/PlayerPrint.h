#pragma once

#include "Annotations/CAdnotation.h"

#include <QList>
#include <QString>

#include <optional>

class QTextStream;
class QWidget;

// Prints the shown annotations or one of them, and exports the shown list to
// PDF or RTF. One object serves one action: every build appends a whole
// document to the buffer.
class PlayerPrint {
public:
    PlayerPrint(QList<CAdnotation> list, QString dir, QWidget* parent);
    // The annotation is copied: the panel may rebuild its lists while the
    // print dialog is open.
    PlayerPrint(const CAdnotation* annotation, QString dir, QWidget* parent);
    ~PlayerPrint();

    PlayerPrint(const PlayerPrint&) = delete;
    PlayerPrint& operator=(const PlayerPrint&) = delete;

    void buildHeaderHtml();
    void buildRowsHtml();
    void buildEndHtml();
    void buildRtf();

    void print();
    void toFile();
    // Write the document to fileName; false (and a message) when nothing
    // was written.
    bool print2pdf();
    bool print2rtf();

    // The document built so far.
    QString document() const;

    // Export to a name as a save dialog returned it, with the filter that was
    // chosen: refuses annotation files, adds the filter's suffix when the name
    // has none of the two, then writes PDF or RTF. False when nothing was
    // written (the user has been told why).
    bool exportTo(const QString& chosenName, const QString& chosenFilter);

    // Where an export goes: the name with the filter's suffix added when it
    // ends in neither ".pdf" nor ".rtf"; empty for a name that is refused.
    static QString exportTarget(const QString& chosenName, const QString& chosenFilter);

    static QString escapeHtml(QString text);
    static QString escapeRtf(QString text);
    // The RTF text in the named code page; empty and false when the codec
    // is not there.
    static QByteArray encode(const QString& text, const char* codecName, bool* ok);

    static const char kExportFilter[];
    static const char kRtfCodec[];

private:
    void init(QString folder, QWidget* parentWidget);
    void buildHtml();
    void appendHtmlRow(const CAdnotation& annotation);
    bool writeWhole(const QByteArray& data);
    void showWriteError(const QString& text) const;

    QWidget* parent;
    QList<CAdnotation> annList;
    std::optional<CAdnotation> annotation;
    QString* buffer;
    QTextStream* stream;
    QString dir;
    QString fileName;
};
