#pragma once

#include <QColor>
#include <QList>
#include <QMetaType>
#include <QString>

// One annotation file opened as a layer: its kind, display name, number
// within its kind, row colour, paths and creation time.
class Layer {
public:
    Layer();
    Layer(int id, QString path);

    // Types the layer by its copyOf attribute, else by its path, takes its
    // number from the kind's counter, and returns its display name.
    QString setLayerType(QString copyOf, QString path);
    QColor getColor();

    // Kind order, then oldest first.
    bool operator<(const Layer& other) const;

    int id = -1;
    int indexInType = -1;
    int typeOrder = 0;
    bool visible = false;
    QString name;
    QColor color;
    QString type; // "clerk", "judge" or "protokolant"
    QString fileName;
    QString path;
    QString source;     // the first file of a copy chain, else path
    qint64 created = 0; // seconds since 1970 UTC

    // Hand out indexInType per kind; reset when the panel clears its layers.
    static int nbAnnPub;
    static int nbAnnPriv;
    static int nbAnnProt;

    static const char* const Clerk;
    static const char* const Judge;
    static const char* const Recorder;
};

Q_DECLARE_METATYPE(Layer)
Q_DECLARE_METATYPE(QList<Layer>)
