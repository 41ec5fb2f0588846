// Null-marker removal and the guarded store.

#include "VantleDictionary.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestVantleDictionary : public QObject {
    Q_OBJECT

private slots:
    // Values that only look empty are values, not markers, and stay.
    void removesOnlyNullMarkersAtEveryDepth() {
        const QVariant null = QVariant::fromValue(nullptr);
        const QVariantMap inner{{u"gone"_s, null}, {u"kept"_s, 1}};
        const QVariantMap cleaned{{u"kept"_s, 1}};
        QVariantMap receiver{
            {u"empty text"_s, QString()}, {u"invalid"_s, QVariant()}, {u"empty list"_s, QVariantList()}};
        QVariantMap expected = receiver;
        receiver.insert({{u"null"_s, null},
                         {u"deep"_s, QVariantMap{{u"inner"_s, inner}}},
                         {u"list"_s, QVariantList{null, u"x"_s, inner, QVariantList{null, 2}}}});
        expected.insert({{u"deep"_s, QVariantMap{{u"inner"_s, cleaned}}},
                         {u"list"_s, QVariantList{u"x"_s, cleaned, QVariantList{2}}}});
        QCOMPARE(vt_removeNSNullValues(receiver), expected);
    }

    void storesGuarded() {
        QVariantMap dictionary{{u"out"_s, u"old"_s}};
        vt_setObject(dictionary, u"new"_s, u"out"_s);
        QCOMPARE(dictionary.value(u"out"_s), QVariant(u"new"_s));
        vt_setObject(dictionary, 3, std::nullopt);
        QCOMPARE(dictionary.keys(), QStringList{u"out"_s});
        vt_setObject(dictionary, QVariant(), u"out"_s);
        QVERIFY(dictionary.isEmpty());
        vt_setObject(dictionary, QVariant::fromValue(nullptr), u"marker"_s);
        QVERIFY(vt_isNullMarker(dictionary.value(u"marker"_s)));
    }
};

QTEST_GUILESS_MAIN(TestVantleDictionary)
#include "tst_vantledictionary.moc"
