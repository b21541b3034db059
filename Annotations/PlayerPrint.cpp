#include "Annotations/PlayerPrint.h"

#include "Annotations/SystemErrorText.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextDocument>
#include <QTextStream>

const char PlayerPrint::kExportFilter[] = "Plik pdf (*.pdf);; Plik rtf (*.rtf)";
const char PlayerPrint::kRtfCodec[] = "Windows-1250";

namespace {

const char kPdfSuffix[] = ".pdf";
const char kRtfSuffix[] = ".rtf";

// The page footer: a right-aligned paragraph holding the page number, and the
// section's header and footer distances. Each line ends with a blank.
const char* const kRtfFooterLines[] = {
    "{\\footerr \\ltrpar \\pard\\plain \\ltrpar\\s17\\qr \\li0\\ri0\\widctlpar",
    "\\tqc\\tx4536\\tqr\\tx9072\\wrapdefault\\aspalpha\\aspnum\\faauto\\adjustright\\rin0\\lin0\\itap0 "
    "\\rtlch\\fcs1 \\af31507\\afs22\\alang1025 \\ltrch\\fcs0 "
    "\\f31506\\fs22\\lang1045\\langfe1033\\cgrid\\langnp1045\\langfenp1033",
    "{\\field",
    "{\\*\\fldinst",
    "{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\insrsid12529592 PAGE   \\\\* MERGEFORMAT}",
    "}",
    "}",
    "\\sectd \\ltrsect\\linex0\\headery708\\footery708\\colsx708\\endnhere\\sectdefaultcl\\sftnbj "
    "{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\insrsid12529592 \\par }",
    "\\pard \\ltrpar\\s17\\ql \\li0\\ri0\\widctlpar\\tqc\\tx4536\\tqr\\tx9072\\wrapdefault\\aspalpha"
    "\\aspnum\\faauto\\adjustright\\rin0\\lin0\\itap0",
    "{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\insrsid12529592 \\par",
    "}",
    "}",
};

const int kRtfCellEdges[] = {1200, 8300, 9000};

// The message for an export that was not written.
QString writeFailure(const QString& fileName, const QString& cause)
{
    return QStringLiteral("Błąd zapisu pliku! Plik: \"%1\"\n%2").arg(fileName, cause);
}

QString orNoBreakSpace(const QString& text) { return text.isEmpty() ? QStringLiteral("&nbsp;") : text; }

QString protocolWord(const CAdnotation& annotation)
{
    return annotation.isProtocol ? QStringLiteral("Tak") : QStringLiteral("Nie");
}

void setUpPage(QPrinter& printer)
{
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
}

void printHtml(const QString& html, QPrinter& printer)
{
    QTextDocument document;
    document.setHtml(html);
    document.print(&printer);
}

} // namespace

PlayerPrint::PlayerPrint(QList<CAdnotation> list, QString dir, QWidget* parent) : annList(std::move(list))
{
    init(std::move(dir), parent);
}

PlayerPrint::PlayerPrint(const CAdnotation* annotation, QString dir, QWidget* parent)
{
    if (annotation)
        this->annotation = *annotation;
    init(std::move(dir), parent);
}

void PlayerPrint::init(QString folder, QWidget* parentWidget)
{
    dir = std::move(folder);
    parent = parentWidget;
    buffer = new QString;
    stream = new QTextStream(buffer, QIODevice::ReadWrite);
}

PlayerPrint::~PlayerPrint()
{
    delete stream;
    delete buffer;
}

QString PlayerPrint::document() const
{
    stream->flush();
    return *buffer;
}

void PlayerPrint::buildHeaderHtml()
{
    *stream << QStringLiteral("<html>\n<head>\n<meta Content=\"Text/html; charset=utf-8\">\n")
            << QStringLiteral("<title>%1</title>\n").arg(QStringLiteral("Tytuł"))
            << QStringLiteral("</head>\n<body bgcolor=#ffffff link=#5000A0>\n<table style=\"font-size:")
            << QString::number(QApplication::font().pointSize())
            << QStringLiteral("pt;\" width=\"100%\" border=1 cellspacing=0 cellpadding=2>\n")
            << QStringLiteral("<tr bgcolor=#f0f0f0>")
            << QStringLiteral("<th nowrap=\"nowrap\" >%1</th>").arg(QStringLiteral("Czas"))
            << QStringLiteral("<th width=\"75%\" >%1</th>").arg(QStringLiteral("Adnotacja"))
            << QStringLiteral("<th nowrap=\"nowrap\" >%1</th>").arg(QStringLiteral("Prot."))
            << QStringLiteral("</tr>\n");
}

void PlayerPrint::appendHtmlRow(const CAdnotation& row)
{
    *stream << QStringLiteral("<tr>")
            << QStringLiteral("<td nowrap=\"nowrap\" bkcolor=0>%1</td>").arg(orNoBreakSpace(escapeHtml(row.timeText)))
            << QStringLiteral("<td bkcolor=0>%1</td>").arg(orNoBreakSpace(escapeHtml(row.text)))
            << QStringLiteral("<td nowrap=\"nowrap\" bkcolor=0><>%1</td>").arg(protocolWord(row))
            << QStringLiteral("</tr>\n");
}

void PlayerPrint::buildRowsHtml()
{
    for (const CAdnotation& row : qAsConst(annList))
        appendHtmlRow(row);
    if (annotation)
        appendHtmlRow(*annotation);
}

void PlayerPrint::buildEndHtml() { *stream << QStringLiteral("</table>\n</body>\n</html>\n"); }

void PlayerPrint::buildHtml()
{
    buildHeaderHtml();
    buildRowsHtml();
    buildEndHtml();
}

QString PlayerPrint::escapeHtml(QString text)
{
    text.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    text.replace(QLatin1Char('"'), QStringLiteral("&quot;"));
    text.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    text.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    text.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    // Runs of spaces and spaces that open a line keep their width.
    text.replace(QStringLiteral("  "), QStringLiteral("&thinsp;&nbsp;"));
    text.replace(QRegularExpression(QStringLiteral("^ ")), QStringLiteral("&nbsp;"));
    text.replace(QStringLiteral("<br> "), QStringLiteral("<br>&nbsp;"));
    text.replace(QRegularExpression(QStringLiteral("^&thinsp;")), QStringLiteral("&nbsp;"));
    text.replace(QStringLiteral("<br>&thinsp;"), QStringLiteral("<br>&nbsp;"));
    return text;
}

QString PlayerPrint::escapeRtf(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('{'), QStringLiteral("\\{"));
    text.replace(QLatin1Char('}'), QStringLiteral("\\}"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\line\n"));
    return text;
}

void PlayerPrint::buildRtf()
{
    *stream << QStringLiteral("{\\rtf1\\ansicpg1250\\deff0\n");
    for (const char* line : kRtfFooterLines)
        *stream << QLatin1String(line) << QStringLiteral(" \n");

    const auto appendRow = [this](const QStringList& cells, bool shaded) {
        *stream << QStringLiteral("\\trowd\\trkeep\n");
        for (int edge : kRtfCellEdges) {
            if (shaded)
                *stream << QStringLiteral("\\clshdng1000");
            *stream << QStringLiteral("\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx") << edge
                    << QStringLiteral("\n");
        }
        *stream << QStringLiteral("\\intbl\n");
        for (const QString& cell : cells)
            *stream << cell << QStringLiteral("\\cell\n");
        *stream << QStringLiteral("\\row\n");
    };

    appendRow({QStringLiteral("Czas"), QStringLiteral("Adnotacja"), QStringLiteral("Prot.")}, true);
    for (const CAdnotation& row : qAsConst(annList))
        appendRow({escapeRtf(row.timeText), escapeRtf(row.text), protocolWord(row)}, false);
    *stream << QStringLiteral("}");
}

void PlayerPrint::print()
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPage(printer);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Wydruk adnotacji"));
    dialog.setOption(QAbstractPrintDialog::PrintSelection, true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    buildHtml();
    printHtml(document(), printer);
}

void PlayerPrint::toFile()
{
    QString chosenFilter;
    const QString chosenName = QFileDialog::getSaveFileName(parent, QStringLiteral("Zapis adnotacji do pliku"), dir,
                                                            QString::fromUtf8(kExportFilter), &chosenFilter);
    if (chosenName.isEmpty())
        return;
    exportTo(chosenName, chosenFilter);
}

QString PlayerPrint::exportTarget(const QString& chosenName, const QString& chosenFilter)
{
    // An export must never replace an annotation file.
    if (chosenName.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive))
        return QString();
    if (chosenName.endsWith(QLatin1String(kPdfSuffix), Qt::CaseInsensitive) ||
        chosenName.endsWith(QLatin1String(kRtfSuffix), Qt::CaseInsensitive))
        return chosenName;
    const bool rtf = chosenFilter.contains(QStringLiteral("*.rtf"));
    return chosenName + QLatin1String(rtf ? kRtfSuffix : kPdfSuffix);
}

bool PlayerPrint::exportTo(const QString& chosenName, const QString& chosenFilter)
{
    const QString target = exportTarget(chosenName, chosenFilter);
    if (target.isEmpty()) {
        showWriteError(QStringLiteral("Plik \"%1\" jest plikiem adnotacji i nie zostanie nadpisany. "
                                      "Wybierz plik pdf lub rtf.")
                           .arg(chosenName));
        return false;
    }
    fileName = target;
    if (fileName.endsWith(QLatin1String(kPdfSuffix), Qt::CaseInsensitive))
        return print2pdf();
    return print2rtf();
}

bool PlayerPrint::print2pdf()
{
    buildHtml();
    // The printer writes straight into its file: render beside, then replace
    // the target in one step.
    QTemporaryDir scratch;
    const QString rendered = scratch.filePath(QStringLiteral("export.pdf"));
    if (scratch.isValid()) {
        QPrinter printer(QPrinter::HighResolution);
        setUpPage(printer);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(rendered);
        printHtml(document(), printer);
    }
    QFile pdf(rendered);
    if (!scratch.isValid() || !pdf.open(QIODevice::ReadOnly) || pdf.size() == 0) {
        showWriteError(writeFailure(fileName, QStringLiteral("Nie udało się utworzyć dokumentu PDF.")));
        return false;
    }
    return writeWhole(pdf.readAll());
}

bool PlayerPrint::print2rtf()
{
    buildRtf();
    bool ok = false;
    const QByteArray data = encode(document(), kRtfCodec, &ok);
    if (!ok) {
        // A different codec under the code-page-1250 header would garble
        // every Polish letter.
        showWriteError(writeFailure(fileName, QStringLiteral("Brak kodowania %1.").arg(QLatin1String(kRtfCodec))));
        return false;
    }
    return writeWhole(data);
}

QByteArray PlayerPrint::encode(const QString& text, const char* codecName, bool* ok)
{
    QTextCodec* codec = QTextCodec::codecForName(codecName);
    *ok = codec != nullptr;
    return codec ? codec->fromUnicode(text) : QByteArray();
}

bool PlayerPrint::writeWhole(const QByteArray& data)
{
    QSaveFile file(fileName);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    const QString error = SystemErrorText::of(file);
    file.cancelWriting();
    if (QFileInfo::exists(fileName))
        showWriteError(
            QStringLiteral("Błąd zapisu pliku! Plik: \"%1\" jest zablokowany przez inny proces").arg(fileName));
    else
        showWriteError(writeFailure(fileName, error));
    return false;
}

void PlayerPrint::showWriteError(const QString& text) const
{
    QMessageBox::critical(parent, QStringLiteral("Błąd zapisu pliku"), text, QMessageBox::Ok);
}
