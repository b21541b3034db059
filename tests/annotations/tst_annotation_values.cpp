// Time texts, annotation records and layers.

#include "Annotations/CAdnotation.h"
#include "Annotations/Duration.h"
#include "Annotations/Layer.h"

#include <QtTest>
#include <algorithm>

class TestAnnotationValues : public QObject {
    Q_OBJECT

private slots:
    void init() { Layer::nbAnnPub = Layer::nbAnnPriv = Layer::nbAnnProt = 0; }

    void msToTf_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("tf");
        QTest::newRow("zero") << qint64(0) << "00:00:00";
        QTest::newRow("1h2m3s") << qint64(3723000) << "01:02:03";
        QTest::newRow("25 hours wrap") << qint64(90000000) << "01:00:00";
        QTest::newRow("24 hours wrap") << qint64(86400000) << "00:00:00";
        QTest::newRow("ms cut off") << qint64(999) << "00:00:00";
        QTest::newRow("23:59:59") << qint64(86399999) << "23:59:59";
        QTest::newRow("negative") << qint64(-5000) << "00:00:00";
        QTest::newRow("past 32 bits") << qint64(5000000000LL) << Duration::msToTf(5000000000LL % 86400000);
    }
    void msToTf()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, tf);
        QCOMPARE(Duration::msToTf(ms), tf);
    }

    void tfToMs_data()
    {
        QTest::addColumn<QString>("tf");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("1h2m3s") << "01:02:03" << qint64(3723000);
        QTest::newRow("over range minutes") << "00:75:00" << qint64(4500000);
        QTest::newRow("blanks around fields") << " 01 : 02 : 03 " << qint64(3723000);
        QTest::newRow("not a number") << "xx:01:02" << qint64(62000);
        QTest::newRow("empty fields") << "::05" << qint64(5000);
        QTest::newRow("two fields") << "01:02" << qint64(3720000);
        QTest::newRow("one field") << "7" << qint64(25200000);
        QTest::newRow("big hours in 64 bits") << "1000000:00:00" << qint64(3600000000000LL);
    }
    void tfToMs()
    {
        QFETCH(QString, tf);
        QFETCH(qint64, ms);
        QCOMPARE(Duration::tfToMs(tf), ms);
    }

    void msToIso_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("iso");
        QTest::newRow("zero") << qint64(0) << "PT0.0S";
        QTest::newRow("5 ms") << qint64(5) << "PT0.0S";
        QTest::newRow("1 s") << qint64(1000) << "PT1S";
        QTest::newRow("1.05 s") << qint64(1050) << "PT1.05S";
        QTest::newRow("1.5 s") << qint64(1500) << "PT1.50S";
        QTest::newRow("0.5 s") << qint64(500) << "PT0.50S";
        QTest::newRow("1 min") << qint64(60000) << "PT1M";
        QTest::newRow("1m0.5s") << qint64(60500) << "PT1M0.50S";
        QTest::newRow("1h2m3.45s") << qint64(3723450) << "PT1H2M3.45S";
        QTest::newRow("1.005 s") << qint64(1005) << "PT1S";
        QTest::newRow("1.009 s") << qint64(1009) << "PT1S";
        QTest::newRow("24 hours") << qint64(86400000) << "PT0.0S";
        QTest::newRow("25 hours") << qint64(90000000) << "PT1H";
        QTest::newRow("negative") << qint64(-1500) << "PT0.0S";
    }
    void msToIso()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, iso);
        QCOMPARE(Duration::msToIso(ms), iso);
    }

    void isoToMs_data()
    {
        QTest::addColumn<QString>("iso");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("no P") << "1H" << qint64(0);
        QTest::newRow("lower p") << "pt1s" << qint64(0);
        QTest::newRow("clock text") << "00:00:00" << qint64(0);
        QTest::newRow("bare PT") << "PT" << qint64(0);
        QTest::newRow("PT0.0S") << "PT0.0S" << qint64(0);
        QTest::newRow("one fraction digit") << "PT1.5S" << qint64(1500);
        QTest::newRow("two fraction digits") << "PT1.05S" << qint64(1050);
        QTest::newRow("three fraction digits") << "PT1.005S" << qint64(1005);
        QTest::newRow("long fraction") << "PT1.5000S" << qint64(1500);
        QTest::newRow("1h2m3.45s") << "PT1H2M3.45S" << qint64(3723450);
        QTest::newRow("90 minutes") << "PT90M" << qint64(5400000);
        QTest::newRow("75 minutes") << "PT75M" << qint64(4500000);
        QTest::newRow("day not counted") << "P1DT2H" << qint64(7200000);
        QTest::newRow("months and minutes") << "P1MT3M" << qint64(180000);
        QTest::newRow("years") << "P2Y3M4DT5S" << qint64(5000);
        QTest::newRow("not a number") << "PTxH5S" << qint64(5000);
        QTest::newRow("no wrap") << "PT25H" << qint64(90000000);
        QTest::newRow("past 32 bits") << "PT1000H" << qint64(3600000000LL);
    }
    void isoToMs()
    {
        QFETCH(QString, iso);
        QFETCH(qint64, ms);
        QCOMPARE(Duration::isoToMs(iso), ms);
    }

    void isoToTf_data()
    {
        QTest::addColumn<QString>("iso");
        QTest::addColumn<QString>("tf");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("no P") << "1H"
                              << "";
        QTest::newRow("1h2m3.45s") << "PT1H2M3.45S"
                                   << "01:02:03";
        QTest::newRow("PT0.0S") << "PT0.0S"
                                << "00:00:00";
        QTest::newRow("5 s") << "PT5S"
                             << "00:00:05";
        QTest::newRow("75 minutes kept") << "PT75M"
                                         << "00:75:00";
        QTest::newRow("100 hours kept") << "PT100H"
                                        << "100:00:00";
        QTest::newRow("bare PT") << "PT"
                                 << "00:00:00";
    }
    void isoToTf()
    {
        QFETCH(QString, iso);
        QFETCH(QString, tf);
        QCOMPARE(Duration::isoToTf(iso), tf);
    }

    void roundTrip()
    {
        for (qint64 ms = 0; ms < 86400000; ms += 997 * 61 + 13) {
            const QString iso = Duration::msToIso(ms);
            QCOMPARE(Duration::isoToMs(iso), ms - ms % 10);
            QCOMPARE(Duration::isoToTf(iso), Duration::msToTf(ms));
        }
    }

    void record()
    {
        const CAdnotation a(QStringLiteral("PT1H2M3.45S"), QStringLiteral("tekst"), QStringLiteral("TRUE"), 3);
        QCOMPARE(a.timeMs, qint64(3723450));
        QCOMPARE(a.timeText, QStringLiteral("01:02:03"));
        QCOMPARE(a.time, QStringLiteral("PT1H2M3.45S"));
        QVERIFY(a.isProtocol);
        QCOMPARE(a.layerId, 3);
        QVERIFY(a.visible);
        QCOMPARE(a.row, -1);
        QCOMPARE(a.index, -1);

        for (const char* yes : {"true", "True", "tRuE"})
            QVERIFY(CAdnotation(QString(), QString(), QLatin1String(yes), 1).isProtocol);
        for (const char* no : {"yes", "1", "", "false"})
            QVERIFY(!CAdnotation(QString(), QString(), QLatin1String(no), 1).isProtocol);

        const CAdnotation empty(QString(), QStringLiteral("x"), QStringLiteral("false"), 1);
        QCOMPARE(empty.timeMs, qint64(0));
        QCOMPARE(empty.timeText, QString());

        CAdnotation edited = a;
        edited.setText(QStringLiteral("nowy"));
        QCOMPARE(edited.text, QStringLiteral("nowy"));
        QCOMPARE(edited.time, a.time);
        QCOMPARE(edited.timeMs, a.timeMs);
        QCOMPARE(edited.timeText, a.timeText);
    }

    void recordOrder()
    {
        QList<CAdnotation> list{
            CAdnotation(QStringLiteral("PT5S"), QStringLiteral("c"), QString(), 2),
            CAdnotation(QStringLiteral("PT5S"), QStringLiteral("b"), QString(), 1),
            CAdnotation(QStringLiteral("PT1S"), QStringLiteral("a"), QString(), 9),
        };
        std::sort(list.begin(), list.end());
        QCOMPARE(list[0].text, QStringLiteral("a"));
        QCOMPARE(list[1].text, QStringLiteral("b"));
        QCOMPARE(list[2].text, QStringLiteral("c"));
        const CAdnotation x(QStringLiteral("PT5S"), QStringLiteral("x"), QString(), 1);
        const CAdnotation y(QStringLiteral("PT5S"), QStringLiteral("y"), QString(), 1);
        QVERIFY(!(x < y) && !(y < x));
    }

    void layerFromPath()
    {
        const Layer none;
        QCOMPARE(none.id, -1);
        QCOMPARE(none.indexInType, -1);
        QCOMPARE(none.typeOrder, 0);
        QVERIFY(!none.visible);
        QVERIFY(!none.color.isValid());
        QVERIFY(none.type.isEmpty() && none.path.isEmpty() && none.source.isEmpty());

        Layer clerk(4, QStringLiteral("C:/rec/2015-01-01-clerk.xml"));
        QCOMPARE(clerk.id, 4);
        QCOMPARE(clerk.fileName, QStringLiteral("2015-01-01-clerk.xml"));
        QCOMPARE(clerk.name, QStringLiteral("2015-01-01-clerk"));
        QVERIFY(clerk.visible);
        QVERIFY(clerk.type.isEmpty());
        QCOMPARE(clerk.setLayerType(QString(), clerk.path), QStringLiteral("Adnotacje publiczne"));
        QCOMPARE(clerk.type, QStringLiteral("clerk"));
        QCOMPARE(clerk.typeOrder, 10);
        QCOMPARE(clerk.source, clerk.path);
        QCOMPARE(clerk.indexInType, 0);

        const Layer bare(1, QStringLiteral("plik"));
        QCOMPARE(bare.fileName, QStringLiteral("plik"));
        QCOMPARE(bare.name, QStringLiteral("plik"));
        const Layer backslash(1, QStringLiteral("C:\\rec\\a.b.xml"));
        QCOMPARE(backslash.fileName, QStringLiteral("C:\\rec\\a.b.xml"));
        QCOMPARE(backslash.name, QStringLiteral("C:\\rec\\a"));
    }

    void layerTypes_data()
    {
        QTest::addColumn<QString>("copyOf");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("source");
        QTest::newRow("public copy") << "/r/a-clerk.xml"
                                     << "/r/b-judge.xml"
                                     << "clerk"
                                     << "Adnotacje publiczne (kopia)" << 11 << "/r/a-clerk.xml";
        QTest::newRow("private copy") << "/r/a-judge.xml"
                                      << "/r/b.xml"
                                      << "judge"
                                      << "Adnotacje prywatne (kopia)" << 21 << "/r/a-judge.xml";
        QTest::newRow("copy word without dash") << "/r/clerkish.xml"
                                                << "/r/b.xml"
                                                << "clerk"
                                                << "Adnotacje publiczne (kopia)" << 11 << "/r/clerkish.xml";
        QTest::newRow("public") << ""
                                << "/r/x-clerk.xml"
                                << "clerk"
                                << "Adnotacje publiczne" << 10 << "/r/x-clerk.xml";
        QTest::newRow("private") << ""
                                 << "/r/x-judge.xml"
                                 << "judge"
                                 << "Adnotacje prywatne" << 20 << "/r/x-judge.xml";
        QTest::newRow("recorder") << ""
                                  << "/r/x.y.xml"
                                  << "protokolant"
                                  << "x" << 30 << "/r/x.y.xml";
        QTest::newRow("copy of recorder file") << "/r/rec.xml"
                                               << "/r/copy-judge.xml"
                                               << "judge"
                                               << "Adnotacje prywatne" << 20 << "/r/copy-judge.xml";
        QTest::newRow("case-sensitive") << "/r/CLERK.xml"
                                        << "/r/x-Clerk.xml"
                                        << "protokolant"
                                        << "x-Clerk" << 30 << "/r/x-Clerk.xml";
    }
    void layerTypes()
    {
        QFETCH(QString, copyOf);
        QFETCH(QString, path);
        Layer layer(1, path);
        QTEST(layer.setLayerType(copyOf, path), "name");
        QTEST(layer.name, "name");
        QTEST(layer.type, "type");
        QTEST(layer.typeOrder, "order");
        QTEST(layer.source, "source");
        QCOMPARE(layer.indexInType, 0);
    }

    void countersAndColours()
    {
        QList<QColor> clerkColours;
        for (int i = 0; i < 6; ++i) {
            Layer layer(i + 1, QStringLiteral("/r/%1-clerk.xml").arg(i));
            layer.setLayerType(QString(), layer.path);
            QCOMPARE(layer.indexInType, i);
            clerkColours << layer.getColor();
            QCOMPARE(layer.color, clerkColours.last());
        }
        QCOMPARE(Layer::nbAnnPub, 6);
        QCOMPARE(Layer::nbAnnPriv, 0);
        QCOMPARE(clerkColours[0], QColor(246, 245, 227));
        QCOMPARE(clerkColours[1], QColor(251, 237, 228));
        QCOMPARE(clerkColours[2], QColor(253, 220, 203));
        QCOMPARE(clerkColours[3], QColor(222, 181, 159));
        QCOMPARE(clerkColours[4], QColor(194, 145, 115));
        QCOMPARE(clerkColours[5], QColor(194, 145, 115));

        Layer judge(1, QStringLiteral("/r/a-judge.xml"));
        judge.setLayerType(QString(), judge.path);
        QCOMPARE(judge.getColor(), QColor(204, 245, 179));
        judge.indexInType = 3;
        QCOMPARE(judge.getColor(), QColor(106, 179, 61));
        judge.indexInType = -2;
        QCOMPARE(judge.getColor(), QColor(113, 150, 96));

        Layer rec(1, QStringLiteral("/r/a.xml"));
        rec.setLayerType(QString(), rec.path);
        rec.setLayerType(QString(), rec.path);
        QCOMPARE(rec.indexInType, 1);
        QCOMPARE(Layer::nbAnnProt, 2);
        QCOMPARE(rec.getColor(), QColor(219, 197, 235));
        rec.indexInType = 2;
        QCOMPARE(rec.getColor(), QColor(213, 177, 239));
        rec.indexInType = 4;
        QCOMPARE(rec.getColor(), QColor(169, 153, 179));

        Layer untyped(1, QStringLiteral("/r/a.xml"));
        QVERIFY(!untyped.getColor().isValid());
        untyped.color = Qt::red;
        QCOMPARE(untyped.getColor(), QColor(Qt::red));
    }

    void layerOrder()
    {
        Layer pub(1, QStringLiteral("/r/a-clerk.xml"));
        pub.setLayerType(QString(), pub.path);
        pub.created = 200;
        Layer priv(2, QStringLiteral("/r/a-judge.xml"));
        priv.setLayerType(QString(), priv.path);
        priv.created = 100;
        Layer pubCopy(3, QStringLiteral("/r/c.xml"));
        pubCopy.setLayerType(QStringLiteral("/r/a-clerk.xml"), pubCopy.path);
        pubCopy.created = 50;
        Layer late(4, QStringLiteral("/r/b-clerk.xml"));
        late.setLayerType(QString(), late.path);
        late.created = 4102444800LL; // 2100: past 32 bits
        Layer early(5, QStringLiteral("/r/e-clerk.xml"));
        early.setLayerType(QString(), early.path);
        early.created = -10;
        QList<Layer> layers{priv, late, pubCopy, pub, early};
        std::sort(layers.begin(), layers.end());
        QList<int> ids;
        for (const Layer& layer : layers)
            ids << layer.id;
        QCOMPARE(ids, (QList<int>{5, 1, 4, 3, 2}));
    }
};

QTEST_GUILESS_MAIN(TestAnnotationValues)
#include "tst_annotation_values.moc"
