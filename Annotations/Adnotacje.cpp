#include "Annotations/Adnotacje.h"

#include "Annotations/AnnotationDialogs.h"
#include "Annotations/AnnotationDocument.h"
#include "Annotations/AnnotationRowHeights.h"
#include "Annotations/Duration.h"
#include "Annotations/PlayerPrint.h"
#include "Annotations/SystemErrorText.h"
#include "ui_Adnotacje.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTime>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

const char* const Adnotacje::AddNewItem = "[Dodaj nowy ...]";

namespace {

const char kSuffix[] = ".xml";
const char kFilter[] = "*.xml";
const char kClerkSuffix[] = "-clerk.xml";
const char kTableStyle[] = "QTableView {selection-background-color: #0080FF;}";
const char kTimeFormat[] = "hh:mm:ss";
const char kErrorTitle[] = "Błąd";
const char kGoneFromFile[] = "W pliku nie ma już tej adnotacji.";
const char kNoSuchLayer[] = "Plik %1 nie jest otwarty jako warstwa adnotacji.";
// What the store refuses to read, and so also to write.
const char kTooComplex[] = "zbyt złożoną budowę (za dużo elementów, atrybutów, deklaracji przestrzeni nazw lub "
                           "poziomów zagnieżdżenia albo własne deklaracje DTD)";

QString utf8(const char* text) { return QString::fromUtf8(text); }

QString maxMegabytes() { return QString::number(AnnotationDocument::MaxFileSize / (1024 * 1024)); }

// A new layer is named after its folder; a name that would be empty or
// hidden (the root, ".", a dot folder) falls back to a plain one.
QString layerNameFor(QString dir)
{
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString name = QDir(dir).absolutePath();
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    return name.isEmpty() ? QStringLiteral("adnotacje") : name;
}

// Why a file cannot be read; devices and FIFOs are never opened to find out.
QString openFailure(const QString& path)
{
    if (!QFileInfo::exists(path))
        return SystemErrorText::of(ENOENT);
    if (!AnnotationDocument::isRegularFile(path))
        return utf8("%1 nie jest zwykłym plikiem.").arg(path);
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString() : SystemErrorText::of(file);
}

// The user may add files to that folder.
bool canWriteIn(const QString& folder)
{
    return !folder.isEmpty() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

// A name no file, folder or link has taken.
bool isTaken(const QString& path) { return QFileInfo::exists(path) || QFileInfo(path).isSymLink(); }

// Why a file could not be copied, in words the user can act on.
QString copyFailure(const QString& source, const QString& target, const QString& systemReason)
{
    if (!QFileInfo::exists(source))
        return utf8("Plik %1 nie istnieje.").arg(source);
    const QString folder = QFileInfo(target).absolutePath();
    if (!canWriteIn(folder))
        return utf8("Brak prawa zapisu w folderze %1.").arg(folder);
    if (QStorageInfo(folder).bytesAvailable() < QFileInfo(source).size())
        return utf8("Za mało miejsca na dysku w folderze %1.").arg(folder);
    return systemReason;
}

bool hasXmlSuffix(const QString& path) { return path.endsWith(QLatin1String(kSuffix), Qt::CaseInsensitive); }

// The narrowest sizes, chosen for smaller fonts than the user may pick.
const int kTimeColumnWidth = 87;
const int kLayerListHeight = 40;

// Wide enough for any time in the table's font, as its style measures a cell.
void fitTimeColumn(QTableView* table)
{
    const QFontMetrics metrics(table->font());
    QChar widest = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit)
        if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest))
            widest = QLatin1Char(digit);
    QStyleOptionViewItem cell;
    cell.initFrom(table);
    cell.font = table->font();
    cell.fontMetrics = metrics;
    cell.features = QStyleOptionViewItem::HasDisplay;
    const QString pair(2, widest);
    cell.text = pair + QLatin1Char(':') + pair + QLatin1Char(':') + pair;
    const int needed = table->style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), table).width();
    // The grid line is drawn inside the column.
    table->setColumnWidth(0, std::max(kTimeColumnWidth, needed + (table->showGrid() ? 1 : 0)));
}

// High enough for both lines of a layer (its name, then its file) inside the
// combo's own margins.
void fitLayerList(QComboBox* combo)
{
    const int probe = 1000;
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.frame = combo->hasFrame();
    option.rect = QRect(0, 0, probe, probe);
    const int margins =
        probe -
        combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).height();
    const QRect twoLines = combo->fontMetrics().boundingRect(QRect(0, 0, probe, probe), 0, QStringLiteral("Ag\nAg"));
    const int needed = twoLines.height() + margins;
    combo->setMinimumHeight(needed);
    combo->setMaximumHeight(std::max(kLayerListHeight, needed));
}

} // namespace

Adnotacje::Adnotacje(QWidget* parent)
    : QWidget(parent),
      ui(new Ui_Adnotacje),
      model(nullptr),
      layerCounter(0),
      offsetMs(0),
      spy(false),
      lastPos(0),
      addTime(0),
      dialogs(AnnotationDialogs::standard())
{
    qRegisterMetaType<Layer>();
    qRegisterMetaType<QList<Layer>>();
    ui->setupUi(this);
    ui->frameAdnProp->hide();
    ui->btFilterT->hide();
    createMenuAnnonList();
    rowHeights = new AnnotationRowHeights(ui->tableAdnot);
    ui->tableAdnot->installEventFilter(this);
    ui->tableAdnot->viewport()->installEventFilter(this);
    ui->tableAdnot->verticalScrollBar()->installEventFilter(this);
    ui->comboBoxFiles->installEventFilter(this);
    fitLayerList(ui->comboBoxFiles);
}

bool Adnotacje::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::Wheel || type == QEvent::KeyPress) &&
        (watched == ui->tableAdnot || watched == ui->tableAdnot->viewport() ||
         watched == ui->tableAdnot->verticalScrollBar()))
        lastTouch.start();
    // The window sets its font before its theme: sizes follow each change.
    if (type == QEvent::FontChange || type == QEvent::StyleChange) {
        if (watched == ui->tableAdnot)
            fitTimeColumn(ui->tableAdnot);
        else if (watched == ui->comboBoxFiles)
            fitLayerList(ui->comboBoxFiles);
    }
    return QWidget::eventFilter(watched, event);
}

Adnotacje::~Adnotacje() { delete ui; }

void Adnotacje::setDialogs(AnnotationDialogs* seam) { dialogs = seam ? seam : AnnotationDialogs::standard(); }

void Adnotacje::createMenuAnnonList()
{
    struct Item {
        const char* text;
        void (Adnotacje::*slot)();
    };
    const Item items[] = {
        {"Kopiuj", &Adnotacje::cmalCopy_triggered},
        {"Usuń", &Adnotacje::cmalDelete_triggered},
        {"Drukuj", &Adnotacje::cmalPrint_triggered},
    };
    for (const Item& item : items) {
        QAction* action = new QAction(utf8(item.text), this);
        connect(action, &QAction::triggered, this, item.slot);
        menuAnnonList.addAction(action);
    }
}

// ---------------------------------------------------------------- store

bool Adnotacje::readDocument(AnnotationDocument& doc, ParseMessage style, bool forWriting)
{
    switch (doc.read(forWriting ? AnnotationDocument::Tree : AnnotationDocument::Content)) {
    case AnnotationDocument::Ok:
        break;
    case AnnotationDocument::ParseError: {
        // Filled in one pass, so that a "%" in a path or message stays as it is.
        const QString line = QString::number(doc.errorLine);
        const QString column = QString::number(doc.errorColumn);
        const QString text =
            style == ParseMessage::WithPath
                ? doc.path() + tr("\nParse error at line %1, column %2:\n%3").arg(line, column, doc.errorMessage)
                : tr("Parse error at line %1, column %2:\n%3").arg(line, column, doc.errorMessage);
        dialogs->information(window(), tr("DOM Addnotacje"), text);
        return false;
    }
    case AnnotationDocument::TooBig:
        dialogs->information(
            window(), tr("DOM Addnotacje"),
            utf8("Plik %1 jest za duży (ponad %2 MB) i nie zostanie otwarty.").arg(doc.path(), maxMegabytes()));
        return false;
    case AnnotationDocument::TooComplex:
        dialogs->information(window(), tr("DOM Addnotacje"),
                             utf8("Plik %1 ma %2 i nie zostanie otwarty.").arg(doc.path(), utf8(kTooComplex)));
        return false;
    case AnnotationDocument::CannotOpen:
    case AnnotationDocument::NotAnnotations:
        return false;
    }
    if (forWriting && !doc.decodedExactly()) {
        dialogs->critical(window(), utf8(kErrorTitle),
                          utf8("Plik %1 nie jest zapisany w kodowaniu UTF-8 ani w kodowaniu, które deklaruje. "
                               "Plik nie zostanie zmieniony.")
                              .arg(doc.path()));
        return false;
    }
    return true;
}

bool Adnotacje::readForWriting(AnnotationDocument& doc)
{
    failureReason.clear();
    if (readDocument(doc, ParseMessage::Plain, true))
        return true;
    if (doc.status() == AnnotationDocument::CannotOpen)
        failureReason = openFailure(doc.path());
    return false;
}

bool Adnotacje::readForChange(AnnotationDocument& doc)
{
    const qint64 modified = AnnotationDocument::modifiedSeconds(doc.path());
    if (!readForWriting(doc))
        return false;
    QDomElement root = doc.root();
    if (root.attribute(QStringLiteral("Created")).isEmpty())
        root.setAttribute(QStringLiteral("Created"), QString::number(modified));
    return true;
}

bool Adnotacje::writeChange(AnnotationDocument& doc)
{
    if (doc.write())
        return true;
    switch (doc.status()) {
    case AnnotationDocument::TooBig:
        failureReason = utf8("Po tej zmianie plik %1 byłby większy niż %2 MB i nie dałoby się go otworzyć; "
                             "plik pozostaje bez zmian.")
                            .arg(doc.path(), maxMegabytes());
        break;
    case AnnotationDocument::TooComplex:
        failureReason = utf8("Po tej zmianie plik %1 miałby %2 i nie dałoby się go otworzyć; plik pozostaje bez zmian.")
                            .arg(doc.path(), utf8(kTooComplex));
        break;
    default:
        failureReason = doc.writeError;
    }
    return false;
}

QString Adnotacje::failureText(const char* text) const
{
    return failureReason.isEmpty() ? utf8(text) : utf8(text) + QLatin1Char('\n') + failureReason;
}

bool Adnotacje::isAnnotationReadonly(QString path)
{
    if (path.endsWith(QLatin1String(kClerkSuffix)))
        return true;
    // The owner's write bit stands for the read-only attribute; it keeps the
    // rule meaningful for a user who may write everything.
    if (!(QFile::permissions(path) & QFileDevice::WriteOwner))
        return true;
    if (::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return true;
    // A change is written to a new file beside the old one and renamed over
    // it: a folder that refuses new files makes the layer read-only too.
    return !canWriteIn(QFileInfo(path).absolutePath());
}

bool Adnotacje::isAnnotFile(QString path)
{
    AnnotationDocument doc(path);
    return readDocument(doc, ParseMessage::Plain, false);
}

QString Adnotacje::getXmlAttr(QString path, QString attr)
{
    AnnotationDocument doc(path);
    if (readDocument(doc, ParseMessage::Plain, false))
        return doc.rootAttribute(attr);
    return doc.status() == AnnotationDocument::NotAnnotations ? QStringLiteral("not annotations file") : QString();
}

bool Adnotacje::setXmlAttr(QString path, QString attr, QString value)
{
    AnnotationDocument doc(path);
    if (!readForWriting(doc))
        return false;
    doc.root().setAttribute(attr, value);
    return writeChange(doc);
}

bool Adnotacje::createNewAnnotationsFile(QString path)
{
    if (QFileInfo::exists(path)) {
        dialogs->critical(window(), utf8(kErrorTitle),
                          utf8("Plik %1 już istnieje. Wybierz inną nazwę nowego pliku adnotacji.").arg(path));
        return false;
    }
    QString reason;
    if (!AnnotationDocument::createNew(path, &reason)) {
        dialogs->critical(window(), utf8(kErrorTitle),
                          utf8("Nie udało się utworzyć pliku %1.").arg(path) + QLatin1Char('\n') + reason);
        return false;
    }
    return setXmlAttr(path, QStringLiteral("Created"), QString::number(AnnotationDocument::modifiedSeconds(path)));
}

void Adnotacje::loadAdnotationsFile(QString path, bool refresh)
{
    if (!hasXmlSuffix(path))
        return;
    AnnotationDocument doc(path);
    if (readDocument(doc, ParseMessage::WithPath, false))
        addLayer(doc, refresh);
}

void Adnotacje::addLayer(const AnnotationDocument& doc, bool refresh)
{
    const QString& path = doc.path();
    if (getLayer(path).path == path) {
        dialogs->message(utf8("Plik został już otwarty"));
        return;
    }
    Layer layer(++layerCounter, path);
    layer.setLayerType(doc.rootAttribute(QStringLiteral("copyOf")), path);
    const QString created = doc.rootAttribute(QStringLiteral("Created"));
    layer.created = created.isEmpty() ? AnnotationDocument::modifiedSeconds(path) : created.toLongLong();
    layers.append(layer);

    adnotations.reserve(adnotations.size() + doc.entries().size());
    for (const AnnotationDocument::Entry& entry : doc.entries())
        adnotations.append(CAdnotation(entry.time, entry.text, entry.protocol, layer.id));
    sortAdnotations();
    if (refresh) {
        manageLayers();
        showAdnotations();
    }
}

void Adnotacje::loadAdnotationsDir(QString dir, bool)
{
    const QDir folder(dir);
    if (!folder.exists())
        return;
    annotationsDir = dir;
    const QStringList names = folder.entryList({QLatin1String(kFilter)}, QDir::Files | QDir::NoDotAndDotDot,
                                               QDir::Time);
    clearAdnotations();
    for (const QString& name : names) {
        // Each file is read once: a parse error shows the plain message here.
        AnnotationDocument doc(folder.filePath(name));
        if (readDocument(doc, ParseMessage::Plain, false))
            addLayer(doc, false);
    }
    manageLayers();
    showAdnotations();
    emit annShowLayers(layers);
}

bool Adnotacje::addAnnotXML(CAdnotation ann, QString path)
{
    AnnotationDocument doc(path);
    if (!readForChange(doc))
        return false;
    QDomDocument& dom = doc.document();
    QDomElement root = doc.root();
    QDomElement element = dom.createElement(QStringLiteral("Annotation"));
    element.setAttribute(QStringLiteral("Time"), ann.time);
    QDomElement text = dom.createElement(QStringLiteral("Text"));
    text.appendChild(dom.createTextNode(AnnotationDocument::cleanText(ann.text)));
    element.appendChild(text);
    QDomElement protocol = dom.createElement(QStringLiteral("Protocol"));
    protocol.appendChild(dom.createTextNode(AnnotationDocument::cleanText(ann.protocol)));
    element.appendChild(protocol);

    const QString annotationName = QStringLiteral("Annotation");
    QDomElement later = root.firstChildElement(annotationName);
    if (later.isNull()) {
        root.insertBefore(element, QDomNode());
    } else {
        while (!later.isNull() && Duration::isoToMs(AnnotationDocument::timeOf(later)) <= ann.timeMs)
            later = later.nextSiblingElement(annotationName);
        if (later.isNull())
            root.appendChild(element);
        else
            root.insertBefore(element, later);
    }
    return writeChange(doc);
}

bool Adnotacje::delAnnotXML(CAdnotation ann, QString path)
{
    AnnotationDocument doc(path);
    if (!readForChange(doc))
        return false;
    QDomElement found = doc.findAnnotation(ann.time, ann.text);
    if (found.isNull()) {
        failureReason = utf8(kGoneFromFile);
        return false;
    }
    doc.root().removeChild(found);
    return writeChange(doc);
}

bool Adnotacje::editAnnotXML(CAdnotation changed, CAdnotation previous, QString path)
{
    AnnotationDocument doc(path);
    if (!readForChange(doc))
        return false;
    QDomElement found = doc.findAnnotation(previous.time, previous.text);
    if (found.isNull()) {
        failureReason = utf8(kGoneFromFile);
        return false;
    }
    // Only the text changes: attributes and elements of other writers stay.
    QDomDocument& dom = doc.document();
    QDomElement text = found.firstChildElement(QStringLiteral("Text"));
    if (text.isNull()) {
        text = dom.createElement(QStringLiteral("Text"));
        found.insertBefore(text, found.firstChildElement(QStringLiteral("Protocol")));
    }
    while (text.hasChildNodes())
        text.removeChild(text.firstChild());
    text.appendChild(dom.createTextNode(AnnotationDocument::cleanText(changed.text)));
    return writeChange(doc);
}

QString Adnotacje::proposedFileName() const
{
    // Named after the recording's folder, and kept there when the user may
    // add files to it: a copy proposed where it cannot be made only fails.
    QString folder = annotationsDir;
    if (!canWriteIn(folder))
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!canWriteIn(folder))
        folder = QDir::homePath();
    const QDir dir(folder);
    const QString base = layerNameFor(annotationsDir);
    QString name = dir.filePath(base + QLatin1String(kSuffix));
    for (int n = 2; isTaken(name); ++n)
        name = dir.filePath(base + QLatin1Char('-') + QString::number(n) + QLatin1String(kSuffix));
    return name;
}

QString Adnotacje::copyAnnotFile(QString path)
{
    if (!dialogs->question(utf8("Plik dla tej warstwy jest tylko do odczytu.\n"
                                "Czy utworzyć kopię pliku w nowej lokalizacji?"),
                           true))
        return QString();
    QString name = dialogs->saveFileName(this, utf8("Utwórz kopię adnotacji"), proposedFileName(),
                                         QLatin1String(kFilter));
    const auto fail = [this](const char* text, const QString& reason = QString()) {
        dialogs->critical(window(), utf8(kErrorTitle),
                          reason.isEmpty() ? utf8(text) : utf8(text) + QLatin1Char('\n') + reason);
        ui->frameAdnProp->hide();
        return QString();
    };
    if (name.isEmpty()) {
        ui->frameAdnProp->hide();
        return QString();
    }
    if (!hasXmlSuffix(name))
        name += QLatin1String(kSuffix);
    if (name.endsWith(QLatin1String(kClerkSuffix)))
        return fail("Zła nazwa pliku - zakończony clerk.xml");
    // Never over another file, even one the dialog offered to replace.
    if (isTaken(name))
        return fail("Nie udało się skopiować pliku", utf8("Plik %1 już istnieje.").arg(name));
    QFile source(path);
    if (!source.copy(name))
        return fail("Nie udało się skopiować pliku", copyFailure(path, name, SystemErrorText::of(source)));
    QFile copy(name);
    if (!copy.setPermissions(copy.permissions() | QFileDevice::WriteOwner)) {
        const QString reason = SystemErrorText::of(copy);
        copy.remove();
        return fail("Błąd dostępu do pliku - Read Only!", reason);
    }
    const QString firstOfChain = getXmlAttr(path, QStringLiteral("copyOf"));
    if (!setXmlAttr(name, QStringLiteral("copyOf"), firstOfChain.isEmpty() ? path : firstOfChain) ||
        !setXmlAttr(name, QStringLiteral("Created"), QString::number(AnnotationDocument::modifiedSeconds(name)))) {
        // Only the copy made here is removed; the source is never touched.
        const QString reason = failureReason;
        copy.remove();
        return fail("Nie udało się skopiować pliku", reason);
    }
    // A layer of that path may be open already (its file gone meanwhile):
    // only a layer added now is the copy.
    const int lastId = layerCounter;
    loadAdnotationsFile(name, true);
    manageLayers();
    if (layerCounter == lastId)
        return fail("Nie udało się otworzyć kopii pliku adnotacji");
    // What is written next belongs in the copy, not in the read-only original.
    ui->comboBoxFiles->setCurrentIndex(ui->comboBoxFiles->findData(name));
    return name;
}

// ---------------------------------------------------------------- panel

void Adnotacje::resetFilterFields()
{
    ui->timeEdit->setTime(QTime::fromString(QStringLiteral("00:00:00"), QLatin1String(kTimeFormat)));
    ui->lineEditAdnot->setText(QString());
}

void Adnotacje::clearAdnotations()
{
    layerCounter = 0;
    adnotations.clear();
    layers.clear();
    activAnnotations.clear();
    ui->comboBoxFiles->clear();
    resetFilterFields();
    Layer::nbAnnPub = 0;
    Layer::nbAnnPriv = 0;
    Layer::nbAnnProt = 0;
    // An open edit belonged to a layer that is gone.
    editTarget = CAdnotation();
    ui->frameAdnProp->hide();
    emit annShowLayers(layers);
}

void Adnotacje::sortAdnotations()
{
    if (adnotations.isEmpty())
        return;
    // Stable, so that records equal in time and layer keep their file order,
    // which is the order in which the file is searched.
    std::stable_sort(adnotations.begin(), adnotations.end());
    for (int i = 0; i < adnotations.size(); ++i)
        adnotations[i].index = i;
}

void Adnotacje::manageLayers()
{
    if (!layers.isEmpty()) {
        std::stable_sort(layers.begin(), layers.end());
        int clerks = 0;
        int judges = 0;
        int recorders = 0;
        for (Layer& layer : layers) {
            layer.visible = false;
            int* count = nullptr;
            int total = 0;
            if (layer.type == QLatin1String(Layer::Clerk)) {
                count = &clerks;
                total = Layer::nbAnnPub;
            } else if (layer.type == QLatin1String(Layer::Judge)) {
                count = &judges;
                total = Layer::nbAnnPriv;
            } else if (layer.type == QLatin1String(Layer::Recorder)) {
                count = &recorders;
                total = Layer::nbAnnProt;
            }
            if (!count)
                continue;
            layer.indexInType = (*count)++;
            layer.visible = *count == total;
        }
    }
    ui->comboBoxFiles->clear();
    for (const Layer& layer : layers) {
        const bool numbered = layer.indexInType != 0 && layer.type != QLatin1String(Layer::Recorder);
        const QString number = numbered ? QString::number(layer.indexInType) : QString();
        ui->comboBoxFiles->addItem(layer.name + QLatin1Char(' ') + number + QStringLiteral("\n ") + layer.source,
                                   layer.path);
    }
    ui->comboBoxFiles->addItem(QLatin1String(AddNewItem), QLatin1String(AddNewItem));
    emit annShowLayers(layers);
}

void Adnotacje::loadActivAnnotations()
{
    activAnnotations.clear();
    for (const CAdnotation& annotation : adnotations)
        if (isActivLayer(annotation.layerId) && annotation.visible)
            activAnnotations.append(annotation);
}

void Adnotacje::showAdnotations()
{
    QTableView* table = ui->tableAdnot;
    table->setCornerButtonEnabled(false);
    loadActivAnnotations();

    QStandardItemModel* previous = model;
    QItemSelectionModel* previousSelection = table->selectionModel();
    model = new QStandardItemModel(activAnnotations.size(), 3, this);
    model->setHorizontalHeaderLabels({QStringLiteral("Czas"), QStringLiteral("Adnotacja"), QStringLiteral("Prot.")});
    for (int i = 0; i < activAnnotations.size(); ++i) {
        activAnnotations[i].row = i;
        const QList<QStandardItem*> cells = rowCells(activAnnotations[i]);
        for (int column = 0; column < cells.size(); ++column)
            model->setItem(i, column, cells[column]);
    }
    table->setModel(model);
    // The view owns neither the model it replaced nor that model's selection.
    delete previousSelection;
    delete previous;

    table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    fitTimeColumn(table);
    table->setColumnWidth(2, 45);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setStyleSheet(QLatin1String(kTableStyle));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rowHeights->watchModel();
}

QList<QStandardItem*> Adnotacje::rowCells(const CAdnotation& annotation) const
{
    const QColor colour = getLayer(annotation.layerId).getColor();
    const QList<QStandardItem*> cells{new QStandardItem(annotation.timeText), new QStandardItem(annotation.text),
                                      new QStandardItem(QString())};
    cells[2]->setCheckState(annotation.isProtocol ? Qt::Checked : Qt::Unchecked);
    for (QStandardItem* cell : cells)
        cell->setData(colour, Qt::BackgroundRole);
    return cells;
}

void Adnotacje::insertAdnotation(CAdnotation record)
{
    // Where sorting the list with the record appended would put it.
    const int index = int(std::upper_bound(adnotations.begin(), adnotations.end(), record) - adnotations.begin());
    record.index = index;
    adnotations.insert(index, record);
    for (int i = index + 1; i < adnotations.size(); ++i)
        adnotations[i].index = i;
    for (CAdnotation& shown : activAnnotations)
        if (shown.index >= index)
            ++shown.index;
    if (!model || !isActivLayer(record.layerId) || !record.visible)
        return;
    const int row = int(std::upper_bound(activAnnotations.begin(), activAnnotations.end(), record) -
                        activAnnotations.begin());
    record.row = row;
    activAnnotations.insert(row, record);
    for (int i = row + 1; i < activAnnotations.size(); ++i)
        activAnnotations[i].row = i;
    model->insertRow(row, rowCells(record));
}

Layer Adnotacje::getLayer(int id) const
{
    for (const Layer& layer : layers)
        if (layer.id == id)
            return layer;
    return Layer();
}

Layer Adnotacje::getLayer(QString name) const
{
    const bool byPath = name.contains(QLatin1Char('/'));
    for (const Layer& layer : layers)
        if ((byPath ? layer.path : layer.fileName) == name)
            return layer;
    return Layer();
}

bool Adnotacje::isActivLayer(int id) const { return getLayer(id).visible; }

void Adnotacje::setActivLayer(int id, bool visible)
{
    for (Layer& layer : layers) {
        if (layer.id == id) {
            layer.visible = visible;
            return;
        }
    }
}

void Adnotacje::on_btFilter_clicked()
{
    const QString text = ui->lineEditAdnot->text();
    const QString timeText = ui->timeEdit->text();
    const qint64 timeMs = Duration::tfToMs(timeText);
    for (CAdnotation& annotation : adnotations)
        annotation.visible = true;
    if (!text.isEmpty())
        for (CAdnotation& annotation : adnotations)
            annotation.visible = isActivLayer(annotation.layerId) && annotation.text.contains(text);
    if (timeText != QLatin1String("00:00:00"))
        for (CAdnotation& annotation : adnotations)
            if (annotation.visible)
                annotation.visible = isActivLayer(annotation.layerId) && annotation.timeMs / 1000 * 1000 == timeMs;
    showAdnotations();
}

void Adnotacje::on_btFilterReset_clicked()
{
    resetFilterFields();
    for (CAdnotation& annotation : adnotations)
        annotation.visible = true;
    showAdnotations();
}

void Adnotacje::on_lineEditAdnot_returnPressed() { on_btFilter_clicked(); }

void Adnotacje::on_timeEdit_editingFinished() { on_btFilter_clicked(); }

bool Adnotacje::followHeld() const
{
    return !ui->frameAdnProp->isHidden() || QApplication::activePopupWidget() || QApplication::activeModalWidget() ||
           (lastTouch.isValid() && !lastTouch.hasExpired(FollowPauseMs));
}

void Adnotacje::spyAdnotations(qint64 pTime)
{
    lastPos = pTime;
    if (!spy || activAnnotations.isEmpty() || followHeld())
        return;
    const qint64 target = pTime + offsetMs;
    const auto next = std::find_if(activAnnotations.cbegin(), activAnnotations.cend(),
                                   [target](const CAdnotation& annotation) { return annotation.timeMs >= target; });
    if (next == activAnnotations.cend() || !isActivLayer(next->layerId) || !next->visible || next->row == 0)
        return;
    ui->tableAdnot->selectRow(next->row - 1);
}

void Adnotacje::on_tableAdnot_doubleClicked(QModelIndex index)
{
    if (index.row() >= 0 && index.row() < activAnnotations.size())
        emit annSeek(offsetMs + activAnnotations[index.row()].timeMs);
}

void Adnotacje::changeLayerVisible(int pNbLayer, bool pVisible)
{
    setActivLayer(pNbLayer, pVisible);
    showAdnotations();
}

void Adnotacje::changeOffset(int pOffset) { offsetMs = qint64(pOffset) * 1000; }

void Adnotacje::changeSpyOption(bool pSpy) { spy = pSpy; }

int Adnotacje::selectedRow() const
{
    const QItemSelectionModel* selection = ui->tableAdnot->selectionModel();
    if (!model || !selection)
        return -1;
    const QModelIndexList rows = selection->selectedRows();
    if (rows.isEmpty())
        return -1;
    const int row = rows.first().row();
    return row < activAnnotations.size() ? row : -1;
}

bool Adnotacje::actionTarget(CAdnotation& target) const
{
    if (menuTarget.layerId >= 0) {
        target = menuTarget;
        return true;
    }
    const int row = selectedRow();
    if (row < 0)
        return false;
    target = activAnnotations[row];
    return true;
}

void Adnotacje::on_tableAdnot_customContextMenuRequested(QPoint pos)
{
    if (!model || activAnnotations.isEmpty() || selectedRow() < 0)
        return;
    // Position reports may come while the menu is open: the actions work on
    // the annotation under the click, whatever is selected by then.
    const QModelIndex under = ui->tableAdnot->indexAt(pos);
    const int row = under.isValid() && under.row() < activAnnotations.size() ? under.row() : selectedRow();
    ui->tableAdnot->selectRow(row);
    menuTarget = activAnnotations[row];
    menuAnnonList.exec(ui->tableAdnot->viewport()->mapToGlobal(pos));
    menuTarget = CAdnotation();
}

void Adnotacje::cmalCopy_triggered()
{
    CAdnotation target;
    if (actionTarget(target))
        QApplication::clipboard()->setText(target.text, QClipboard::Clipboard);
}

void Adnotacje::cmalPrint_triggered()
{
    CAdnotation target;
    if (actionTarget(target))
        PlayerPrint(&target, annotationsDir, this).print();
}

void Adnotacje::printShown(bool toFile)
{
    if (activAnnotations.isEmpty()) {
        dialogs->information(window(), tr("Addnotacje"),
                             toFile ? utf8("Brak adnotacji do zapisu") : utf8("Brak adnotacji do wydruku"));
        return;
    }
    PlayerPrint print(activAnnotations, annotationsDir, this);
    if (toFile)
        print.toFile();
    else
        print.print();
}

void Adnotacje::on_btPrintAdn_clicked() { printShown(false); }

void Adnotacje::on_btSavePdfAdn_clicked() { printShown(true); }

void Adnotacje::setGuiFont(QFont font)
{
    ui->tableAdnot->setFont(font);
    ui->tableAdnot->setStyleSheet(QString());
    ui->tableAdnot->setStyleSheet(QLatin1String(kTableStyle));
    ui->tableAdnot->viewport()->update();
}

bool Adnotacje::editAnnonInProgress()
{
    if (ui->frameAdnProp->isHidden())
        return false;
    if (!dialogs->question(utf8("Trwa edycja adnotacji! Czy chcesz porzucić wprowadzane zmiany"), false))
        return true;
    ui->frameAdnProp->hide();
    return false;
}

void Adnotacje::on_comboBoxFiles_currentIndexChanged(int index)
{
    ui->comboBoxFiles->setToolTip(index < 0 ? QString() : ui->comboBoxFiles->itemData(index).toString());
}

// ---------------------------------------------------------------- writing

int Adnotacje::findAdnotation(int layerId, const QString& time, const QString& text) const
{
    for (int i = 0; i < adnotations.size(); ++i) {
        const CAdnotation& annotation = adnotations[i];
        if (annotation.layerId == layerId && annotation.time == time && annotation.text == text)
            return i;
    }
    return -1;
}

int Adnotacje::rowOfIndex(int index) const
{
    for (const CAdnotation& annotation : activAnnotations)
        if (annotation.index == index)
            return annotation.row;
    return -1;
}

bool Adnotacje::ensureWritable(QString& path, CAdnotation& record)
{
    if (!isAnnotationReadonly(path))
        return true;
    path = copyAnnotFile(path);
    if (path.isEmpty())
        return false;
    // The copy rebuilt the table: find the record again by what it is.
    const int found = findAdnotation(getLayer(path).id, record.time, record.text);
    if (found < 0) {
        dialogs->message(utf8("Nie odnaleziono adnotacji w kopii pliku."));
        return false;
    }
    record = adnotations[found];
    return true;
}

void Adnotacje::setFrameTime(const QString& timeText)
{
    ui->timeEdit2->setTime(QTime::fromString(timeText, QLatin1String(kTimeFormat)));
}

void Adnotacje::openFrame(bool editing, const QString& path, const QString& text, const QString& timeText)
{
    ui->frameAdnProp->show();
    ui->btSaveAddAdn->setVisible(!editing);
    ui->btSaveEditAdn->setVisible(editing);
    ui->lineEditFromFile->setText(path);
    ui->plainTextEditChangeAdn->setPlainText(text);
    setFrameTime(timeText);
}

void Adnotacje::on_btAddAdn_clicked()
{
    if (!model)
        return;
    QString path = ui->comboBoxFiles->currentData().toString();
    addTime = lastPos;
    if (isAnnotationReadonly(path)) {
        path = copyAnnotFile(path);
        if (path.isEmpty())
            return;
    }
    editTarget = CAdnotation();
    openFrame(false, path, QString(), Duration::msToTf(addTime));
}

void Adnotacje::on_btSaveAddAdn_clicked()
{
    if (!model)
        return;
    QString path = ui->lineEditFromFile->text();
    if (isAnnotationReadonly(path)) {
        path = copyAnnotFile(path);
        if (path.isEmpty())
            return;
        ui->lineEditFromFile->setText(path);
    }
    const Layer layer = getLayer(path);
    const CAdnotation record(Duration::msToIso(addTime),
                             AnnotationDocument::cleanText(ui->plainTextEditChangeAdn->toPlainText()),
                             QStringLiteral("false"), layer.id);
    if (layer.id < 0)
        failureReason = utf8(kNoSuchLayer).arg(path);
    if (layer.id < 0 || !addAnnotXML(record, path)) {
        dialogs->message(failureText("Nie udało się wstawić adnotacji."));
        return;
    }
    // The table takes the one new row: rebuilding it would take long with many.
    insertAdnotation(record);
    ui->frameAdnProp->hide();
}

void Adnotacje::on_btEditAdn_clicked()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    CAdnotation target = activAnnotations[row];
    ui->plainTextEditChangeAdn->setPlainText(target.text);
    setFrameTime(target.timeText);
    QString path = getLayer(target.layerId).path;
    if (!ensureWritable(path, target))
        return;
    editTarget = target;
    openFrame(true, path, target.text, target.timeText);
    const int shown = rowOfIndex(target.index);
    if (shown >= 0)
        ui->tableAdnot->selectRow(shown);
}

void Adnotacje::on_tableAdnot_clicked(QModelIndex index)
{
    if (ui->frameAdnProp->isHidden() || !ui->btSaveAddAdn->isHidden())
        return;
    if (index.row() < 0 || index.row() >= activAnnotations.size())
        return;
    const CAdnotation& annotation = activAnnotations[index.row()];
    const QString path = getLayer(annotation.layerId).path;
    if (isAnnotationReadonly(path)) {
        ui->frameAdnProp->hide();
        return;
    }
    editTarget = annotation;
    openFrame(true, path, annotation.text, annotation.timeText);
}

void Adnotacje::on_btSaveEditAdn_clicked()
{
    if (!model || editTarget.layerId < 0)
        return;
    CAdnotation target = editTarget;
    QString path = getLayer(target.layerId).path;
    if (path.isEmpty()) {
        failureReason = utf8(kNoSuchLayer).arg(path);
        dialogs->message(failureText("Nie udało się zmodyfikować adnotacji."));
        return;
    }
    const QString newText = AnnotationDocument::cleanText(ui->plainTextEditChangeAdn->toPlainText());
    // The layer may have become read-only since the frame opened.
    if (!ensureWritable(path, target))
        return;
    editTarget = target;
    ui->lineEditFromFile->setText(path);
    const CAdnotation changed(target.time, newText, target.protocol, target.layerId);
    const int found = findAdnotation(target.layerId, target.time, target.text);
    if (found < 0)
        failureReason = utf8(kGoneFromFile);
    if (found < 0 || !editAnnotXML(changed, target, path)) {
        dialogs->message(failureText("Nie udało się zmodyfikować adnotacji."));
        return;
    }
    adnotations[found].setText(newText);
    const int row = rowOfIndex(found);
    if (row >= 0) {
        activAnnotations[row].setText(newText);
        model->setData(model->index(row, 1), newText, Qt::EditRole);
    }
    editTarget = CAdnotation();
    ui->frameAdnProp->hide();
}

void Adnotacje::on_btDiscardAdn_clicked() { ui->frameAdnProp->hide(); }

void Adnotacje::cmalDelete_triggered()
{
    CAdnotation target;
    if (!actionTarget(target))
        return;
    QString path = getLayer(target.layerId).path;
    if (!ensureWritable(path, target))
        return;
    // The question names the annotation, so that the user sees which one goes.
    const int kShownChars = 40;
    QString start = target.text.simplified();
    if (start.size() > kShownChars)
        start = start.left(kShownChars) + QChar(0x2026);
    if (!dialogs->question(utf8("Czy na pewno usunąć adnotację %1 „%2”?").arg(target.timeText, start), true))
        return;
    const int index = findAdnotation(target.layerId, target.time, target.text);
    if (index < 0)
        failureReason = utf8(kGoneFromFile);
    // The file first: memory follows only what the file really holds.
    if (index < 0 || !delAnnotXML(target, path)) {
        dialogs->message(failureText("Nie udało się usunąć adnotacji."));
        return;
    }
    const int shown = rowOfIndex(index);
    adnotations.removeAt(index);
    for (int i = index; i < adnotations.size(); ++i)
        adnotations[i].index = i;
    if (shown >= 0) {
        activAnnotations.removeAt(shown);
        model->removeRow(shown);
    }
    for (CAdnotation& annotation : activAnnotations) {
        if (annotation.index > index)
            --annotation.index;
        if (shown >= 0 && annotation.row > shown)
            --annotation.row;
    }
}

void Adnotacje::on_comboBoxFiles_activated(QString arg1)
{
    if (arg1 != QLatin1String(AddNewItem) || annotationsDir.isEmpty())
        return;
    ui->comboBoxFiles->setCurrentIndex(0);
    const QString name = dialogs->saveFileName(this, utf8("Nowy plik adnotacji"), proposedFileName(),
                                               QLatin1String(kFilter));
    if (name.isEmpty())
        return;
    if (createNewAnnotationsFile(name))
        loadAdnotationsFile(name, true);
}
