// Finding the Ruby interpreter and running scripts with it: fake interpreters on a private PATH,
// then the real interpreter.

#include "VTScriptUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "support/TestSupport.h"

namespace {

const char* const kMissingInterpreter =
    "A Ruby interpreter is required to perform your request, however Ruby "
    "cannot be found on this system. Please contact Vantlesoft for assistance.";

// A fake interpreter: answers "--version" with the reply, otherwise prints its tag and its
// arguments as "tag:[a][b]…".
QByteArray fakeInterpreter(const QString& tag, const QString& versionReply) {
    return QStringLiteral("#!/bin/sh\n"
                          "if [ \"$1\" = --version ]; then printf '%s' '%1'; exit 0; fi\n"
                          "printf '%s:' '%2'\n"
                          "for a in \"$@\"; do printf '[%s]' \"$a\"; done\n")
        .arg(versionReply, tag)
        .toUtf8();
}

bool writeFile(const QString& path, const QByteArray& contents, QFile::Permissions permissions) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
const QFile::Permissions kPlain = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

class TestVTScriptUtilsRuby : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScopedEnv> path_;

    QString substitute(QString text) const { return text.replace(QStringLiteral("@T@"), dir_->path()); }

    // A private PATH holding only `which` (real unless a fake reply is given) and, when a version reply
    // is given, a fake `ruby`; two fixed locations inside the temporary folder ("!": there, not runnable).
    void prepare(const QVariant& rubyOnPath, const QVariant& whichReply, const QVariant& firstFixed,
                 const QVariant& secondFixed) {
        const QString bin = dir_->filePath(QStringLiteral("bin"));
        if (whichReply.isValid())
            QVERIFY(writeFile(bin + "/which", "#!/bin/sh\necho '" + whichReply.toByteArray() + "'\n",
                              kExecutable));
        else
            QVERIFY(QFile::link(QStringLiteral("/usr/bin/which"), bin + "/which"));
        const QStringList fixed{dir_->filePath("fixed/usr-bin-ruby"),
                                dir_->filePath("fixed/usr-local-bin-ruby")};
        for (const auto& [path, tag, reply] : {std::tuple{bin + "/ruby", "path", rubyOnPath},
                                               {fixed[0], "first", firstFixed},
                                               {fixed[1], "second", secondFixed}}) {
            if (reply == QVariant("!"))
                QVERIFY(writeFile(path, "not a program\n", kPlain));
            else if (reply.isValid())
                QVERIFY(writeFile(path, fakeInterpreter(tag, reply.toString()), kExecutable));
        }
        setRubyFixedLocationsForTesting(fixed);
        path_ = std::make_unique<ScopedEnv>("PATH", QFile::encodeName(bin));
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("bin")) && QDir(dir_->path()).mkpath("fixed"));
    }

    void cleanup() {
        path_.reset();
        setRubyFixedLocationsForTesting({});
        dir_.reset();
    }

    void interpreterLookup_data();
    void interpreterLookup();
    void realInterpreter();
};

void TestVTScriptUtilsRuby::interpreterLookup_data() {
    QTest::addColumn<QVariant>("rubyOnPath");  // version reply of a `ruby` on PATH, or none
    QTest::addColumn<QVariant>("whichReply");  // what a fake `which` prints, or none for the real one
    QTest::addColumn<QVariant>("firstFixed");  // version reply of the first fixed location, or none
    QTest::addColumn<QVariant>("secondFixed"); // the same for the second ("!" = not runnable)
    QTest::addColumn<QVariant>("version");     // rubyVersion("ruby")
    QTest::addColumn<QVariant>("interpreter"); // rubyInterpreter()
    QTest::addColumn<QVariant>("path");        // rubyPath()
    QTest::addColumn<QVariantMap>("result");   // runRubyScriptWaitForResponse("S", "P1 P2")

    const QVariant none;
    const QVariant pathRuby(QStringLiteral("@T@/bin/ruby"));
    const QVariantMap withOption{{"out", "path:[-E][utf-8:utf-8][S][P1][P2]"}, {"status", 0}};
    const QVariantMap withoutOption{{"out", "path:[S][P1][P2]"}, {"status", 0}};

    QTest::newRow("2.x by bare name: encoding option")
        << QVariant("ruby 2.7.8 (2023-03-30 revision 1f4d455848) [x86_64-linux]\n") << none << none << none
        << QVariant("2.7.8") << QVariant("ruby") << pathRuby << withOption;
    QTest::newRow("20.1 begins with 2 but not 2.")
        << QVariant("ruby 20.1") << none << none << none << QVariant("20.1") << QVariant("ruby") << pathRuby
        << withoutOption;
    QTest::newRow("bare reply is its own version")
        << QVariant("ruby\n") << none << none << none << QVariant("ruby") << QVariant("ruby") << pathRuby
        << withoutOption;
    QTest::newRow("blank lines before the reply")
        << QVariant("\n\n  ruby 2.6.10p210 (2022-04-12) [x86_64-linux]\n\n") << none << none << none
        << QVariant("2.6.10p210") << QVariant("ruby") << pathRuby << withOption;
    QTest::newRow("capitalised reply: found through which, used without option")
        << QVariant("Ruby 2.7.8") << none << QVariant("ruby 2.5.0") << none << none << pathRuby << pathRuby
        << withoutOption;
    QTest::newRow("which without a slash: first fixed location")
        << QVariant("Ruby") << QVariant("ruby not found") << QVariant("ruby 2.5.0") << QVariant("ruby 3.0.0")
        << none << QVariant("@T@/fixed/usr-bin-ruby") << none
        << QVariantMap{{"out", "first:[-E][utf-8:utf-8][S][P1][P2]"}, {"status", 0}};
    QTest::newRow("only the second fixed location, not runnable: chosen anyway")
        << none << none << none << QVariant("!") << none << QVariant("@T@/fixed/usr-local-bin-ruby") << none
        << QVariantMap{{"out", "Did not receive any output from running the script:\n"
                               "@T@/fixed/usr-local-bin-ruby S P1 P2"},
                       {"err", "/bin/bash: line 1: @T@/fixed/usr-local-bin-ruby: Permission denied\n"},
                       {"status", 126}};
    QTest::newRow("nothing found") << none << none << none << none << none << none << none
                                   << QVariantMap{{"err", kMissingInterpreter}, {"status", 1}};
}

void TestVTScriptUtilsRuby::interpreterLookup() {
    QFETCH(QVariant, rubyOnPath);
    QFETCH(QVariant, whichReply);
    QFETCH(QVariant, firstFixed);
    QFETCH(QVariant, secondFixed);
    QFETCH(QVariant, version);
    QFETCH(QVariant, interpreter);
    QFETCH(QVariant, path);
    QFETCH(QVariantMap, result);
    prepare(rubyOnPath, whichReply, firstFixed, secondFixed);

    // Absent values in the table are invalid QVariants.
    const auto optional = [this](const QVariant& value) {
        return value.isValid() ? std::optional(substitute(value.toString())) : std::nullopt;
    };
    QCOMPARE(rubyVersion(QStringLiteral("ruby")), optional(version));
    QCOMPARE(rubyPath(), optional(path));
    QCOMPARE(rubyInterpreter(), optional(interpreter));
    QCOMPARE(rubyExists(), interpreter.isValid());
    for (QVariant& value : result) {
        if (value.typeId() == QMetaType::QString)
            value = substitute(value.toString());
    }
    QCOMPARE(runRubyScriptWaitForResponse(QStringLiteral("S"), QStringLiteral("P1 P2")), result);
}

// The interpreter the machine has (the test setup installs it), found through the real PATH.
void TestVTScriptUtilsRuby::realInterpreter() {
    const QString script = dir_->filePath(QStringLiteral("echo input.rb"));
    QVERIFY(writeFile(script,
                      "$stdout.write(ARGV.join('|') + ':')\n"
                      "$stdout.write($stdin.read) unless ARGV.empty?\n"
                      "$stderr.write(\"warn\\u00e9\".b)\n"
                      "exit 2\n",
                      kPlain));
    const QString quoted = QStringLiteral("'%1'").arg(script);

    QVERIFY(rubyExists());
    QCOMPARE(rubyInterpreter(), std::optional<QString>(QStringLiteral("ruby")));
    const std::optional<QString> version = rubyVersion(QStringLiteral("ruby"));
    QVERIFY2(version && version->contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+"))),
             qPrintable(version.value_or("(none)")));
    const std::optional<QString> path = rubyPath();
    QVERIFY(path && path->endsWith(QStringLiteral("/ruby")) && QFileInfo(*path).isExecutable());

    const QVariantMap waited = runRubyScriptWithStandarInputWaitForResponse(
        quoted, QStringLiteral("A=1 'B 2'"), QByteArray("caf\xc3\xa9"), true);
    QCOMPARE(waited, (QVariantMap{{"out", QStringLiteral("A=1|B 2:caf\u00e9")},
                                  {"err", QStringLiteral("warn\u00e9")},
                                  {"status", 2}}));
    const QVariantMap unwaited = runRubyScriptWithStandarInput(quoted, QStringLiteral("x"), QByteArray("in"));
    QCOMPARE(unwaited, (QVariantMap{{"out", "x:in"}, {"err", QStringLiteral("warn\u00e9")}}));
}

QTEST_GUILESS_MAIN(TestVTScriptUtilsRuby)
#include "tst_vtscriptutils_ruby.moc"
