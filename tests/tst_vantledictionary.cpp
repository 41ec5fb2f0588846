// Null-marker removal and the guarded store.

#include "VantleDictionary.h"

#include <QTest>

namespace {

const QVariant kNull = QVariant::fromValue(nullptr);

} // namespace

class TestVantleDictionary : public QObject {
    Q_OBJECT

private slots:
    void removesNullMarkersAtEveryDepth();
    void keepsOtherValues();
    void storesGuarded();
};

void TestVantleDictionary::removesNullMarkersAtEveryDepth() {
    const QVariantMap inner{{QStringLiteral("gone"), kNull}, {QStringLiteral("kept"), 1}};
    const QVariantList list{kNull, QStringLiteral("x"), inner, QVariantList{kNull, 2}};
    const QVariantMap receiver{{QStringLiteral("null"), kNull},
                               {QStringLiteral("inner"), inner},
                               {QStringLiteral("deep"), QVariantMap{{QStringLiteral("inner"), inner}}},
                               {QStringLiteral("list"), list}};
    const QVariantMap before = receiver;

    const QVariantMap cleanedInner{{QStringLiteral("kept"), 1}};
    const QVariantMap expected{
        {QStringLiteral("inner"), cleanedInner},
        {QStringLiteral("deep"), QVariantMap{{QStringLiteral("inner"), cleanedInner}}},
        {QStringLiteral("list"), QVariantList{QStringLiteral("x"), cleanedInner, QVariantList{2}}}};
    QCOMPARE(vt_removeNSNullValues(receiver), expected);
    QCOMPARE(receiver, before);
}

void TestVantleDictionary::keepsOtherValues() {
    const QVariantMap receiver{{QStringLiteral("text"), QStringLiteral("t")},
                               {QStringLiteral("empty text"), QString()},
                               {QStringLiteral("number"), 0},
                               {QStringLiteral("bytes"), QByteArray("\0", 1)},
                               {QStringLiteral("invalid"), QVariant()},
                               {QStringLiteral("empty list"), QVariantList()}};
    QCOMPARE(vt_removeNSNullValues(receiver), receiver);
    QCOMPARE(vt_removeNSNullValues({}), QVariantMap());
    QVERIFY(vt_isNullMarker(kNull));
    QVERIFY(!vt_isNullMarker(QVariant()));
    QVERIFY(!vt_isNullMarker(QString()));
}

void TestVantleDictionary::storesGuarded() {
    QVariantMap dictionary{{QStringLiteral("out"), QStringLiteral("old")}};
    vt_setObject(dictionary, QStringLiteral("new"), QStringLiteral("out"));
    QCOMPARE(dictionary.value(QStringLiteral("out")), QVariant(QStringLiteral("new")));
    vt_setObject(dictionary, 3, std::nullopt);
    QCOMPARE(dictionary.size(), 1);
    vt_setObject(dictionary, QVariant(), QStringLiteral("missing"));
    QCOMPARE(dictionary.size(), 1);
    vt_setObject(dictionary, QVariant(), QStringLiteral("out"));
    QVERIFY(dictionary.isEmpty());
    vt_setObject(dictionary, kNull, QStringLiteral("marker"));
    QVERIFY(vt_isNullMarker(dictionary.value(QStringLiteral("marker"))));
}

QTEST_GUILESS_MAIN(TestVantleDictionary)
#include "tst_vantledictionary.moc"
