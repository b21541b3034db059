// Any bytes as an annotation file: a load and a read for a change agree, every
// loaded annotation can be found again for an edit or a delete, and a rewrite
// reads back as the same annotations.

#include "Annotations/AnnotationDocument.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using Entries = QVector<AnnotationDocument::Entry>;

void fail(const char* what)
{
    std::fprintf(stderr, "annotation store: %s\n", what);
    std::abort();
}

// The annotations as the tree's accessors see them.
Entries treeEntries(const AnnotationDocument& doc)
{
    Entries entries;
    const QString name = QStringLiteral("Annotation");
    for (QDomElement element = doc.root().firstChildElement(name); !element.isNull();
         element = element.nextSiblingElement(name))
        entries.append({AnnotationDocument::timeOf(element),
                        AnnotationDocument::childText(element, QStringLiteral("Text")),
                        AnnotationDocument::childText(element, QStringLiteral("Protocol"))});
    return entries;
}

bool same(const Entries& a, const Entries& b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (a[i].time != b[i].time || a[i].text != b[i].text || a[i].protocol != b[i].protocol)
            return false;
    return true;
}

bool sameRoot(const AnnotationDocument& a, const AnnotationDocument& b)
{
    for (const char* name : {"Created", "copyOf"})
        if (a.rootAttribute(QLatin1String(name)) != b.rootAttribute(QLatin1String(name)))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    AnnotationDocument load;
    AnnotationDocument tree;
    const AnnotationDocument::Status loaded = load.parse(bytes, AnnotationDocument::Content);
    if (tree.parse(bytes, AnnotationDocument::Tree) != loaded)
        fail("a load and a read for a change disagree on the file");
    if (loaded != AnnotationDocument::Ok)
        return 0;
    if (!same(load.entries(), treeEntries(tree)) || !sameRoot(load, tree))
        fail("a load and a read for a change see different annotations");
    for (const AnnotationDocument::Entry& entry : load.entries())
        if (tree.findAnnotation(entry.time, entry.text).isNull())
            fail("a loaded annotation cannot be found for an edit");

    const QByteArray written = tree.serialize();
    if (written.isNull())
        return 0; // not decoded exactly: never rewritten
    AnnotationDocument again;
    if (again.parse(written, AnnotationDocument::Content) != AnnotationDocument::Ok)
        fail("a rewrite does not read back");
    if (!same(load.entries(), again.entries()) || !sameRoot(load, again))
        fail("a rewrite reads back as other annotations");
    return 0;
}
