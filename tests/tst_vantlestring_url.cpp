// Taking addresses apart: the cases that break in practice (ports, user information, non-BMP text,
// lone surrogates, a Turkish locale) and the first-match order of the suffix table.

#include "VantleString.h"
#include "VantleTLDs.h"
#include "reference/LiteralTLDWalk.h"
#include "support/TestSupport.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using Function = QString (*)(const QString&);

QString orAbsent(const std::optional<QString>& s) {
    return s.value_or(u"(absent)"_s);
}

const QMap<QString, Function> kFunctions = {
    {u"uri"_s, vt_stringByExtractingURI},
    {u"full"_s, vt_stringByExtractingFullDomain},
    {u"hostPort"_s, vt_stringByExtractingHostAndPort},
    {u"ip"_s, [](const QString& s) { return vt_isIPAddress(s) ? u"yes"_s : u"no"_s; }},
    {u"domain"_s, vt_stringByExtracting2ndTLD},
    {u"title"_s, vt_urlAsLoginTitle},
    {u"protocol"_s, vt_stringWithURLProtocol},
    {u"scheme"_s, vt_stringByExtractingScheme},
    {u"valid"_s, vt_validURLString},
    {u"urlEscape"_s, [](const QString& s) { return orAbsent(vt_stringAsValidURLString(s)); }},
    {u"httpEscape"_s, [](const QString& s) { return orAbsent(vt_stringAsHttpURLString(s)); }},
};

void row(const char* function, const char* tag, const QString& input, const QString& expected) {
    QTest::addRow("%s: %s", function, tag) << QString::fromLatin1(function) << input << expected;
}

const QString kSmile = u"\U0001F600"_s;
const QString kLoneHigh = QString(QChar(0xD800));

} // namespace

class TestVantleStringURL : public QObject {
    Q_OBJECT

private slots:
    void takesApart_data() {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QString ascii; // from the space on
        for (char16_t c = 0x20; c < 0x80; ++c)
            ascii += QChar(c);
        row("uri", "only the first ?", "a?b?c", "a");

        row("full", "scheme, port, query", "HTTP://Ab.Example.COM:8080/p?q", "ab.example.com");
        row("full", "no scheme", "example.com/p", "example.com");
        row("full", "user stays", "https://Bob@Host.com/", "bob@host.com");
        row("full", "password ends it", "https://bob:pw@host.com/", "bob");
        row("full", "query after host", "h.com?x=/y", "h.com");
        row("full", "only the first ://", "a://b://c", "b");
        row("full", "dotted capital I", u"http://\u0130NFO.com"_s, u"i\u0307nfo.com"_s);

        row("hostPort", "host and port", "http://example.com:8080/x", "example.com:8080");
        row("hostPort", "no default port", "http://example.com/x", "example.com:(null)");
        row("hostPort", "no scheme", "example.com", "(null):(null)");
        // QUrl still hands out host and port of an address it finds invalid.
        row("hostPort", "space in path", "http://host.com:80/pa th", "(null):(null)");

        row("ip", "empty", "", "yes");
        row("ip", "dotted quad", "10.0.0.1", "yes");
        row("ip", "letter", "10.0.0.1a", "no");
        row("ip", "Arabic-Indic digit", u"1.\u0661"_s, "no");

        row("domain", "empty", "", "");
        row("domain", "IP address with port", "http://192.168.1.1:80/", "192.168.1.1");
        row("domain", "two-label suffix", "https://A.B.Co.UK/x", "b.co.uk");
        row("domain", "host is the suffix", "co.uk", "co.uk");
        row("domain", "suffix with its dot", ".co.uk", "co.uk");
        row("domain", "last entry", "www.school.co.zw", "school.co.zw");
        // A three-label entry comes after the two-label entry it ends in; the first match wins.
        row("domain", "first match", "x.y.demon.co.uk", "demon.co.uk");
        row("domain", "school district", "a.b.k12.ca.us", "b.k12.ca.us");
        row("domain", "too short for district", "k12.ca.us", "ca.us");
        // The district rule counts bytes: a three-byte character stands where the state would be.
        row("domain", "district rule on bytes", u"x.y.k12\u20AC.us"_s, u"y.k12\u20AC.us"_s);
        row("domain", "single label", "localhost", "localhost");
        row("domain", "final dot", "x.y.com.", "y.com.");
        row("domain", "Turkish capitals", "https://MAIL.ISTANBUL.GOV.TR/", "istanbul.gov.tr");
        // The cut is found in UTF-8 bytes and made in UTF-16 units: two-, three- and four-byte characters.
        row("domain", "non-ASCII capitals", u"\u00DC.\u00DCN\u00CF.CO.UK"_s, u"\u00FCn\u00EF.co.uk"_s);
        row("domain", "three bytes before the cut", u"\u20AC.y.com"_s, "y.com");
        row("domain", "non-BMP label", "http://" + kSmile + ".x" + kSmile + ".co.uk/",
            "x" + kSmile + ".co.uk");
        row("domain", "lone surrogate", "x.y" + kLoneHigh + ".com", "y" + kLoneHigh + ".com");
        row("domain", "longer than the stack buffer", QString(300, u'a') + ".x.co.uk", "x.co.uk");
        row("domain", "embedded NUL", u"x.y\0z.co.uk"_s, u"y\0z.co.uk"_s);

        row("title", "label before the suffix", "https://login.y.co.uk/", "Y");
        row("title", "single label", "HOST", "Host");
        row("title", "IP address", "http://10.0.0.1/", "10");
        row("title", "words", "my bank.com", "My Bank");
        row("title", "Turkish i", "https://www.istanbul.com/", "Istanbul");
        row("title", "title case, not upper", u"\u01C6ungla.com"_s, u"\u01C5ungla"_s);
        row("title", "non-BMP first letter", u"\U00010428\U00010400x.com"_s, u"\U00010400\U00010428x"_s);
        row("title", "lone surrogate first", kLoneHigh + "ab.com", kLoneHigh + "ab");

        row("protocol", "plain host", "example.com", "http://example.com");
        row("protocol", "443 anywhere", "example.com/p4430", "https://example.com/p4430");
        row("protocol", "scheme kept", "FTP://example.com", "FTP://example.com");
        row("scheme", "port 443", "example.com:443", "https");
        row("scheme", "443 in the path", "example.com/p4430", "http");
        row("scheme", "case kept", "FTP://example.com", "FTP");
        row("scheme", "empty scheme", "://example.com", "");
        row("valid", "empty", "", "http://");
        row("valid", "port 443", "example.com:443/x", "https://example.com:443/x");
        row("valid", "scheme kept", "FTP://example.com", "FTP://example.com");

        row("urlEscape", "printable ASCII", ascii,
            "%20%21%22%23%24%25%26%27%28%29%2A%2B%2C-.%2F0123456789%3A%3B%3C%3D%3E%3F%40"
            "ABCDEFGHIJKLMNOPQRSTUVWXYZ%5B%5C%5D%5E_%60abcdefghijklmnopqrstuvwxyz%7B%7C%7D~%7F");
        row("urlEscape", "lone surrogate", "a" + kLoneHigh, "(absent)");
        row("httpEscape", "printable ASCII", ascii,
            u"%20!%22%23%24%25%26%27%28%29*%2B%2C-./0123456789:%3B%3C%3D%3E%3F@"
            "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz%7B|%7D~\x7F"_s);
        row("httpEscape", "two bytes, four bytes", u"\u00E9"_s + kSmile, "%C3%A9%F0%9F%98%80");
        row("httpEscape", "NUL and tab", u"\0\t"_s, "%00%09");
        row("httpEscape", "lone surrogate", kLoneHigh, "(absent)");
    }

    // Every answer is the same under a Turkish locale (no dotless i, no dotted I).
    void takesApart() {
        QFETCH(QString, function);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(kFunctions.value(function)(input), expected);
        const ScopedLocale turkish("tr_TR.UTF-8");
        QVERIFY2(turkish.active(), "tr_TR.UTF-8 is not installed (Debian: locales-all)");
        QCOMPARE(kFunctions.value(function)(input), expected);
    }

    // The fingerprinted walk gives the plain walk's answer. And the table's order holds: for a host that
    // ends in an entry, the entry that wins is never later and never longer (a three-label entry never
    // wins over its two-label tail).
    void fastWalkAgreesWithPlainWalk() {
        std::vector<std::string> hosts;
        for (std::size_t i = 0; i < TLDs.size(); ++i) {
            const std::string e(TLDs[i]);
            const std::size_t winner = vt_firstTLDEnding("a" + e);
            QVERIFY2(winner <= i && TLDs[winner].size() <= e.size(), e.c_str());
            // Longer, as long (no match), without its dot, one byte changed, a tail, a final dot.
            for (const std::string& host :
                 {"a" + e, e, e.substr(1), "a" + e.substr(2), "ab" + e.substr(e.size() - 6), "a" + e + "."})
                hosts.push_back(host);
        }
        QRandomGenerator random(20261206);
        const std::string alphabet = "abcdeikmnorstuz.-";
        for (int n = 0; n < 20000; ++n) {
            std::string host(random.bounded(1, 24), ' ');
            for (char& c : host)
                c = alphabet[random.bounded(static_cast<int>(alphabet.size()))];
            hosts.push_back(host);
        }
        for (const std::string& host : hosts)
            QVERIFY2(vt_firstTLDEnding(host) == literal::firstTLDEnding(host), host.c_str());
    }
};

QTEST_GUILESS_MAIN(TestVantleStringURL)
#include "tst_vantlestring_url.moc"
