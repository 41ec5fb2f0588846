// Taking addresses apart: the cases that break in practice (ports, user information, non-BMP text,
// lone surrogates, locales with their own case rules) and the first-match order of the suffix table.

#include "VantleString.h"
#include "VantleTLDs.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QTest>

#include <clocale>
#include <string>

using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalText)

namespace {

// The plain byte-by-byte first-match walk, to hold the fast walk against.
std::size_t plainFirstTLDEnding(std::string_view host) {
    for (std::size_t i = 0; i < TLDs.size(); ++i) {
        if (TLDs[i].size() < host.size() && host.ends_with(TLDs[i]))
            return i;
    }
    return TLDs.size();
}

const QString kSmile = QString::fromUtf8("\xF0\x9F\x98\x80"); // U+1F600, two units
const QString kLoneHigh = QString(QChar(0xD800));

} // namespace

class TestVantleStringURL : public QObject {
    Q_OBJECT

private slots:
    void extractURI_data();
    void extractURI();
    void fullDomain_data();
    void fullDomain();
    void hostAndPort_data();
    void hostAndPort();
    void isIPAddress_data();
    void isIPAddress();
    void registrableDomain_data();
    void registrableDomain();
    void suffixTableOrder();
    void fastWalkAgreesWithPlainWalk();
    void loginTitle_data();
    void loginTitle();
    void localeDoesNotChangeResults();
    void schemes_data();
    void schemes();
    void validURLEscaping_data();
    void validURLEscaping();
    void validURLEscapingOfEveryASCIICharacter();
    void httpEscaping_data();
    void httpEscaping();
    void httpEscapingOfEveryASCIICharacter();
};

void TestVantleStringURL::extractURI_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("only the first ?") << "a?b?c"
                                      << "a";
    QTest::newRow("no query") << "abc"
                              << "abc";
    QTest::newRow("query only") << "?x"
                                << "";
    QTest::newRow("fragment before query stays") << "http://h/p#f?q"
                                                 << "http://h/p#f";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("non-BMP before ?") << kSmile + "?x" << kSmile;
}

void TestVantleStringURL::extractURI() {
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringByExtractingURI(input), expected);
}

void TestVantleStringURL::fullDomain_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("scheme, port, path, query") << "HTTP://Ab.Example.COM:8080/p?q"
                                               << "ab.example.com";
    QTest::newRow("no scheme") << "example.com/p"
                               << "example.com";
    QTest::newRow("scheme only") << "http://"
                                 << "";
    QTest::newRow("path only") << "/p"
                               << "";
    QTest::newRow("fragment stays") << "example.com#frag"
                                    << "example.com#frag";
    QTest::newRow("user stays") << "https://Bob@Host.com/"
                                << "bob@host.com";
    QTest::newRow("password ends it") << "https://bob:pw@host.com/"
                                      << "bob";
    QTest::newRow("query right after host") << "h.com?x=/y"
                                            << "h.com";
    QTest::newRow("trailing dot stays") << "http://x.y.com./"
                                        << "x.y.com.";
    QTest::newRow("only the first ://") << "a://b://c"
                                        << "b";
    QTest::newRow("non-BMP host") << "http://" + kSmile + ".COM/" << kSmile + ".com";
    QTest::newRow("dotted capital I")
        << QString::fromUtf8("http://\xC4\xB0NFO.com") << QString::fromUtf8("i\xCC\x87nfo.com");
    QTest::newRow("empty") << ""
                           << "";
}

void TestVantleStringURL::fullDomain() {
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringByExtractingFullDomain(input), expected);
}

void TestVantleStringURL::hostAndPort_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("host and port") << "http://example.com:8080/x"
                                   << "example.com:8080";
    QTest::newRow("no port, no default filled in") << "http://example.com/x"
                                                   << "example.com:(null)";
    QTest::newRow("no scheme: no host") << "example.com"
                                        << "(null):(null)";
    QTest::newRow("user information") << "https://bob:pw@host.com:443/"
                                      << "host.com:443";
    QTest::newRow("IPv6") << "http://[::1]:631/"
                          << "::1:631";
    QTest::newRow("invalid: space in host") << "http://exa mple.com:80/"
                                            << "(null):(null)";
    QTest::newRow("invalid: port out of range") << "http://h.com:99999/"
                                                << "(null):(null)";
    QTest::newRow("invalid: port not a number") << "http://h.com:8o/"
                                                << "(null):(null)";
    QTest::newRow("no host") << "mailto:bob@h.com"
                             << "(null):(null)";
    QTest::newRow("empty") << ""
                           << "(null):(null)";
}

void TestVantleStringURL::hostAndPort() {
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringByExtractingHostAndPort(input), expected);
}

void TestVantleStringURL::isIPAddress_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("expected");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("dotted quad") << "10.0.0.1" << true;
    QTest::newRow("two parts") << "1.2" << true;
    QTest::newRow("dots only") << "..." << true;
    QTest::newRow("letter at the end") << "10.0.0.1a" << false;
    QTest::newRow("IPv6") << "::1" << false;
    QTest::newRow("Arabic-Indic digit") << QString::fromUtf8("1.\xD9\xA1") << false;
    QTest::newRow("fullwidth digit") << QString::fromUtf8("\xEF\xBC\x91") << false;
}

void TestVantleStringURL::isIPAddress() {
    QFETCH(QString, input);
    QFETCH(bool, expected);
    QCOMPARE(vt_isIPAddress(input), expected);
}

void TestVantleStringURL::registrableDomain_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("scheme only") << "http://"
                                 << "";
    QTest::newRow("IP address with port") << "http://192.168.1.1:80/"
                                          << "192.168.1.1";
    QTest::newRow("two-label suffix") << "https://A.B.Co.UK/x"
                                      << "b.co.uk";
    QTest::newRow("host is the suffix") << "co.uk"
                                        << "co.uk";
    QTest::newRow("host is the suffix with its dot") << ".co.uk"
                                                     << "co.uk";
    QTest::newRow("one label in front") << "y.co.uk"
                                        << "y.co.uk";
    QTest::newRow("long chain") << "a.b.c.d.e164.arpa"
                                << "d.e164.arpa";
    QTest::newRow("last entry") << "www.school.co.zw"
                                << "school.co.zw";
    QTest::newRow("school district") << "a.b.k12.ca.us"
                                     << "b.k12.ca.us";
    QTest::newRow("school district itself") << "b.k12.ca.us"
                                            << "b.k12.ca.us";
    QTest::newRow("too short for the district") << "k12.ca.us"
                                                << "ca.us";
    QTest::newRow("district state not examined") << "x.y.k12.zz.us"
                                                 << "y.k12.zz.us";
    // The district rule counts bytes: a three-byte character stands where the state would be.
    QTest::newRow("district rule on bytes")
        << QString::fromUtf8("x.y.k12\xE2\x82\xAC.us") << QString::fromUtf8("y.k12\xE2\x82\xAC.us");
    QTest::newRow("last label") << "x.y.com"
                                << "y.com";
    QTest::newRow("single label") << "localhost"
                                  << "localhost";
    QTest::newRow("final dot passed over") << "x.y.com."
                                           << "y.com.";
    QTest::newRow("leading dot") << ".com"
                                 << ".com";
    QTest::newRow("port and path") << "https://mail.example.org:8443/a.b.c"
                                   << "example.org";
    QTest::newRow("user information stays") << "https://bob@mail.example.com/"
                                            << "example.com";
    QTest::newRow("non-BMP label") << "http://x." + kSmile + ".co.uk/" << kSmile + ".co.uk";
    QTest::newRow("non-BMP in front") << kSmile + ".x.y.com"
                                      << "y.com";
    QTest::newRow("non-BMP last label") << "a.b." + kSmile << "b." + kSmile;
    QTest::newRow("non-ASCII upper case")
        << QString::fromUtf8("X.\xC3\x9CN\xC3\x8F.CO.UK") << QString::fromUtf8("\xC3\xBCn\xC3\xAF.co.uk");
    QTest::newRow("lone surrogate kept") << "x.y" + kLoneHigh + ".com"
                                         << "y" + kLoneHigh + ".com";
    QTest::newRow("long host") << QString(300, u'a') + ".x.co.uk"
                               << "x.co.uk";
    QTest::newRow("embedded NUL does not cut")
        << QStringLiteral("x.y") + QChar(0) + "z.co.uk" << QStringLiteral("y") + QChar(0) + "z.co.uk";
    QTest::newRow("digits and dots with port") << "1.2.3:80"
                                               << "1.2.3";
}

void TestVantleStringURL::registrableDomain() {
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(vt_stringByExtracting2ndTLD(input), expected);
}

// A three-label entry comes after the two-label entry it ends in, and the first match wins, so a host
// under a three-label entry resolves on the two-label tail.
void TestVantleStringURL::suffixTableOrder() {
    QCOMPARE(TLDs.size(), std::size_t(877));
    QCOMPARE(TLDs.front(), std::string_view(".e164.arpa"));
    QCOMPARE(vt_stringByExtracting2ndTLD("x.y.demon.co.uk"), QString("demon.co.uk"));
    QCOMPARE(vt_stringByExtracting2ndTLD("x.y.esc.edu.ar"), QString("esc.edu.ar"));
    QCOMPARE(vt_stringByExtracting2ndTLD("x.y.lkd.co.im"), QString("lkd.co.im"));
    QCOMPARE(vt_stringByExtracting2ndTLD("x.y.plc.co.im"), QString("plc.co.im"));
    for (std::size_t i = 0; i < TLDs.size(); ++i) {
        const std::string host = "www.example" + std::string(TLDs[i]);
        const std::size_t winner = vt_firstTLDEnding(host);
        QVERIFY2(winner <= i, host.c_str());
        QVERIFY2(TLDs[winner].size() <= TLDs[i].size(), host.c_str());
    }
}

void TestVantleStringURL::fastWalkAgreesWithPlainWalk() {
    std::vector<std::string> hosts;
    for (std::string_view entry : TLDs) {
        const std::string e(entry);
        hosts.push_back("a" + e);
        hosts.push_back(e);                 // as long as the entry: no match
        hosts.push_back(e.substr(1));       // without its dot
        hosts.push_back("a" + e.substr(2)); // one byte of the entry changed
        hosts.push_back("ab" + e.substr(e.size() - 6));
        hosts.push_back("a" + e + ".");
    }
    QRandomGenerator random(20261206);
    const std::string alphabet = "abcdeikmnorstuz.-";
    for (int n = 0; n < 20000; ++n) {
        std::string host;
        const int length = static_cast<int>(random.bounded(1, 24));
        for (int i = 0; i < length; ++i)
            host += alphabet[random.bounded(static_cast<int>(alphabet.size()))];
        hosts.push_back(host);
    }
    for (const std::string& host : hosts)
        QVERIFY2(vt_firstTLDEnding(host) == plainFirstTLDEnding(host), host.c_str());
}

void TestVantleStringURL::loginTitle_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    QTest::newRow("label in front of the suffix") << "https://login.y.co.uk/"
                                                  << "Y";
    QTest::newRow("single label") << "HOST"
                                  << "Host";
    QTest::newRow("IP address") << "http://10.0.0.1/"
                                << "10";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("words split by space") << "my bank.com"
                                          << "My Bank";
    QTest::newRow("title case differs from upper case")
        << QString::fromUtf8("\xC7\x86ungla.com") << QString::fromUtf8("\xC7\x85ungla");
    QTest::newRow("non-BMP first letter") << QString::fromUtf8("\xF0\x90\x90\xA8\xF0\x90\x90\x80x.com")
                                          << QString::fromUtf8("\xF0\x90\x90\x80\xF0\x90\x90\xA8x");
    QTest::newRow("lone surrogate first") << kLoneHigh + "ab.com" << kLoneHigh + "ab";
}

void TestVantleStringURL::loginTitle() {
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(vt_urlAsLoginTitle(input), expected);
}

// A Turkish user must get the same hosts and titles as everyone else: no dotless i, no dotted I.
void TestVantleStringURL::localeDoesNotChangeResults() {
    const QString url = QStringLiteral("https://MAIL.ISTANBUL.GOV.TR/");
    const QString domain = vt_stringByExtracting2ndTLD(url);
    const QString title = vt_urlAsLoginTitle("https://www.istanbul.com/");
    QCOMPARE(domain, QString("istanbul.gov.tr"));
    const QLocale saved;
    const std::string savedC = std::setlocale(LC_ALL, nullptr);
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    const bool haveTurkishC = std::setlocale(LC_ALL, "tr_TR.UTF-8") != nullptr;
    const QString turkishDomain = vt_stringByExtracting2ndTLD(url);
    const QString turkishTitle = vt_urlAsLoginTitle("https://www.istanbul.com/");
    QLocale::setDefault(saved);
    std::setlocale(LC_ALL, savedC.c_str());
    QCOMPARE(turkishDomain, domain);
    QCOMPARE(turkishTitle, title);
    QCOMPARE(title, QString("Istanbul"));
    if (!haveTurkishC)
        qInfo("tr_TR.UTF-8 is not installed: only Qt's default locale was Turkish");
}

void TestVantleStringURL::schemes_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("withProtocol");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("valid");
    QTest::newRow("empty") << ""
                           << "http://"
                           << "http"
                           << "http://";
    QTest::newRow("plain host") << "example.com"
                                << "http://example.com"
                                << "http"
                                << "http://example.com";
    QTest::newRow("port 443") << "example.com:443"
                              << "https://example.com:443"
                              << "https"
                              << "https://example.com:443";
    QTest::newRow("443 in the path only") << "example.com/p4430"
                                          << "https://example.com/p4430"
                                          << "http"
                                          << "http://example.com/p4430";
    QTest::newRow("scheme kept with its case") << "FTP://example.com"
                                               << "FTP://example.com"
                                               << "FTP"
                                               << "FTP://example.com";
    QTest::newRow("empty scheme") << "://example.com"
                                  << "://example.com"
                                  << ""
                                  << "://example.com";
    QTest::newRow("port and path") << "example.com:443/x"
                                   << "https://example.com:443/x"
                                   << "https"
                                   << "https://example.com:443/x";
    QTest::newRow("443 as a path") << "example.com/443"
                                   << "https://example.com/443"
                                   << "http"
                                   << "http://example.com/443";
}

void TestVantleStringURL::schemes() {
    QFETCH(QString, input);
    QFETCH(QString, withProtocol);
    QFETCH(QString, scheme);
    QFETCH(QString, valid);
    QCOMPARE(vt_stringWithURLProtocol(input), withProtocol);
    QCOMPARE(vt_stringByExtractingScheme(input), scheme);
    QCOMPARE(vt_validURLString(input), valid);
}

void TestVantleStringURL::validURLEscaping_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<OptionalText>("expected");
    QTest::newRow("slash and space") << "a/b c" << OptionalText("a%2Fb%20c");
    QTest::newRow("unreserved") << "x-y_z.w~" << OptionalText("x-y_z.w~");
    QTest::newRow("percent escaped again") << "%20" << OptionalText("%2520");
    QTest::newRow("two-byte character") << QString::fromUtf8("\xC3\xA9") << OptionalText("%C3%A9");
    QTest::newRow("non-BMP") << kSmile << OptionalText("%F0%9F%98%80");
    QTest::newRow("object replacement") << QString(QChar(0xFFFC)) << OptionalText("%EF%BF%BC");
    QTest::newRow("NUL kept") << QString(QChar(0)) + "a" << OptionalText("%00a");
    QTest::newRow("lone surrogate") << "a" + kLoneHigh << OptionalText();
    QTest::newRow("empty") << "" << OptionalText("");
}

void TestVantleStringURL::validURLEscaping() {
    QFETCH(QString, input);
    QFETCH(OptionalText, expected);
    QCOMPARE(vt_stringAsValidURLString(input), expected);
}

void TestVantleStringURL::validURLEscapingOfEveryASCIICharacter() {
    const QString unreserved =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~");
    for (char16_t c = 0; c < 0x80; ++c) {
        const QString expected = unreserved.contains(QChar(c))
                                     ? QString(QChar(c))
                                     : QString::asprintf("%%%02X", static_cast<unsigned>(c));
        QCOMPARE(vt_stringAsValidURLString(QString(QChar(c))), OptionalText(expected));
    }
}

void TestVantleStringURL::httpEscaping_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<OptionalText>("expected");
    QTest::newRow("space") << "a b" << OptionalText("a%20b");
    QTest::newRow("two-byte character") << QString::fromUtf8("\xC3\xA9") << OptionalText("%C3%A9");
    QTest::newRow("plus and equals") << "a+b=c" << OptionalText("a%2Bb%3Dc");
    QTest::newRow("path characters pass") << "a/b:c~d" << OptionalText("a/b:c~d");
    QTest::newRow("non-BMP") << kSmile << OptionalText("%F0%9F%98%80");
    QTest::newRow("NUL and tab") << QString(QChar(0)) + "\t" << OptionalText("%00%09");
    QTest::newRow("query") << "?q=a&b#c" << OptionalText("%3Fq%3Da%26b%23c");
    QTest::newRow("lone surrogate") << kLoneHigh << OptionalText();
    QTest::newRow("empty") << "" << OptionalText("");
}

void TestVantleStringURL::httpEscaping() {
    QFETCH(QString, input);
    QFETCH(OptionalText, expected);
    QCOMPARE(vt_stringAsHttpURLString(input), expected);
}

void TestVantleStringURL::httpEscapingOfEveryASCIICharacter() {
    QString passing = QStringLiteral("!*-./0123456789:@[\\]^_`|~") + QChar(0x7F);
    for (char16_t c = u'A'; c <= u'Z'; ++c) {
        passing += QChar(c);
        passing += QChar(c + 0x20);
    }
    for (char16_t c = 0; c < 0x80; ++c) {
        const QString expected = passing.contains(QChar(c))
                                     ? QString(QChar(c))
                                     : QString::asprintf("%%%02X", static_cast<unsigned>(c));
        QCOMPARE(vt_stringAsHttpURLString(QString(QChar(c))), OptionalText(expected));
    }
}

QTEST_GUILESS_MAIN(TestVantleStringURL)
#include "tst_vantlestring_url.moc"
