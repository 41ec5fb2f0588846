// Decoding a stream piece by piece must give exactly the text of decoding all of it at once,
// wherever the pieces are cut.

#include "Platform/VTStreamDecoder.h"
#include "VantleString.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString decodedInPieces(const QByteArray& bytes, const QList<qsizetype>& pieceSizes) {
    VTStreamDecoder decoder;
    qsizetype at = 0;
    for (qsizetype i = 0; at < bytes.size(); ++i) {
        const qsizetype size = qMin(pieceSizes.at(i % pieceSizes.size()), bytes.size() - at);
        decoder.append(QByteArrayView(bytes).sliced(at, size));
        at += size;
    }
    return decoder.finish();
}

// Every way of cutting the bytes into two pieces, single bytes, and a few uneven patterns.
QList<QList<qsizetype>> cuttings(qsizetype length) {
    QList<QList<qsizetype>> result = {{1}, {2}, {3}, {5, 1}, {7, 2, 1}, {qMax<qsizetype>(length, 1)}};
    for (qsizetype cut = 1; cut < length; ++cut)
        result.append({cut, length});
    return result;
}

// A random mixture of characters of every UTF-8 length and runs of ASCII longer than the decoder's
// blocks, now and then a byte that breaks UTF-8.
QByteArray randomBytes(QRandomGenerator& random, qsizetype characters, bool withBreaks) {
    static const QStringList kCharacters =
        u"a|\u00e9|\u20ac|\U0001F600|\uFEFF|\n|the quick brown fox jumps 0123"_s.split(u'|');
    QByteArray bytes;
    if (random.bounded(4) == 0)
        bytes += "\xEF\xBB\xBF";
    for (qsizetype i = 0; i < characters; ++i) {
        if (withBreaks && random.bounded(200) == 0)
            bytes += static_cast<char>(0x80 + random.bounded(0x80));
        else
            bytes += kCharacters.at(random.bounded(kCharacters.size())).toUtf8();
    }
    return bytes;
}

} // namespace

class TestVTStreamDecoder : public QObject {
    Q_OBJECT

private slots:
    void piecesGiveTheWholeText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QString mixed = QStringLiteral("a\u00e9\u20ac\U0001F600z");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("characters of every length") << mixed.toUtf8() << mixed;
        QTest::newRow("byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << QString();
        QTest::newRow("byte-order mark dropped once")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx") << QStringLiteral("\uFEFFx");
        const QByteArray broken = "\xEF\xBB\xBF" + mixed.toUtf8() + "\xFF";
        QTest::newRow("invalid byte late, after a mark: all Latin-1")
            << broken << QString::fromLatin1(broken);
        QTest::newRow("character cut off by the end")
            << QByteArray("ok \xE2\x82") << QStringLiteral("ok \u00E2\u0082");
        QTest::newRow("beyond U+10FFFF")
            << QByteArray("\xF4\x90\x80\x80") << QStringLiteral("\u00F4\u0090\u0080\u0080");
        QTest::newRow("NUL bytes") << QByteArray(5, '\0') << QString(5, QChar(0));
    }
    void piecesGiveTheWholeText() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(vt_utf8stringWithData(bytes).value(), expected);
        for (const QList<qsizetype>& pieces : cuttings(bytes.size()))
            QCOMPARE(decodedInPieces(bytes, pieces), expected);
    }

    // Random texts, some broken, cut at random: a fault in carrying a cut character, in dropping the
    // mark or in widening the text in place shows up as a difference.
    void randomPiecesGiveTheWholeText() {
        QRandomGenerator random(20261206);
        for (int round = 0; round < 300; ++round) {
            const QByteArray bytes = randomBytes(random, random.bounded(1, 400), round % 2 == 1);
            const QList<qsizetype> pieces = {random.bounded(1, 9), random.bounded(1, 70),
                                             random.bounded(1, 4)};
            QCOMPARE(decodedInPieces(bytes, pieces), vt_utf8stringWithData(bytes).value());
        }
    }

    void countsBytesAndStartsAfreshAfterFinish() {
        VTStreamDecoder decoder;
        decoder.append("\xFF");
        QCOMPARE(decoder.byteCount(), 1);
        QCOMPARE(decoder.finish(), QStringLiteral("\u00FF"));
        QCOMPARE(decoder.byteCount(), 0);
        decoder.append("\xEF\xBB\xBF\xC3");
        decoder.append("\xA9");
        QCOMPARE(decoder.byteCount(), 5);
        QCOMPARE(decoder.finish(), QStringLiteral("\u00E9"));
    }
};

QTEST_GUILESS_MAIN(TestVTStreamDecoder)
#include "tst_vtstreamdecoder.moc"
