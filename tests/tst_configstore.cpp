// The configuration file as the program reads and writes it: format, order of
// elements, exact round trips of typed values, hostile files and failed saves.
#include "config/configstore.h"
#include "support/badxml.h"
#include "support/files.h"
#include "support/settingsoutline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <optional>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace configstore;

namespace {

using Pairs = QList<QPair<QString, QString>>;

struct Step
{
    bool settings = true;
    QString fileName;
    QString time;
    Pairs pairs;
};
using Steps = QList<Step>;

Step set(const QString &fileName, const QString &time)
{
    return Step{true, fileName, time, {}};
}

Step done(const Pairs &pairs)
{
    return Step{false, {}, {}, pairs};
}

QList<QuestionPair> asPairs(const Pairs &pairs)
{
    QList<QuestionPair> stored;
    for (const auto &[question, answer] : pairs)
        stored.append({question, answer});
    return stored;
}

QByteArray utf16(const QString &text, bool bigEndian)
{
    QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        bytes += bigEndian ? QByteArray{&high, 1} + QByteArray{&low, 1}
                           : QByteArray{&low, 1} + QByteArray{&high, 1};
    }
    return bytes;
}

QByteArray nested(const QByteArray &open, const QByteArray &close, int levels,
                  const QByteArray &innermost)
{
    QByteArray bytes;
    bytes.reserve((open.size() + close.size()) * levels + innermost.size());
    for (int i = 0; i < levels; ++i)
        bytes += open;
    bytes += innermost;
    for (int i = 0; i < levels; ++i)
        bytes += close;
    return bytes;
}

QString longValue()
{
    QString value;
    const QString piece = QStringLiteral("Lorem & <ipsum> \"dolor\" ]]> \r\n\t é 日本 😀 ");
    while (value.size() < 100'000)
        value += piece;
    return value;
}

// What the code under test wrote through Qt's message log.
QStringList g_messages;

void recordMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages.append(message);
}

// Every entry of a folder with its bytes, or its kind when it holds none.
QMap<QString, QByteArray> contents(const QString &dir)
{
    QMap<QString, QByteArray> entries;
    for (const QFileInfo &entry : QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                          QDir::System | QDir::NoDotAndDotDot)) {
        QFile file(entry.filePath());
        entries.insert(entry.fileName(), entry.isFile() && file.open(QIODevice::ReadOnly)
                                             ? file.readAll()
                                             : QByteArray("<not a file>"));
    }
    return entries;
}

enum class Route { Replace, InPlace };
enum class Limit { FullDisk, FileSize };

enum class Failure {
    PathIsDirectory,
    PathIsPipe,
    ParentIsFile,
    MissingDirectory,
    ReadOnlyDirectory,
    FileTooLarge,
    LinkToMissingFolder
};

} // namespace

Q_DECLARE_METATYPE(Steps)
Q_DECLARE_METATYPE(Pairs)
Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(Route)
Q_DECLARE_METATYPE(Limit)

class tst_ConfigStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    QString dir() const { return m_dir->path(); }
    QString path() const { return filePath(dir()); }

    bool writeFile(const QByteArray &bytes) const { return writeBytes(path(), bytes); }
    QByteArray readFile() const { return readBytes(path()).value_or("<no file>"); }

private Q_SLOTS:
    void initTestCase()
    {
        // The tmpfs mounts below live in a namespace of their own, so that a
        // crash cannot leave them behind.
        if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0)
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void cleanup()
    {
        // A test may have made the folder read-only.
        QFile::setPermissions(dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_dir.reset();
    }

    void filePathJoinsWithSlash()
    {
        QCOMPARE(filePath("/opt/roustabell"), QString("/opt/roustabell/AlarmClockConfig.xml"));
    }

    void missingFileLoadsNothing()
    {
        QVERIFY(describe(load(dir())).isEmpty());
        QVERIFY(!QFile::exists(path()));
    }

    void writtenBytes_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("first Set without a file")
            << Steps{set("/s/wake.wav", "7:30")}
            << QByteArray("<AlarmClockConfig>\n"
                          "  <WakeyFileName>/s/wake.wav</WakeyFileName>\n"
                          "  <WakeyTime>7:30</WakeyTime>\n"
                          "</AlarmClockConfig>\n");
        QTest::newRow("first Done without a file, empty answer")
            << Steps{done({{"q", ""}})}
            << QByteArray("<AlarmClockConfig>\n"
                          "  <AwareTestQuestions>\n"
                          "    <QA_Pair>\n"
                          "      <Question>q</Question>\n"
                          "      <Answer></Answer>\n"
                          "    </QA_Pair>\n"
                          "  </AwareTestQuestions>\n"
                          "</AlarmClockConfig>\n");
        QTest::newRow("Done with an empty set") << Steps{done({})}
                                                << QByteArray("<AlarmClockConfig>\n"
                                                              "  <AwareTestQuestions/>\n"
                                                              "</AlarmClockConfig>\n");
        QTest::newRow("escaping and UTF-8")
            << Steps{set("a&b<c>d\"e'f", "\r\n é")}
            << QByteArray("<AlarmClockConfig>\n"
                          "  <WakeyFileName>a&amp;b&lt;c&gt;d\"e'f</WakeyFileName>\n"
                          "  <WakeyTime>&#xD;\n \xC3\xA9</WakeyTime>\n"
                          "</AlarmClockConfig>\n");
    }

    void writtenBytes()
    {
        QFETCH(Steps, steps);
        QFETCH(QByteArray, expected);
        for (const Step &step : steps) {
            const SaveResult result = step.settings ? saveSettings(dir(), step.fileName, step.time)
                                                    : saveQuestions(dir(), asPairs(step.pairs));
            QVERIFY2(result.ok, qPrintable(result.message()));
        }
        QCOMPARE(readFile(), expected);
    }

    void history_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QStringList>("expected");

        const Pairs three{{"q1", "a1"}, {"q2", "a2"}, {"q3", "a3"}};
        const QStringList threeOutline{".AwareTestQuestions", "..QA_Pair", "...Question=q1",
                                       "...Answer=a1",        "..QA_Pair", "...Question=q2",
                                       "...Answer=a2",        "..QA_Pair", "...Question=q3",
                                       "...Answer=a3"};

        QTest::newRow("Set twice replaces in place")
            << Steps{set("f1", "t1"), set("f2", "t2")}
            << QStringList{"AlarmClockConfig", ".WakeyFileName=f2", ".WakeyTime=t2"};
        QTest::newRow("Set then Done appends the container")
            << Steps{set("f", "t"), done(three)}
            << QStringList{"AlarmClockConfig", ".WakeyFileName=f", ".WakeyTime=t"} + threeOutline;
        QTest::newRow("Done then Set keeps the container first")
            << Steps{done(three), set("f", "t")}
            << QStringList{"AlarmClockConfig"} + threeOutline +
                   QStringList{".WakeyFileName=f", ".WakeyTime=t"};
        QTest::newRow("Set after Done keeps the container unchanged")
            << Steps{set("f1", "t1"), done(three), set("f2", "t2")}
            << QStringList{"AlarmClockConfig", ".WakeyFileName=f2", ".WakeyTime=t2"} + threeOutline;
        QTest::newRow("Done twice with three pairs gives three")
            << Steps{set("f", "t"), done(three), done(three)}
            << QStringList{"AlarmClockConfig", ".WakeyFileName=f", ".WakeyTime=t"} + threeOutline;
        QTest::newRow("Done replaces, never merges")
            << Steps{done(three), done({{"only", "one"}})}
            << QStringList{"AlarmClockConfig", ".AwareTestQuestions", "..QA_Pair",
                           "...Question=only", "...Answer=one"};
        QTest::newRow("Done with an empty set empties the container")
            << Steps{done(three), set("f", "t"), done({})}
            << QStringList{"AlarmClockConfig", ".AwareTestQuestions=", ".WakeyFileName=f",
                           ".WakeyTime=t"};
    }

    void history()
    {
        QFETCH(Steps, steps);
        QFETCH(QStringList, expected);
        QStringList expectedLoad;
        Pairs lastPairs;
        QString fileName;
        QString time;
        for (const Step &step : steps) {
            const SaveResult result = step.settings ? saveSettings(dir(), step.fileName, step.time)
                                                    : saveQuestions(dir(), asPairs(step.pairs));
            QVERIFY2(result.ok, qPrintable(result.message()));
            if (step.settings) {
                fileName = step.fileName;
                time = step.time;
            } else {
                lastPairs = step.pairs;
            }
        }
        QCOMPARE(outline(readFile()), expected);

        if (!fileName.isNull())
            expectedLoad << "file:" + fileName << "time:" + time;
        for (const auto &[question, answer] : lastPairs)
            expectedLoad << "Q:" + question << "A:" + answer;
        QCOMPARE(describe(load(dir())), expectedLoad);
    }

    void valueRoundTrip_data()
    {
        QTest::addColumn<QString>("value");

        QTest::newRow("empty") << QString("");
        QTest::newRow("one blank") << QString(" ");
        QTest::newRow("three blanks") << QString("   ");
        QTest::newRow("leading and trailing blanks") << QString("  7:30  ");
        QTest::newRow("tab") << QString("\t");
        QTest::newRow("blanks and tabs") << QString(" \t x \t ");
        QTest::newRow("line feed only") << QString("\n");
        QTest::newRow("carriage return only") << QString("\r");
        QTest::newRow("CRLF only") << QString("\r\n");
        QTest::newRow("CRLF inside") << QString("first\r\nsecond");
        QTest::newRow("mixed line ends") << QString("\r\r\n\n\n\r");
        QTest::newRow("markup characters") << QString("& < > \" '");
        QTest::newRow("CDATA end") << QString("]]>");
        QTest::newRow("looks like CDATA") << QString("<![CDATA[x]]>");
        QTest::newRow("looks like references") << QString("&amp; &#xD; &lt; &x;");
        QTest::newRow("looks like a DOCTYPE")
            << QString("<!DOCTYPE x [<!ENTITY y SYSTEM \"file:///etc/hostname\">]>");
        QTest::newRow("looks like a comment") << QString("<!-- not a comment -->");
        QTest::newRow("looks like an instruction") << QString("<?xml version=\"1.0\"?>");
        QTest::newRow("Latin accents") << QString("é à ü ß");
        QTest::newRow("Japanese") << QString("日本語");
        QTest::newRow("emoji") << QString("⏰😀👍🏽");
        QTest::newRow("combining mark") << QString("e\u0301");
        QTest::newRow("byte order mark characters") << QString("\uFEFFa\uFEFF");
        QTest::newRow("DEL, NEL, line separator") << QString("\x7F\u0085\u2028");
        QTest::newRow("highest code point") << QString::fromUcs4(U"\U0010FFFD");
        QTest::newRow("Windows path") << QString("C:\\Sounds\\wake up.wav");
        QTest::newRow("placeholders") << QString("%1 %2 %");
        QTest::newRow("100k characters") << longValue();
    }

    // Each value goes through a first write, a load, and writes that carry
    // the loaded text back unchanged, in every place a value can stand.
    void valueRoundTrip()
    {
        QFETCH(QString, value);
        QVERIFY(
            saveQuestions(dir(), asPairs({{"before", "x"}, {value, value}, {"after", "y"}})).ok);
        QVERIFY(saveSettings(dir(), value, value).ok);
        QVERIFY(saveSettings(dir(), value, value).ok);
        QVERIFY(!outline(readFile()).last().startsWith("ERROR"));

        const StoredSettings stored = load(dir());
        QCOMPARE(describe(stored), QStringList({"file:" + value, "time:" + value, "Q:before", "A:x",
                                                "Q:" + value, "A:" + value, "Q:after", "A:y"}));

        // The questions, carried through those settings saves, survive another Done.
        QVERIFY(saveQuestions(dir(), stored.pairs).ok);
        QCOMPARE(describe(load(dir())), describe(stored));
    }

    void unwritableCharactersDropped_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");

        QTest::newRow("C0 control") << QString("a\x01z") << QString("az");
        QTest::newRow("NUL") << QString("a") + QChar(0) + QString("z") << QString("az");
        QTest::newRow("vertical tab, form feed, escape") << QString("\x0B\x0C\x1B") << QString("");
        QTest::newRow("lone high surrogate") << QString("a") + QChar(0xD83D) + "z" << QString("az");
        QTest::newRow("lone low surrogate") << QString("a") + QChar(0xDE00) + "z" << QString("az");
        QTest::newRow("surrogates in the wrong order")
            << QString(QChar(0xDE00)) + QChar(0xD83D) << QString("");
        QTest::newRow("high surrogate at the end") << QString("a") + QChar(0xD83D) << QString("a");
        QTest::newRow("U+FFFE and U+FFFF")
            << QString("a") + QChar(0xFFFE) + QChar(0xFFFF) + "z" << QString("az");
        QTest::newRow("mixed with what XML can hold")
            << QString("ok\x01\t😀") + QChar(0xFFFF) + "\r\nend" << QString("ok\t😀\r\nend");
    }

    void unwritableCharactersDropped()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QVERIFY(saveSettings(dir(), value, "t").ok);
        QVERIFY(saveQuestions(dir(), asPairs({{value, value}})).ok);
        QVERIFY2(!outline(readFile()).last().startsWith("ERROR"), readFile().constData());
        QCOMPARE(describe(load(dir())),
                 QStringList({"file:" + expected, "time:t", "Q:" + expected, "A:" + expected}));
    }

    void loadFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");

        const QStringList values{"file:/s/a.wav", "time:7:30", "Q:q1", "A:a1", "Q:q2", "A:a2"};
        const QByteArray compact = "<AlarmClockConfig><WakeyFileName>/s/a.wav</WakeyFileName>"
                                   "<WakeyTime>7:30</WakeyTime><AwareTestQuestions><QA_Pair>"
                                   "<Question>q1</Question><Answer>a1</Answer></QA_Pair>"
                                   "<QA_Pair><Question>q2</Question><Answer>a2</Answer>"
                                   "</QA_Pair></AwareTestQuestions></AlarmClockConfig>";
        const QByteArray indented = "<AlarmClockConfig>\r\n"
                                    "\t<WakeyFileName>/s/a.wav</WakeyFileName>\r\n"
                                    "\t<WakeyTime>7:30</WakeyTime>\r\n"
                                    "\t<AwareTestQuestions>\r\n"
                                    "\t\t<QA_Pair>\r\n"
                                    "\t\t\t<Question>q1</Question>\r\n"
                                    "\t\t\t<Answer>a1</Answer>\r\n"
                                    "\t\t</QA_Pair>\r\n"
                                    "        <QA_Pair>\n"
                                    "            <Question>q2</Question>\n"
                                    "            <Answer>a2</Answer>\n"
                                    "        </QA_Pair>\n"
                                    "\t</AwareTestQuestions>\r\n"
                                    "</AlarmClockConfig>\r\n";
        const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

        QTest::newRow("compact, no declaration") << compact << values;
        QTest::newRow("compact, declaration") << declaration + compact << values;
        QTest::newRow("indented, no declaration") << indented << values;
        QTest::newRow("indented, declaration") << declaration + indented << values;
        QTest::newRow("UTF-8 BOM, no declaration") << "\xEF\xBB\xBF" + indented << values;
        QTest::newRow("UTF-8 BOM, declaration") << "\xEF\xBB\xBF" + declaration + compact << values;
        QTest::newRow("standalone declaration")
            << "<?xml version='1.0' standalone='yes'?>" + compact << values;
        QTest::newRow("UTF-16LE with BOM")
            << utf16(
                   "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r><WakeyTime>日本</WakeyTime></r>",
                   false)
            << QStringList{"time:日本"};
        QTest::newRow("UTF-16BE with BOM")
            << utf16("<r><WakeyTime>é😀</WakeyTime></r>", true) << QStringList{"time:é😀"};
        QTest::newRow("declared ISO-8859-1")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                          "<r><WakeyTime>caf\xE9</WakeyTime></r>")
            << QStringList{"time:café"};
        QTest::newRow("BOM wins over a declared encoding")
            << QByteArray("\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?>"
                          "<r><WakeyTime>\xC3\xA9</WakeyTime></r>")
            << QStringList{"time:é"};
        QTest::newRow("declared encoding, lower case, blanks around =")
            << QByteArray("<?xml version='1.0' encoding = 'iso-8859-1' ?><r><WakeyTime>\xE9"
                          "</WakeyTime></r>")
            << QStringList{"time:é"};
        QTest::newRow("instruction named like the declaration is not one")
            << QByteArray("<?xml-stylesheet href='s.xsl' encoding='ISO-8859-1'?>"
                          "<r><WakeyTime>\xC3\xA9</WakeyTime></r>")
            << QStringList{"time:é"};
        QTest::newRow("comments and instructions around the root")
            << "<!-- a -->\n<?app x?>\n" + compact + "\n<!-- b -->\n<?app y?>\n"
            << values;
        QTest::newRow("root of another name")
            << QByteArray("<Settings><WakeyTime>6:00</WakeyTime><QA_Pair><Question>q</Question>"
                          "<Answer>a</Answer></QA_Pair></Settings>")
            << QStringList{"time:6:00", "Q:q", "A:a"};
        QTest::newRow("names are case-sensitive")
            << QByteArray("<AlarmClockConfig><wakeytime>1</wakeytime><WAKEYFILENAME>2"
                          "</WAKEYFILENAME><qa_pair><Question>3</Question></qa_pair>"
                          "<QA_PAIR><Question>4</Question></QA_PAIR></AlarmClockConfig>")
            << QStringList{};
        QTest::newRow("prefixed names are other names")
            << QByteArray("<r xmlns:x=\"urn:x\"><x:WakeyTime>1</x:WakeyTime></r>") << QStringList{};
        QTest::newRow("first element of a name in document order wins")
            << QByteArray("<r><Other><WakeyTime>nested first</WakeyTime></Other>"
                          "<WakeyTime>second</WakeyTime><WakeyFileName>f1</WakeyFileName>"
                          "<WakeyFileName>f2</WakeyFileName></r>")
            << QStringList{"file:f1", "time:nested first"};
        QTest::newRow("empty elements")
            << QByteArray("<r><WakeyFileName/><WakeyTime></WakeyTime><QA_Pair><Question/>"
                          "<Answer></Answer></QA_Pair></r>")
            << QStringList{"file:", "time:", "Q:", "A:"};
        QTest::newRow("pairs lacking parts load as empty, loading goes on")
            << QByteArray("<r><AwareTestQuestions><QA_Pair><Question>q1</Question></QA_Pair>"
                          "<QA_Pair><Answer>a2</Answer></QA_Pair><QA_Pair/>"
                          "<QA_Pair><Answer>a4</Answer><Question>q4</Question></QA_Pair>"
                          "</AwareTestQuestions></r>")
            << QStringList{"Q:q1", "A:", "Q:", "A:a2", "Q:", "A:", "Q:q4", "A:a4"};
        QTest::newRow("pairs outside the container, in document order")
            << QByteArray("<r><QA_Pair><Question>before</Question><Answer>1</Answer></QA_Pair>"
                          "<AwareTestQuestions><QA_Pair><Question>inside</Question>"
                          "<Answer>2</Answer></QA_Pair></AwareTestQuestions>"
                          "<Elsewhere><QA_Pair><Question>deep</Question><Answer>3</Answer>"
                          "</QA_Pair></Elsewhere><AwareTestQuestions><QA_Pair>"
                          "<Question>second container</Question><Answer>4</Answer></QA_Pair>"
                          "</AwareTestQuestions></r>")
            << QStringList{"Q:before", "A:1", "Q:inside",           "A:2",
                           "Q:deep",   "A:3", "Q:second container", "A:4"};
        QTest::newRow("only the first direct Question and Answer count")
            << QByteArray("<r><QA_Pair><X><Question>grandchild</Question></X>"
                          "<Question>direct</Question><Question>later</Question>"
                          "<Answer>a</Answer><Answer>later</Answer></QA_Pair></r>")
            << QStringList{"Q:direct", "A:a"};
        QTest::newRow("comment, markup and CDATA inside a value")
            << QByteArray("<r><WakeyTime>7:<!-- c --><b>3</b><![CDATA[0 <&>]]></WakeyTime></r>")
            << QStringList{"time:7:30 <&>"};
        QTest::newRow("entity and character references")
            << QByteArray("<r><WakeyTime>&amp;&lt;&gt;&quot;&apos;&#x65E5;&#26412;&#x1F600;"
                          "</WakeyTime></r>")
            << QStringList{"time:&<>\"'日本😀"};
        QTest::newRow("literal carriage returns are line ends")
            << QByteArray("<r><WakeyTime>a\r\nb\rc</WakeyTime></r>") << QStringList{"time:a\nb\nc"};
        QTest::newRow("whitespace-only values are kept")
            << QByteArray("<r>\n  <WakeyTime> </WakeyTime>\n  <WakeyFileName>\t \n</WakeyFileName>"
                          "\n  <QA_Pair>\n    <Question>   </Question>\n    <Answer>&#x20;"
                          "</Answer>\n  </QA_Pair>\n</r>")
            << QStringList{"file:\t \n", "time: ", "Q:   ", "A: "};
        QTest::newRow("attributes are ignored")
            << QByteArray("<r version=\"2\"><WakeyTime zone='UTC' a=\"&lt;&gt;\">7</WakeyTime></r>")
            << QStringList{"time:7"};
        QTest::newRow("a time that is not a time is loaded all the same")
            << QByteArray("<r><WakeyTime>half past seven</WakeyTime></r>")
            << QStringList{"time:half past seven"};
    }

    void loadFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QVERIFY(writeFile(bytes));
        QCOMPARE(describe(load(dir())), expected);
    }

    void unusableFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");

        const QByteArray settings = "<WakeyFileName>f</WakeyFileName><WakeyTime>7:30</WakeyTime>"
                                    "<QA_Pair><Question>q</Question><Answer>a</Answer></QA_Pair>";

        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("blanks only") << QByteArray("  \n\t ");
        QTest::newRow("not XML") << QByteArray("WakeyTime=7:30");
        QTest::newRow("truncated") << "<AlarmClockConfig>" + settings;
        QTest::newRow("two roots") << "<a/><AlarmClockConfig>" + settings + "</AlarmClockConfig>";
        QTest::newRow("declaration only") << QByteArray("<?xml version=\"1.0\"?>");
        QTest::newRow("comment only") << QByteArray("<!-- nothing -->");
        QTest::newRow("mismatched tags") << "<AlarmClockConfig>" + settings + "</Other>";
        QTest::newRow("undeclared entity")
            << "<AlarmClockConfig>" + settings + "<WakeyTime>&x;</WakeyTime></AlarmClockConfig>";
        QTest::newRow("invalid UTF-8")
            << "<AlarmClockConfig>" + settings + "<X>\xC3\x28</X></AlarmClockConfig>";
        QTest::newRow("incomplete UTF-8 sequence")
            << "<AlarmClockConfig>" + settings + "<X>\xE6\x97</X></AlarmClockConfig>";
        QTest::newRow("lone surrogate in UTF-16")
            << utf16("<r><WakeyTime>a" + QString(QChar(0xD800)) + "b</WakeyTime></r>", false);
        QTest::newRow("two lone low surrogates in UTF-16")
            << utf16("<r><WakeyTime>a" + QString(2, QChar(0xDC00)) + "b</WakeyTime></r>", false);
        QTest::newRow("invalid ISO-8859-1 declared as UTF-8")
            << "<?xml version='1.0' encoding='utf-8'?><AlarmClockConfig>" + settings +
                   "<X>caf\xE9</X></AlarmClockConfig>";
        QTest::newRow("unknown declared encoding")
            << "<?xml version=\"1.0\" encoding=\"no-such-encoding\"?><AlarmClockConfig>" +
                   settings + "</AlarmClockConfig>";
        QTest::newRow("encoding named twice")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\" encoding=\"ISO-8859-1\"?>"
               "<AlarmClockConfig>" +
                   settings + "</AlarmClockConfig>";
        QTest::newRow("declaration never closed") << "<?xml version=\"1.0\" " + settings;
        QTest::newRow("control character in the file")
            << "<AlarmClockConfig>" + settings + "<X>\x01</X></AlarmClockConfig>";

        // Hostile files: no DTD content and no entity but the predefined ones
        // ever reach the reader.
        QTest::newRow("external entity naming a local file")
            << "<!DOCTYPE AlarmClockConfig [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"
               "<AlarmClockConfig>" +
                   settings + "<Question>&x;</Question></AlarmClockConfig>";
        QTest::newRow("external entity on the network")
            << "<!DOCTYPE r [<!ENTITY x SYSTEM \"http://127.0.0.1:9/x\">]><r>" + settings +
                   "&x;</r>";
        QTest::newRow("empty internal subset") << "<!DOCTYPE r []><r>" + settings + "</r>";
        QTest::newRow("internal subset after an external identifier")
            << "<!DOCTYPE r SYSTEM \"x.dtd\" [<!ENTITY x \"X\">]><r>" + settings +
                   "<WakeyTime>&x;</WakeyTime></r>";
        QTest::newRow("undeclared entity beside an external DTD")
            << "<!DOCTYPE r SYSTEM \"x.dtd\"><r>" + settings + "<WakeyTime>&x;</WakeyTime></r>";
        // Qt 6.4's reader keeps this one as the text "&x;".
        QTest::newRow("undeclared entity in an attribute beside an external DTD")
            << "<!DOCTYPE r PUBLIC \"-//x//y\" \"z.dtd\"><r a=\"&x;\">" + settings + "</r>";
        QTest::newRow("two DOCTYPEs") << "<!DOCTYPE r><!DOCTYPE r><r>" + settings + "</r>";
        QTest::newRow("plain DOCTYPE inside the root") << "<r><!DOCTYPE r>" + settings + "</r>";
        QTest::newRow("lower-case doctype") << "<!doctype r><r>" + settings + "</r>";
        QTest::newRow("billion laughs")
            << billionLaughsDoctype() + "<r>" + settings + "<Question>&l9;</Question></r>";
        QTest::newRow("recursive entities")
            << "<!DOCTYPE r [<!ENTITY a \"&b;\"><!ENTITY b \"&a;\">]><r>" + settings +
                   "<WakeyTime>&a;</WakeyTime></r>";
        QTest::newRow("parameter entities")
            << "<!DOCTYPE r [<!ENTITY % p \"<!ENTITY x 'X'>\"> %p;]><r>" + settings + "&x;</r>";
        // Qt 6.4's reader accepts these and expands the entity declared there.
        QTest::newRow("DOCTYPE inside the root")
            << "<r><!DOCTYPE r [<!ENTITY x \"EXPANDED\">]>" + settings + "</r>";
        QTest::newRow("DOCTYPE after the root")
            << "<r>" + settings + "</r><!DOCTYPE r [<!ENTITY x \"X\">]>";
        QTest::newRow("DOCTYPE in UTF-16")
            << utf16("<r><!DOCTYPE r [<!ENTITY x \"X\">]>" + QString::fromLatin1(settings) +
                         "<WakeyTime>&x;</WakeyTime></r>",
                     false);
        QTest::newRow("DOCTYPE in a declared 8-bit encoding")
            << "<?xml version='1.0' encoding='ISO-8859-1'?><r><!DOCTYPE r [<!ENTITY x \"X\">]>" +
                   settings + "</r>";
        QTest::newRow("ENTITY without DOCTYPE") << "<!ENTITY x \"X\"><r>" + settings + "</r>";
        QByteArray attributes = "<AlarmClockConfig";
        for (int i = 0; i < 100'000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"\"";
        QTest::newRow("100k attributes") << attributes + ">" + settings + "</AlarmClockConfig>";
        QTest::newRow("100k levels, never closed")
            << "<AlarmClockConfig>" + settings + nested("<a>", "", 100'000, "");
    }

    // Such a file loads nothing; the next save writes a fresh document that
    // holds only what that save writes, and keeps the old file aside unless
    // it was empty.
    void unusableFile()
    {
        QFETCH(QByteArray, bytes);
        // Nothing is logged, not even for a hostile file: the caller tells
        // the person of a failed save.
        g_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
        const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
        QVERIFY(writeFile(bytes));
        QCOMPARE(describe(load(dir())), QStringList());

        const SaveResult first = saveSettings(dir(), "g", "8:00");
        QVERIFY(first.ok);
        QCOMPARE(outline(readFile()),
                 QStringList({"AlarmClockConfig", ".WakeyFileName=g", ".WakeyTime=8:00"}));

        QVERIFY(writeFile(bytes));
        const SaveResult second = saveQuestions(dir(), asPairs({{"q2", "a2"}}));
        QVERIFY(second.ok);
        QCOMPARE(outline(readFile()), QStringList({"AlarmClockConfig", ".AwareTestQuestions",
                                                   "..QA_Pair", "...Question=q2", "...Answer=a2"}));
        QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(u'\n')));

        if (bytes.isEmpty()) {
            QVERIFY(first.keptAside.isEmpty());
            QVERIFY(second.keptAside.isEmpty());
            return;
        }
        // Neither copy written over by the other; the latest under the plain name.
        QCOMPARE(first.keptAside, path() + ".unreadable");
        QCOMPARE(second.keptAside, path() + ".unreadable");
        for (const QString &aside : {path() + ".unreadable", path() + ".unreadable-2"}) {
            QFile kept(aside);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), bytes);
        }
        QVERIFY2(second.message().contains(second.keptAside), qPrintable(second.message()));
        // A good file is written over as before, with nothing kept aside.
        const SaveResult third = saveSettings(dir(), "h", "9:00");
        QVERIFY(third.ok);
        QVERIFY(third.keptAside.isEmpty());
        QCOMPARE(third.message(), QString());
        QVERIFY(!QFile::exists(path() + ".unreadable-3"));
    }

    void unusableFileCopiesBounded_data()
    {
        QTest::addColumn<QString>("folderAt");
        QTest::addColumn<QStringList>("copies"); // newest first
        QTest::newRow("three copies") << QString("-57") << QStringList{"", "-2", "-3"};
        QTest::newRow("a folder named like a copy") << QString("-2") << QStringList{"", "-3"};
    }

    // Copies kept aside stay few: the oldest goes, and the save that drops it
    // says so; names of older copies', and names that are not files, stay.
    void unusableFileCopiesBounded()
    {
        QFETCH(QString, folderAt);
        QFETCH(QStringList, copies);
        QVERIFY(QDir().mkdir(path() + ".unreadable" + folderAt));
        for (int n = 1; n <= 5; ++n) {
            QVERIFY(writeFile("<AlarmClockConfig><Wakey" + QByteArray::number(n)));
            const QString message = saveQuestions(dir(), asPairs({{"q", "a"}})).message();
            QCOMPARE(message.endsWith(", " + path() + ".unreadable-3, was dropped."),
                     n > copies.size());
        }
        QStringList names{kFileName};
        for (const QString &copy : copies + QStringList(folderAt))
            names << kFileName + (".unreadable" + copy);
        names.sort();
        QCOMPARE(QDir(dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 names);
        for (int n = 0; n < copies.size(); ++n) {
            QFile kept(path() + ".unreadable" + copies[n]);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), "<AlarmClockConfig><Wakey" + QByteArray::number(5 - n));
        }
    }

    // When the fresh document cannot be written, the unreadable file is put
    // back: a failed save changes nothing on disk.
    void unusableFileStaysWhenSaveFails()
    {
        const QByteArray damaged =
            "<AlarmClockConfig><QA_Pair><Question>q\xFF</Question></QA_Pair></AlarmClockConfig>";
        QVERIFY(writeFile(damaged));
        SaveResult result;
        {
            FileSizeLimit limit(16);
            result = saveSettings(dir(), QString(1000, u'x'), "8:00");
        }
        QVERIFY(!result.ok);
        QVERIFY(result.keptAside.isEmpty());
        QCOMPARE(readFile(), damaged);
        QCOMPARE(QDir(dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{kFileName});
    }

    // A DOCTYPE of a name and an external identifier brings no DTD content:
    // the file loads, nothing is fetched, and saves keep the DOCTYPE as written.
    void doctypeKept_data()
    {
        QTest::addColumn<QByteArray>("doctype");
        QTest::newRow("name only") << QByteArray("<!DOCTYPE AlarmClockConfig>");
        QTest::newRow("SYSTEM") << QByteArray("<!DOCTYPE AlarmClockConfig SYSTEM \"x.dtd\">");
        QTest::newRow("PUBLIC") << QByteArray(
            "<!DOCTYPE AlarmClockConfig PUBLIC \"-//x//y\" \"z.dtd\">");
        QTest::newRow("SYSTEM on the network, blanks and line breaks")
            << QByteArray("<!DOCTYPE\n  AlarmClockConfig SYSTEM\n  'http://127.0.0.1:9/x.dtd' >");
    }

    void doctypeKept()
    {
        QFETCH(QByteArray, doctype);
        QVERIFY(writeFile("<?xml version=\"1.0\"?>\n" + doctype +
                          "\n<AlarmClockConfig><WakeyTime>7:30</WakeyTime><AwareTestQuestions>"
                          "<QA_Pair><Question>q1</Question><Answer>a&amp;1</Answer></QA_Pair>"
                          "<QA_Pair><Question>q2</Question><Answer>&#x65E5;</Answer></QA_Pair>"
                          "</AwareTestQuestions></AlarmClockConfig>"));
        QCOMPARE(describe(load(dir())),
                 QStringList({"time:7:30", "Q:q1", "A:a&1", "Q:q2", "A:日"}));

        const SaveResult set = saveSettings(dir(), "f", "8:00");
        QVERIFY2(set.ok, qPrintable(set.message()));
        QCOMPARE(set.keptAside, QString());
        const SaveResult done = saveQuestions(dir(), asPairs({{"q3", "a3"}}));
        QVERIFY2(done.ok, qPrintable(done.message()));
        QCOMPARE(done.keptAside, QString());
        QVERIFY2(readFile().startsWith(doctype + "\n<AlarmClockConfig>"), readFile().constData());
        QCOMPARE(describe(load(dir())), QStringList({"file:f", "time:8:00", "Q:q3", "A:a3"}));
        QCOMPARE(QDir(dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{kFileName});
    }

    void deepNesting_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("100k levels of another element")
            << "<AlarmClockConfig>" +
                   nested("<a>", "</a>", 100'000, "<WakeyTime>deep</WakeyTime>") +
                   "<WakeyFileName>f</WakeyFileName></AlarmClockConfig>"
            << QStringList{"file:f", "time:deep"};
        QStringList pairs;
        for (int i = 0; i < 50'000; ++i)
            pairs << "Q:x"
                  << "A:";
        QTest::newRow("50k pairs, each inside the question before")
            << "<AlarmClockConfig>" +
                   nested("<QA_Pair><Question>", "</Question></QA_Pair>", 50'000, "x") +
                   "</AlarmClockConfig>"
            << pairs;
        // The saves' own values must read back however the file nests them.
        QTest::newRow("file name inside the time")
            << QByteArray("<AlarmClockConfig><WakeyTime>7:30<WakeyFileName>/s/a.wav"
                          "</WakeyFileName></WakeyTime></AlarmClockConfig>")
            << QStringList{"file:/s/a.wav", "time:7:30/s/a.wav"};
        QTest::newRow("the time as the root")
            << QByteArray("<WakeyTime>7:30</WakeyTime>") << QStringList{"time:7:30"};
        QTest::newRow("the file name as the root")
            << QByteArray("<WakeyFileName>/s/a.wav</WakeyFileName>")
            << QStringList{"file:/s/a.wav"};
        QTest::newRow("an empty container as the root")
            << QByteArray("<AwareTestQuestions/>") << QStringList{};
    }

    void deepNesting()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QVERIFY(writeFile(bytes));
        QCOMPARE(describe(load(dir())), expected);

        // Both saves keep the nesting and write a file that loads again.
        QVERIFY(saveSettings(dir(), "g", "8:00").ok);
        QVERIFY(saveQuestions(dir(), asPairs({{"new", "pair"}})).ok);
        QStringList expectedAfter{"file:g", "time:8:00"};
        for (const QString &line : expected) {
            if (line.startsWith("Q:") || line.startsWith("A:"))
                expectedAfter << line;
        }
        expectedAfter << "Q:new"
                      << "A:pair";
        QCOMPARE(describe(load(dir())), expectedAfter);
    }

    void fileSizeBound_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("at the bound") << kMaxFileBytes << QStringList{"time:7:30"};
        QTest::newRow("one byte over") << kMaxFileBytes + 1 << QStringList{};
    }

    void fileSizeBound()
    {
        QFETCH(qint64, size);
        QFETCH(QStringList, expected);
        const QByteArray head = "<AlarmClockConfig><WakeyTime>7:30</WakeyTime><!--";
        const QByteArray tail = "--></AlarmClockConfig>";
        const QByteArray bytes = head + QByteArray(size - head.size() - tail.size(), ' ') + tail;
        QVERIFY(writeFile(bytes));
        QCOMPARE(describe(load(dir())), expected);
        // Too large a file is kept aside untouched, and the person told why;
        // a save that would make the file too large to read back is refused.
        const SaveResult saved = saveSettings(dir(), "f", "8:00");
        QCOMPARE(saved.ok, expected.isEmpty());
        QCOMPARE(saved.keptAside, expected.isEmpty() ? path() + ".unreadable" : QString());
        QVERIFY2(saved.message().contains(expected.isEmpty() ? "larger than the 8 MiB"
                                                             : "more than the 8 MiB"),
                 qPrintable(saved.message()));
        QFile kept(expected.isEmpty() ? saved.keptAside : path());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), bytes);
    }

    // Peak memory of a load or a save, in a child of its own, beside that of
    // a child that does nothing, for a file at the bound.
    void memoryBoundedByFile_data()
    {
        QTest::addColumn<QByteArray>("unit");
        QTest::addColumn<bool>("saving");
        QTest::addColumn<double>("factor");
        QByteArray attributes = "<e";
        for (int i = 0; i < 64; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"" + QByteArray::number(i) + "\"";
        QTest::newRow("attributes, Set") << attributes + "/>" << true << 4.0;
        // The reader holds the text as UTF-16 while the document keeps it as
        // UTF-8: a single long text costs the most.
        QTest::newRow("one long text, Set") << QByteArray("lorem ipsum ") << true << 5.0;
        // '#' is each element's number: every name is new.
        QTest::newRow("distinct names, Set") << QByteArray("<n#/>\n") << true << 5.0;
    }

    void memoryBoundedByFile()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer's shadow memory and quarantine are not the program's");
#endif
        QFETCH(QByteArray, unit);
        QFETCH(bool, saving);
        QFETCH(double, factor);
        const QByteArray head = "<AlarmClockConfig><WakeyTime>7:30</WakeyTime><QA_Pair><Question>";
        const QByteArray tail = "</Question></QA_Pair></AlarmClockConfig>";
        QByteArray bytes = head;
        for (qint64 n = 0; bytes.size() + unit.size() + 8 < kMaxFileBytes - 256; ++n)
            bytes += QByteArray(unit).replace('#', QByteArray::number(n));
        bytes += tail;
        QVERIFY(writeFile(bytes));
        const double size = double(bytes.size());
        bytes.clear();
        // The work's own peak, in a child: the heap the parent freed is given
        // back and the high-water mark reset first, so that neither the
        // parent's pages nor its free lists hide what the work touches.
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(fds[0]);
            ::malloc_trim(0);
            const int reset = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
            const bool resetOk = reset >= 0 && ::write(reset, "5", 1) == 1;
            ::close(reset);
            const long start = statusKiB("VmRSS:");
            const bool ok = resetOk && (saving ? saveSettings(dir(), "f", "8:00").ok
                                               : load(dir()).wakeyTime == "7:30");
            const long grown = ok ? statusKiB("VmHWM:") - start : -1;
            (void)!::write(fds[1], &grown, sizeof grown);
            ::_exit(0);
        }
        ::close(fds[1]);
        long grown = -1;
        const bool got = ::read(fds[0], &grown, sizeof grown) == ssize_t(sizeof grown);
        ::close(fds[0]);
        QCOMPARE(::waitpid(child, nullptr, 0), child);
        QVERIFY(got && grown >= 0);
        QVERIFY2(double(grown) * 1024 <= factor * size,
                 qPrintable(QString("%1 times the file").arg(double(grown) * 1024 / size)));
    }

    // A save removes what earlier saves were killed leaving behind, and nothing
    // a person or another running copy owns. A copy in another pid namespace
    // or on another machine has an id that means nothing here; its lock does.
    void strayTemporariesGoOthersStay()
    {
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        QVERIFY(dead > 0 && ::waitpid(dead, nullptr, 0) == dead);
        const auto name = [&](const QString &suffix) { return path() + '.' + suffix; };
        const QString live = name(QString("saving-%1").arg(dead + 1000000));
        const QStringList gone{name(QString("saving-%1").arg(dead)),
                               name(QString("saving-%1").arg(::getpid())),
                               name(QString("saving-%1").arg(::getppid()))};
        const QStringList kept{live, name("backup"), name("saving-copy"), name("Ab12Cd"),
                               path() + "-saving-1"};
        for (const QString &file : gone + kept)
            QVERIFY(writeBytes(file, "<AlarmClockConfig/>"));
        // Locks taken through another open of the file stop this process too.
        const int holder = ::open(QFile::encodeName(live).constData(), O_RDONLY);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
        const auto release = qScopeGuard([holder] { ::close(holder); });
        QVERIFY(saveSettings(dir(), "f", "t").ok);
        for (const QString &file : gone)
            QVERIFY2(!QFile::exists(file), qPrintable(file));
        for (const QString &file : kept)
            QVERIFY2(QFile::exists(file), qPrintable(file));
    }

    void replacedFileKeepsModeAndLink_data()
    {
        QTest::addColumn<mode_t>("mode");
        QTest::addColumn<mode_t>("expected");
        QTest::newRow("mode kept") << mode_t(0640) << mode_t(0640);
        QTest::newRow("owner may write, not read") << mode_t(0200) << mode_t(0600);
    }

    // The replaced file keeps its permissions, and a link keeps pointing at it.
    void replacedFileKeepsModeAndLink()
    {
        QFETCH(mode_t, mode);
        QFETCH(mode_t, expected);
        const QString real = dir() + "/real.xml";
        QVERIFY(writeBytes(real, "<AlarmClockConfig/>"));
        QVERIFY(::chmod(QFile::encodeName(real).constData(), mode) == 0);
        // Root saving another user's file leaves it theirs.
        const bool root = ::geteuid() == 0;
        if (!root && mode == 0200)
            QSKIP("Unreadable to its owner, it is kept aside, link and all, by the save");
        QVERIFY(!root || ::chown(QFile::encodeName(real).constData(), 65534, 65534) == 0);
        QVERIFY(QFile::link(real, path()));
        QVERIFY(saveSettings(dir(), "f", "t").ok);
        QVERIFY(QFileInfo(path()).isSymLink());
        QCOMPARE(describe(load(dir())), QStringList({"file:f", "time:t"}));
        struct stat info = {};
        QVERIFY(::stat(QFile::encodeName(real).constData(), &info) == 0);
        QCOMPARE(info.st_mode & 07777, expected);
        QCOMPARE(info.st_uid, root ? uid_t(65534) : ::geteuid());
        QCOMPARE(QDir(dir()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // A hand-written file keeps everything a save does not own.
    void foreignContentKept()
    {
        QVERIFY(
            writeFile("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                      "<!-- written by hand -->\n"
                      "<AlarmClockConfig version=\"1\" note=\"a&lt;b &amp; &quot;c&quot;&#9;d\">\n"
                      "\t<QA_Pair><Question>loose</Question><Answer>1</Answer></QA_Pair>\n"
                      "\t<AwareTestQuestions>\n"
                      "\t\t<!-- old pairs -->\n"
                      "\t\t<QA_Pair><Question>old</Question><Answer>caf\xE9</Answer></QA_Pair>\n"
                      "\t</AwareTestQuestions>\n"
                      "\t<WakeyTime>old<b>bold</b></WakeyTime>\n"
                      "\t<Extra><![CDATA[<kept> & ]]>mixed <i>text</i><Empty></Empty></Extra>\n"
                      "\t<?app data?>\n"
                      "</AlarmClockConfig>\n"
                      "<!-- after -->"));

        QVERIFY(saveSettings(dir(), "/s/a.wav", "7:30").ok);
        const QByteArray afterSet =
            "<!-- written by hand -->\n"
            "<AlarmClockConfig version=\"1\" note=\"a&lt;b &amp; &quot;c&quot;&#x9;d\">\n"
            "\t<QA_Pair><Question>loose</Question><Answer>1</Answer></QA_Pair>\n"
            "\t<AwareTestQuestions>\n"
            "\t\t<!-- old pairs -->\n"
            "\t\t<QA_Pair><Question>old</Question><Answer>caf\xC3\xA9</Answer></QA_Pair>\n"
            "\t</AwareTestQuestions>\n"
            "\t<WakeyTime>7:30</WakeyTime>\n"
            "\t<Extra><![CDATA[<kept> & ]]>mixed <i>text</i><Empty/></Extra>\n"
            "\t<?app data?>\n"
            "  <WakeyFileName>/s/a.wav</WakeyFileName>\n"
            "</AlarmClockConfig>\n"
            "<!-- after -->\n";
        QCOMPARE(readFile(), afterSet);
        QCOMPARE(describe(load(dir())),
                 QStringList({"file:/s/a.wav", "time:7:30", "Q:loose", "A:1", "Q:old", "A:café"}));

        QVERIFY(saveQuestions(dir(), asPairs({{"n1", "m1"}, {"n2", ""}})).ok);
        const QByteArray afterDone =
            "<!-- written by hand -->\n"
            "<AlarmClockConfig version=\"1\" note=\"a&lt;b &amp; &quot;c&quot;&#x9;d\">\n"
            "\t<QA_Pair><Question>loose</Question><Answer>1</Answer></QA_Pair>\n"
            "\t<AwareTestQuestions>\n"
            "    <QA_Pair>\n"
            "      <Question>n1</Question>\n"
            "      <Answer>m1</Answer>\n"
            "    </QA_Pair>\n"
            "    <QA_Pair>\n"
            "      <Question>n2</Question>\n"
            "      <Answer></Answer>\n"
            "    </QA_Pair>\n"
            "  </AwareTestQuestions>\n"
            "\t<WakeyTime>7:30</WakeyTime>\n"
            "\t<Extra><![CDATA[<kept> & ]]>mixed <i>text</i><Empty/></Extra>\n"
            "\t<?app data?>\n"
            "  <WakeyFileName>/s/a.wav</WakeyFileName>\n"
            "</AlarmClockConfig>\n"
            "<!-- after -->\n";
        QCOMPARE(readFile(), afterDone);
        QCOMPARE(describe(load(dir())), QStringList({"file:/s/a.wav", "time:7:30", "Q:loose", "A:1",
                                                     "Q:n1", "A:m1", "Q:n2", "A:"}));
    }

    void saveIntoRootOfAnotherName()
    {
        QVERIFY(writeFile("<Settings><Kept>1</Kept></Settings>"));
        QVERIFY(saveQuestions(dir(), asPairs({{"q", "a"}})).ok);
        QVERIFY(saveSettings(dir(), "f", "t").ok);
        QCOMPARE(outline(readFile()),
                 QStringList({"Settings", ".Kept=1", ".AwareTestQuestions", "..QA_Pair",
                              "...Question=q", "...Answer=a", ".WakeyFileName=f", ".WakeyTime=t"}));
    }

    void largestSet()
    {
        Pairs pairs;
        for (int i = 0; i < 32767; ++i)
            pairs.append({QString("Question %1?").arg(i), QString::number(i + 1)});
        QVERIFY(saveQuestions(dir(), asPairs(pairs)).ok);
        QVERIFY(saveQuestions(dir(), asPairs(pairs)).ok);
        const StoredSettings stored = load(dir());
        QCOMPARE(stored.pairs.size(), 32767);
        QCOMPARE(stored.pairs.first().question, QString("Question 0?"));
        QCOMPARE(stored.pairs.last().question, QString("Question 32766?"));
        QCOMPARE(stored.pairs.last().answer, QString("32767"));
    }

    void failedSave_data()
    {
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("path is a directory") << Failure::PathIsDirectory << qt_error_string(EISDIR);
        // Opening one for reading or writing would block until someone opens
        // the other end.
        QTest::newRow("path is a named pipe")
            << Failure::PathIsPipe << QString("it is a named pipe, not a file");
        QTest::newRow("folder is a file") << Failure::ParentIsFile << qt_error_string(ENOTDIR);
        QTest::newRow("folder missing") << Failure::MissingDirectory << qt_error_string(ENOENT);
        QTest::newRow("read-only folder") << Failure::ReadOnlyDirectory << qt_error_string(EACCES);
        QTest::newRow("file size limit") << Failure::FileTooLarge << qt_error_string(EFBIG);
        QTest::newRow("link into a folder not there")
            << Failure::LinkToMissingFolder
            << QString("it is a link to /nowhere/x.xml, whose folder is not there");
    }

    void failedSavesChangeNothing_data()
    {
        QTest::addColumn<Route>("route");
        QTest::addColumn<Limit>("limit");
        QTest::newRow("replace, full disk") << Route::Replace << Limit::FullDisk;
        QTest::newRow("replace, file size limit") << Route::Replace << Limit::FileSize;
        QTest::newRow("in place, full disk") << Route::InPlace << Limit::FullDisk;
        QTest::newRow("in place, file size limit") << Route::InPlace << Limit::FileSize;
    }

    // Three Sets that cannot be written leave every file of the folder as it
    // was, in name and in bytes: a damaged file with a copy kept aside before
    // it, or a file written in place in a folder that takes no new ones.
    void failedSavesChangeNothing()
    {
        QFETCH(Route, route);
        QFETCH(Limit, limit);
        const bool root = ::geteuid() == 0;
        const QByteArray folder = QFile::encodeName(dir());
        if (limit == Limit::FullDisk &&
            (!root || ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k,mode=0755") != 0))
            QSKIP("A full disk is a small tmpfs, and mounting one needs root");
        const auto unmount = qScopeGuard([&] { ::umount2(folder.constData(), MNT_DETACH); });
        if (route == Route::Replace) {
            QVERIFY(writeBytes(path() + ".unreadable", "<AlarmClockConfig><older"));
            QVERIFY(writeFile("<AlarmClockConfig><Question>q\xFF</Question></AlarmClockConfig>"));
        } else {
            // Root, whom no folder refuses, saves as nobody.
            QVERIFY(saveQuestions(dir(), asPairs({{"q1", "a1"}})).ok);
            QVERIFY(::chmod(QFile::encodeName(path()).constData(), 0666) == 0);
            QVERIFY(::chmod(folder.constData(), root ? 0755 : 0555) == 0);
        }
        QFile filler(dir() + "/filler");
        if (limit == Limit::FullDisk)
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        for (const qsizetype size : {4096, 1})
            while (filler.isOpen() && filler.write(QByteArray(size, 'f')) > 0)
                ;
        filler.close();
        const QMap<QString, QByteArray> before = contents(dir());
        const QString expected = "Could not save the settings to " + path() + ": " +
                                 qt_error_string(limit == Limit::FullDisk ? ENOSPC : EFBIG);
        const pid_t child = ::fork();
        if (child == 0) {
            if (root && route == Route::InPlace && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(10);
            std::optional<FileSizeLimit> sizeLimit;
            if (limit == Limit::FileSize)
                sizeLimit.emplace(1024);
            int refused = 0;
            for (int n = 0; n < 3; ++n)
                refused +=
                    saveSettings(dir(), QString(100'000, u'x'), "8:00").message() == expected;
            ::_exit(refused);
        }
        int status = 0;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 3);
        QCOMPARE(contents(dir()), before);
    }

    // A failed save reports the file and the reason and changes nothing.
    void failedSave()
    {
        QFETCH(Failure, failure);
        QFETCH(QString, reason);
        const QByteArray old = "<AlarmClockConfig><WakeyTime>old</WakeyTime></AlarmClockConfig>";
        QString target = dir();
        switch (failure) {
        case Failure::PathIsDirectory:
            QVERIFY(QDir(dir()).mkdir(kFileName));
            break;
        case Failure::PathIsPipe:
            QVERIFY(::mkfifo(QFile::encodeName(path()).constData(), 0600) == 0);
            break;
        case Failure::ParentIsFile: {
            target = dir() + "/file";
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(old);
            break;
        }
        case Failure::MissingDirectory:
            target = dir() + "/missing";
            break;
        case Failure::ReadOnlyDirectory: {
            QVERIFY(writeFile(old));
            QVERIFY(QFile::setPermissions(dir(), QFile::ReadOwner | QFile::ExeOwner));
            QFile probe(dir() + "/probe");
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QSKIP("Permission bits do not stop this user (root); the file size limit row "
                      "covers a failed replace instead.");
            }
            break;
        }
        case Failure::FileTooLarge:
            QVERIFY(writeFile(old));
            break;
        case Failure::LinkToMissingFolder:
            QVERIFY(QFile::link("/nowhere/x.xml", path()));
            break;
        }
        const QStringList entriesBefore =
            QDir(dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        const QString big(20'000, u'x');
        Pairs pairs;
        for (int i = 0; i < 100; ++i)
            pairs.append({big, big});
        SaveResult results[2];
        {
            std::optional<FileSizeLimit> limit;
            if (failure == Failure::FileTooLarge)
                limit.emplace(4096);
            results[0] = saveSettings(target, big, big);
            results[1] = saveQuestions(target, asPairs(pairs));
        }

        for (const SaveResult &result : results) {
            QVERIFY(!result.ok);
            QCOMPARE(result.path, filePath(target));
            QCOMPARE(result.reason, reason);
            QCOMPARE(result.message(),
                     "Could not save the settings to " + filePath(target) + ": " + reason);
        }
        QCOMPARE(QDir(dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 entriesBefore);
        if (failure == Failure::ReadOnlyDirectory || failure == Failure::FileTooLarge)
            QCOMPARE(readFile(), old);
        if (failure == Failure::ParentIsFile) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), old);
        }
        if (failure == Failure::PathIsDirectory)
            QVERIFY(QFileInfo(path()).isDir());
        if (failure == Failure::PathIsPipe)
            QCOMPARE(describe(load(dir())), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_ConfigStore)
#include "tst_configstore.moc"
