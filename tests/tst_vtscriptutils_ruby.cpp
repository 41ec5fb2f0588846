// Finding the Ruby interpreter and running scripts with it: fakes on a private PATH, then the real one.

#include "VTScriptUtils.h"

#include <QTest>

#include "support/ProgramRuns.h"

namespace {

const char* const kMissingInterpreter =
    "A Ruby interpreter is required to perform your request, however Ruby "
    "cannot be found on this system. Please contact Vantlesoft for assistance.";

// Answers "--version" with the reply, otherwise prints "tag:[argument][argument]…".
QByteArray fakeInterpreter(const QString& tag, const QString& versionReply) {
    return QStringLiteral("#!/bin/sh\n"
                          "if [ \"$1\" = --version ]; then printf '%s' '%1'; exit 0; fi\n"
                          "printf '%s:' '%2'\n"
                          "for a in \"$@\"; do printf '[%s]' \"$a\"; done\n")
        .arg(versionReply, tag)
        .toUtf8();
}

const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

} // namespace

class TestVTScriptUtilsRuby : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<ScopedEnv> path_;

    QString substitute(QString text) const { return text.replace(QStringLiteral("@T@"), dir_->path()); }

    // setup: the version reply of a `ruby` on the private PATH, a fake `which`'s reply (else the real
    // one), the version replies of the two fixed locations; "-": none, "!": there, not runnable.
    void prepare(const QStringList& setup) {
        const QString bin = dir_->filePath(QStringLiteral("bin"));
        if (setup[1] != "-")
            QVERIFY(writeFile(bin + "/which", "#!/bin/sh\necho '" + setup[1].toUtf8() + "'\n", kExecutable));
        else
            QVERIFY(QFile::link(QStringLiteral("/usr/bin/which"), bin + "/which"));
        const QStringList fixed{dir_->filePath("fixed/usr-bin-ruby"),
                                dir_->filePath("fixed/usr-local-bin-ruby")};
        for (const auto& [path, tag, reply] : {std::tuple{bin + "/ruby", "path", setup[0]},
                                               {fixed[0], "first", setup[2]},
                                               {fixed[1], "second", setup[3]}}) {
            if (reply == "!")
                QVERIFY(writeFile(path, "not a program\n"));
            else if (reply != "-")
                QVERIFY(writeFile(path, fakeInterpreter(tag, reply), kExecutable));
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

    void interpreterLookup_data() {
        QTest::addColumn<QStringList>("setup"); // see prepare()
        QTest::addColumn<QString>("found");     // rubyVersion("ruby")|rubyInterpreter()|rubyPath(), "-": none
        QTest::addColumn<QVariantMap>("result"); // runRubyScriptWaitForResponse("S", "P1 P2")
        const QVariantMap withOption{{"out", "path:[-E][utf-8:utf-8][S][P1][P2]"}, {"status", 0}};
        const QVariantMap withoutOption{{"out", "path:[S][P1][P2]"}, {"status", 0}};
        QTest::newRow("2.x by bare name: encoding option")
            << QStringList{"ruby 2.7.8 (2023-03-30 revision 1f4d455848) [x86_64-linux]\n", "-", "-", "-"}
            << "2.7.8|ruby|@T@/bin/ruby" << withOption;
        QTest::newRow("20.1 begins with 2 but not 2.")
            << QStringList{"ruby 20.1", "-", "-", "-"} << "20.1|ruby|@T@/bin/ruby" << withoutOption;
        QTest::newRow("bare reply is its own version")
            << QStringList{"ruby\n", "-", "-", "-"} << "ruby|ruby|@T@/bin/ruby" << withoutOption;
        QTest::newRow("capitalised reply: found through which, used without option")
            << QStringList{"Ruby 2.7.8", "-", "ruby 2.5.0", "-"} << "-|@T@/bin/ruby|@T@/bin/ruby"
            << withoutOption;
        QTest::newRow("which without a slash: first fixed location")
            << QStringList{"Ruby", "ruby not found", "ruby 2.5.0", "ruby 3.0.0"}
            << "-|@T@/fixed/usr-bin-ruby|-"
            << QVariantMap{{"out", "first:[-E][utf-8:utf-8][S][P1][P2]"}, {"status", 0}};
        QTest::newRow("only the second fixed location, not runnable: chosen anyway")
            << QStringList{"-", "-", "-", "!"} << "-|@T@/fixed/usr-local-bin-ruby|-"
            << QVariantMap{{"out", "Did not receive any output from running the script:\n"
                                   "@T@/fixed/usr-local-bin-ruby S P1 P2"},
                           {"err", "/bin/bash: line 1: @T@/fixed/usr-local-bin-ruby: Permission denied\n"},
                           {"status", 126}};
        QTest::newRow("nothing found") << QStringList{"-", "-", "-", "-"} << "-|-|-"
                                       << QVariantMap{{"err", kMissingInterpreter}, {"status", 1}};
    }

    void interpreterLookup() {
        QFETCH(QStringList, setup);
        QFETCH(QString, found);
        QFETCH(QVariantMap, result);
        prepare(setup);

        const auto shown = [](const std::optional<QString>& value) { return value.value_or("-"); };
        const QString interpreter = shown(rubyInterpreter());
        QCOMPARE(shown(rubyVersion(QStringLiteral("ruby"))) + '|' + interpreter + '|' + shown(rubyPath()),
                 substitute(found));
        QCOMPARE(rubyExists(), interpreter != "-");
        for (QVariant& value : result)
            if (value.typeId() == QMetaType::QString)
                value = substitute(value.toString());
        QCOMPARE(runRubyScriptWaitForResponse(QStringLiteral("S"), QStringLiteral("P1 P2")), result);
    }

    // The interpreter the machine has (the test setup installs it), found through the real PATH: the
    // encoding of what passes both ways, and the status only when waited for.
    void realInterpreter() {
        const QString script = dir_->filePath(QStringLiteral("echo input.rb"));
        QVERIFY(writeFile(script, "$stdout.write(ARGV.join('|') + ':')\n"
                                  "$stdout.write($stdin.read) unless ARGV.empty?\n"
                                  "$stderr.write(\"warn\\u00e9\".b)\n"
                                  "exit 2\n"));
        const QString quoted = QStringLiteral("'%1'").arg(script);
        QCOMPARE(runRubyScriptWithStandarInputWaitForResponse(quoted, QStringLiteral("A=1 'B 2'"),
                                                              QByteArray("caf\xc3\xa9"), true),
                 (QVariantMap{{"out", QStringLiteral("A=1|B 2:caf\u00e9")},
                              {"err", QStringLiteral("warn\u00e9")},
                              {"status", 2}}));
        QCOMPARE(runRubyScriptWithStandarInput(quoted, QStringLiteral("x"), QByteArray("in")),
                 (QVariantMap{{"out", "x:in"}, {"err", QStringLiteral("warn\u00e9")}}));
    }
};

QTEST_GUILESS_MAIN(TestVTScriptUtilsRuby)
#include "tst_vtscriptutils_ruby.moc"
