#include "Annotations/Layer.h"

int Layer::nbAnnPub = 0;
int Layer::nbAnnPriv = 0;
int Layer::nbAnnProt = 0;

const char* const Layer::Clerk = "clerk";
const char* const Layer::Judge = "judge";
const char* const Layer::Recorder = "protokolant";

Layer::Layer() = default;

Layer::Layer(int id, QString path) : id(id), visible(true), path(path)
{
    fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name = fileName.section(QLatin1Char('.'), 0, 0);
}

QString Layer::setLayerType(QString copyOf, QString layerPath)
{
    struct Rule {
        bool applies;
        const char* type;
        const char* name;
        int order;
        int* counter;
    };
    const bool copy = !copyOf.isEmpty();
    const Rule rules[] = {
        {copy && copyOf.contains(QLatin1String(Clerk)), Clerk, "Adnotacje publiczne (kopia)", 11, &nbAnnPub},
        {copy && copyOf.contains(QLatin1String(Judge)), Judge, "Adnotacje prywatne (kopia)", 21, &nbAnnPriv},
        {layerPath.contains(QLatin1String("-clerk")), Clerk, "Adnotacje publiczne", 10, &nbAnnPub},
        {layerPath.contains(QLatin1String("-judge")), Judge, "Adnotacje prywatne", 20, &nbAnnPriv},
        {true, Recorder, nullptr, 30, &nbAnnProt},
    };
    for (const Rule& rule : rules) {
        if (!rule.applies)
            continue;
        type = QLatin1String(rule.type);
        typeOrder = rule.order;
        source = rule.order % 10 == 1 ? copyOf : layerPath;
        if (rule.name)
            name = QString::fromUtf8(rule.name);
        indexInType = (*rule.counter)++;
        break;
    }
    return name;
}

QColor Layer::getColor()
{
    static const int palette[3][5][3] = {
        {{246, 245, 227}, {251, 237, 228}, {253, 220, 203}, {222, 181, 159}, {194, 145, 115}},
        {{204, 245, 179}, {170, 222, 140}, {134, 194, 96}, {106, 179, 61}, {113, 150, 96}},
        {{243, 229, 252}, {219, 197, 235}, {213, 177, 239}, {200, 153, 233}, {169, 153, 179}},
    };
    int kind = -1;
    if (type == QLatin1String(Clerk))
        kind = 0;
    else if (type == QLatin1String(Judge))
        kind = 1;
    else if (type == QLatin1String(Recorder))
        kind = 2;
    if (kind < 0)
        return color;
    const int column = indexInType >= 0 && indexInType < 4 ? indexInType : 4;
    const int* rgb = palette[kind][column];
    color = QColor(rgb[0], rgb[1], rgb[2]);
    return color;
}

bool Layer::operator<(const Layer& other) const
{
    if (typeOrder != other.typeOrder)
        return typeOrder < other.typeOrder;
    return created < other.created;
}
