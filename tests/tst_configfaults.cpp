// The main window against hostile configuration files, saves killed in the
// middle, a folder that cannot be written and a disk that is full.
#include "app/frmmain.h"
#include "awareness/frmquestions.h"
#include "config/configstore.h"
#include "support/badxml.h"
#include "support/fakes.h"
#include "support/files.h"
#include "support/modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QXmlStreamReader>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 6;
#else
constexpr int kSlowdown = 1;
#endif

const QByteArray kSecretMarker = "SECRET-MARKER-5d41402abc4b2a76";
const QString kAddedQuestion = "added?";
const QString kAddedAnswer = "yes";

// Ends the process when a step runs far past its budget, so that a hang
// fails the run instead of blocking it until CTest gives up.
class Watchdog
{
public:
    Watchdog(QByteArray what, std::chrono::milliseconds limit)
        : m_thread([this, what = std::move(what), limit] {
              std::unique_lock lock(m_mutex);
              if (!m_wake.wait_for(lock, limit, [this] { return m_done; }))
                  qFatal("%s: still running after %lld ms", what.constData(),
                         static_cast<long long>(limit.count()));
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread; // last: it uses the members above
};

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList describe(const QuestionSet &set)
{
    QStringList lines;
    for (const QuestionRef &question : set)
        lines << "Q:" + question->Question() << "A:" + question->Answer();
    return lines;
}

QStringList pairLines(const QStringList &lines)
{
    QStringList pairs;
    for (const QString &line : lines) {
        if (line.startsWith("Q:") || line.startsWith("A:"))
            pairs << line;
    }
    return pairs;
}

QString valueOf(const QStringList &lines, const QString &prefix)
{
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return QString();
}

bool hasValue(const QStringList &lines, const QString &prefix)
{
    return std::any_of(lines.cbegin(), lines.cend(),
                       [&](const QString &line) { return line.startsWith(prefix); });
}

// Everything of a document except the first element of each owned name (with
// all it holds), whitespace-only text and the XML declaration, as one digest.
// Read with Qt's reader, independently of the store, to show that a save
// changed nothing but what it owns.
QByteArray foreignDigest(const QByteArray &bytes, const QStringList &owned)
{
    QXmlStreamReader reader(bytes);
    reader.setNamespaceProcessing(false);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const auto addText = [&](QStringView text) {
        hash.addData(QByteArrayView(reinterpret_cast<const char *>(text.utf16()),
                                    text.size() * qsizetype(sizeof(char16_t))));
    };
    const auto add = [&](char kind, QStringView first, QStringView second = {}) {
        hash.addData(QByteArrayView(&kind, 1));
        addText(first);
        hash.addData("\x1F");
        addText(second);
        hash.addData("\x1E");
    };
    QString text;
    const auto flush = [&] {
        if (!text.trimmed().isEmpty())
            add('T', text);
        text.clear();
    };
    QSet<QString> skipped;
    qsizetype skipDepth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (skipDepth > 0) {
            if (token == QXmlStreamReader::StartElement)
                ++skipDepth;
            else if (token == QXmlStreamReader::EndElement)
                --skipDepth;
            continue;
        }
        switch (token) {
        case QXmlStreamReader::StartElement: {
            flush();
            const QString name = reader.qualifiedName().toString();
            if (owned.contains(name) && !skipped.contains(name)) {
                skipped.insert(name);
                skipDepth = 1;
                break;
            }
            add('<', name);
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                add('@', attribute.qualifiedName(), attribute.value());
            break;
        }
        case QXmlStreamReader::EndElement:
            flush();
            add('>', reader.qualifiedName());
            break;
        case QXmlStreamReader::Characters:
            if (reader.isCDATA()) {
                flush();
                add('C', reader.text());
            } else {
                text += reader.text();
            }
            break;
        case QXmlStreamReader::Comment:
            flush();
            add('!', reader.text());
            break;
        case QXmlStreamReader::ProcessingInstruction:
            flush();
            add('?', reader.processingInstructionTarget(), reader.processingInstructionData());
            break;
        default:
            break;
        }
    }
    flush();
    if (reader.hasError())
        return "unreadable: " + reader.errorString().toUtf8();
    return hash.result().toHex();
}

QByteArray utf16LeWithBom(const QByteArray &utf8)
{
    const QString text = QString::fromUtf8(utf8);
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    return bytes;
}

QByteArray binaryGarbage()
{
    QRandomGenerator random(42);
    QByteArray bytes(64 * 1024, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

constexpr qsizetype kFiftyMegabytes = 50 * 1000 * 1000;

// Placeholders that the rows use for what only a run knows or what is too
// large to keep in the table.
QByteArray expand(QByteArray bytes, const QString &wav, const QString &secret)
{
    const auto fill = [&](const char *placeholder, const std::function<QByteArray()> &make) {
        if (bytes.contains(placeholder))
            bytes.replace(placeholder, make());
    };
    fill("@WAV@", [&] { return wav.toUtf8(); });
    fill("@SECRET@", [&] { return secret.toUtf8(); });
    fill("@GARBAGE@", binaryGarbage);
    fill("@OPEN100K@", [] { return QByteArray("<a>").repeated(100'000); });
    fill("@CLOSE100K@", [] { return QByteArray("</a>").repeated(100'000); });
    fill("@COMMENT50MB@", [] { return QByteArray(kFiftyMegabytes, ' '); });
    fill("@COMMENT7MIB@", [] { return QByteArray(7 * 1024 * 1024, ' '); });
    // A million and one tags, one more than the store reads.
    fill("@TAGS@", [] { return QByteArray("<p/>").repeated(1'000'001); });
    return bytes;
}

DateValue at(int y, int mo, int d, int h, int mi, int s = 0)
{
    return datevalue::fromDateAndTime(QDate(y, mo, d), QTime(h, mi, s));
}

// Every text the window shows a person, the boxes included.
QStringList visibleTexts(const QWidget &window)
{
    QStringList texts{window.windowTitle()};
    for (const QLineEdit *box : window.findChildren<QLineEdit *>())
        texts << box->text();
    for (const QLabel *label : window.findChildren<QLabel *>())
        texts << label->text();
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
        texts << button->text() << button->toolTip();
    return texts;
}

// Adds a pair in the shown editor as a person does: click, type, move on.
void addPairByHand(frmQuestions &editor, const QString &question, const QString &answer)
{
    QTest::mouseClick(editor.cmdAdd, Qt::LeftButton);
    QTest::mouseClick(editor.txtQuestion, Qt::LeftButton);
    QTest::keyClicks(editor.txtQuestion, question);
    QTest::mouseClick(editor.txtAnswer, Qt::LeftButton);
    QTest::keyClicks(editor.txtAnswer, answer);
}

QStringList listedIn(const frmQuestions &editor)
{
    QStringList entries;
    for (int i = 0; i < editor.cboQA_List->listCount(); ++i)
        entries << editor.cboQA_List->list(i);
    return entries;
}

// --- the save loop that the crash test kills ---------------------------------

QString crashFileName(qint64 step)
{
    return QStringLiteral("/sounds/wake-%1.wav").arg(step);
}

QString crashTime(qint64 step)
{
    return QTime(0, 0).addSecs(int(step * 37 % 86400)).toString("h:mm:ss");
}

// Hundreds to thousands of pairs, so that a save takes long enough to be hit.
QuestionSet crashQuestions(qint64 step)
{
    QuestionSet set;
    const int count = 200 + int(step * 7919 % 2800);
    for (int i = 0; i < count; ++i) {
        auto record = std::make_shared<AwareTestQuestion>();
        record->setQuestion(
            QStringLiteral("Question %1 of save %2, & <this> one?").arg(i).arg(step));
        record->setAnswer(QStringLiteral("answer-%1-%2").arg(step).arg(i));
        set.append(record);
    }
    return set;
}

// Even steps are a Set, odd ones a Done.
configstore::SaveResult crashStep(const QString &dir, qint64 step)
{
    if (step % 2 == 0)
        return configstore::saveSettings(dir, crashFileName(step), crashTime(step));
    return configstore::saveQuestions(dir, crashQuestions(step).storedPairs());
}

// Runs in the child: saves forever, reporting each step once it is on disk.
int saveLoop(const QString &dir, qint64 first)
{
    for (qint64 step = first;; ++step) {
        const configstore::SaveResult result = crashStep(dir, step);
        if (!result.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(result.message()));
            return 1;
        }
        const QByteArray line = QByteArray::number(step) + '\n';
        // One unbuffered write, which a kill cannot split.
        if (::write(STDOUT_FILENO, line.constData(), size_t(line.size())) != line.size())
            return 2;
    }
}

// The file after steps 0 to step, as a fresh folder gets it; nothing before step 0.
std::optional<QByteArray> crashDocument(qint64 step, const QString &scratch)
{
    if (step < 0)
        return std::nullopt;
    QFile::remove(configstore::filePath(scratch));
    const qint64 settings = step - step % 2;
    const qint64 questions = step % 2 == 1 ? step : step - 1;
    if (!crashStep(scratch, settings).ok || (questions >= 1 && !crashStep(scratch, questions).ok))
        return QByteArray("<scratch save failed>");
    return readBytes(configstore::filePath(scratch));
}

QStringList crashDescription(qint64 step)
{
    const qint64 settings = step - step % 2;
    const qint64 questions = step % 2 == 1 ? step : step - 1;
    QStringList lines{"file:" + crashFileName(settings), "time:" + crashTime(settings)};
    if (questions >= 1)
        lines += describe(crashQuestions(questions));
    return lines;
}

// --- folders that refuse a save ----------------------------------------------

enum class Obstacle { ReadOnlyFolder, FullDisk };

// A tmpfs over a folder while the object lives.
class TmpfsMount
{
public:
    // Nothing when this process may not mount.
    static std::unique_ptr<TmpfsMount> over(const QString &dir, const QByteArray &options)
    {
        const QByteArray path = QFile::encodeName(dir);
        if (::mount("tmpfs", path.constData(), "tmpfs", 0, options.constData()) != 0)
            return nullptr;
        return std::unique_ptr<TmpfsMount>(new TmpfsMount(path, options));
    }
    ~TmpfsMount() { ::umount2(m_path.constData(), MNT_DETACH); }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", m_path.constData(), "tmpfs", flags, m_options.constData()) == 0;
    }

private:
    TmpfsMount(QByteArray path, QByteArray options)
        : m_path(std::move(path)), m_options(std::move(options))
    {
    }
    QByteArray m_path;
    QByteArray m_options;
};

// A folder that a save cannot write into, and the way to undo that.
struct Blocked
{
    QString technique;
    QString reason; // what the save must report
    bool hasOldFile = true;
    std::function<bool()> lift;
};

bool canCreateIn(const QString &dir)
{
    QFile probe(dir + "/probe");
    if (!probe.open(QIODevice::WriteOnly))
        return false;
    probe.remove();
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Obstacle)

class tst_ConfigFaults : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_secretDir;
    QString m_secretPath;

    struct Start
    {
        std::unique_ptr<QTemporaryDir> dir;
        std::unique_ptr<FakeServices> fakes;
        std::unique_ptr<frmMain> main;
        QString wav;
        QString defaultWav;
        QByteArray before;
        QString path() const { return configstore::filePath(dir->path()); }
    };

    // A file that had content and could not be read is kept aside by the
    // first save, and the person is told where; no other message.
    static void verifyToldOfAside(const Start &start, bool replaced)
    {
        const QStringList &texts = start.fakes->messages.texts;
        if (!replaced || start.before.isEmpty()) {
            QCOMPARE(texts, QStringList());
            return;
        }
        const QString aside = start.path() + ".unreadable";
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].contains(aside), qPrintable(texts[0]));
        QCOMPARE(readBytes(aside).value_or("<no file>"), start.before);
    }

    // A program folder holding the row's file and two sound files, and the
    // main window started on it; false when the folder could not be made.
    bool startOn(Start &start, const QByteArray &bytes, bool utf16)
    {
        start.dir = std::make_unique<QTemporaryDir>();
        start.wav = start.dir->filePath("wake.wav");
        start.defaultWav = start.dir->filePath("roustabell.wav");
        start.before = expand(bytes, start.wav, m_secretPath);
        if (utf16)
            start.before = utf16LeWithBom(start.before);
        if (!start.dir->isValid() || !writeBytes(start.wav, {}) ||
            !writeBytes(start.defaultWav, {}) || !writeBytes(start.path(), start.before))
            return false;
        start.fakes = std::make_unique<FakeServices>(start.dir->path());
        start.fakes->clock.set(QDate(2026, 12, 7), QTime(7, 0));
        start.main = std::make_unique<frmMain>(start.fakes->services);
        return true;
    }

    void verifyStartedAsLoaded(const Start &start, const QStringList &loaded, bool setEnabled)
    {
        const frmMain &main = *start.main;
        QCOMPARE(main.txtFileNameWAV->text(),
                 hasValue(loaded, "file:") ? valueOf(loaded, "file:") : start.defaultWav);
        QCOMPARE(main.txtAlarmTime->text(), valueOf(loaded, "time:"));
        QCOMPARE(describe(main.Questions), pairLines(loaded));
        QCOMPARE(main.cmdSet->isEnabled(), setEnabled);
        QVERIFY(!main.alarmSet());
        QVERIFY(!main.alarmSounding());
        QCOMPARE(main.lblAlarmStatus->text(), QString(kStatusNotSet));
        QVERIFY(!start.fakes->inhibitor.held);
        QCOMPARE(start.fakes->messages.texts, QStringList());
        QCOMPARE(start.fakes->sound.calls, QList<FakeSound::Call>());
        // Loading never writes.
        QCOMPARE(readBytes(start.path()).value_or("<no file>"), start.before);
    }

    void verifySecretNowhere(const Start &start, const QStringList &more)
    {
        const QStringList seen = visibleTexts(*start.main) + start.fakes->messages.texts +
                                 start.fakes->messages.titles + describe(start.main->Questions) +
                                 more;
        for (const QString &text : seen)
            QVERIFY2(!text.toUtf8().contains(kSecretMarker), qPrintable(text));
        QVERIFY(!readBytes(start.path()).value_or("").contains(kSecretMarker));
    }

    // Far above what a row takes (the 50 MB file about 8 s), so that a hang
    // or a blow-up fails the row, and a busy machine does not.
    static std::chrono::milliseconds rowBudget()
    {
        return std::chrono::milliseconds(60'000 * kSlowdown);
    }

    // Blocks the folder for the row's obstacle, with the best technique this
    // process has; nothing when there is none.
    std::optional<Blocked> block(Obstacle obstacle, const QString &dir,
                                 std::unique_ptr<TmpfsMount> &mount,
                                 const std::function<void()> &writeOldFile, QString *why)
    {
        if (obstacle == Obstacle::FullDisk) {
            mount = TmpfsMount::over(dir, "size=64k,mode=0755");
            if (!mount) {
                *why = QString("A full disk is made by filling a small tmpfs, and mounting one "
                               "needs root (CAP_SYS_ADMIN): ") +
                       qt_error_string(errno);
                return std::nullopt;
            }
            writeOldFile();
            // Filled to the last page, so that no further byte fits.
            QFile filler(dir + "/filler");
            if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
                *why = "Cannot fill the tmpfs: " + filler.errorString();
                return std::nullopt;
            }
            const QByteArray block(4096, 'f');
            while (filler.write(block) > 0) {
            }
            QByteArray one(1, 'f');
            while (filler.write(one) > 0) {
            }
            filler.close();
            return Blocked{"full tmpfs", qt_error_string(ENOSPC), true,
                           [dir] { return QFile::remove(dir + "/filler"); }};
        }

        if (::geteuid() != 0) {
            writeOldFile();
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                           QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
            if (!canCreateIn(dir)) {
                return Blocked{"chmod 0555", qt_error_string(EACCES), true, [dir] {
                                   return QFile::setPermissions(
                                       dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                               }};
            }
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QFile::remove(configstore::filePath(dir));
        }
        // Permission bits do not stop root; a read-only mount does.
        mount = TmpfsMount::over(dir, "size=1m,mode=0755");
        if (mount) {
            writeOldFile();
            TmpfsMount *mounted = mount.get();
            // The store tells this case by its own words, not by EROFS.
            const QString reason =
                "Existing file " + configstore::filePath(dir) + " is not writable";
            if (mounted->setReadOnly(true) && !canCreateIn(dir))
                return Blocked{"read-only tmpfs", reason, true,
                               [mounted] { return mounted->setReadOnly(false); }};
            mount.reset();
        }
        // Without mounting: the folder's path names a regular file.
        if (!QDir(dir).removeRecursively() || !writeBytes(dir, "not a folder")) {
            *why = "Neither permission bits, a mount nor a file in the folder's place can "
                   "block the folder here";
            return std::nullopt;
        }
        return Blocked{"a file in the folder's place", qt_error_string(ENOTDIR), false,
                       [dir] { return QFile::remove(dir) && QDir().mkdir(dir); }};
    }

    // The rows of both bad-file tests.
    void addBadFiles(bool withLargest)
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("utf16");
        // What loads, as file:, time:, Q: and A: lines; placeholders as in the bytes.
        QTest::addColumn<QStringList>("loaded");
        // The store gives up on the file, and the next save writes a fresh one.
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<bool>("setEnabled");
        QTest::addColumn<bool>("namesSecret");
        // Pairs outside the first container, which a Done leaves where they are.
        QTest::addColumn<QStringList>("strayPairs");

        const QByteArray settings =
            "<WakeyFileName>@WAV@</WakeyFileName><WakeyTime>7:30</WakeyTime>";
        const QByteArray pair = "<AwareTestQuestions><QA_Pair><Question>q1</Question>"
                                "<Answer>a1</Answer></QA_Pair></AwareTestQuestions>";
        const QByteArray good = "<AlarmClockConfig>" + settings + pair + "</AlarmClockConfig>";
        const QStringList goodLoaded{"file:@WAV@", "time:7:30", "Q:q1", "A:a1"};

        QTest::newRow("empty") << QByteArray() << false << QStringList() << true << false << false
                               << QStringList();
        QTest::newRow("truncated") << good.left(good.indexOf("<AwareTestQuestions>") + 8) << false
                                   << QStringList() << true << false << false << QStringList();
        QTest::newRow("binary garbage") << QByteArray("@GARBAGE@") << false << QStringList() << true
                                        << false << false << QStringList();
        QTest::newRow("invalid UTF-8")
            << "<AlarmClockConfig>" + settings +
                   "<AwareTestQuestions><QA_Pair><Question>caf\xE9</Question><Answer>a1</Answer>"
                   "</QA_Pair></AwareTestQuestions></AlarmClockConfig>"
            << false << QStringList() << true << false << false << QStringList();
        QTest::newRow("UTF-16 with BOM")
            << "<?xml version=\"1.0\" encoding=\"UTF-16\"?><AlarmClockConfig>" + settings +
                   "<AwareTestQuestions><QA_Pair><Question>日本?</Question><Answer>はい 😀"
                   "</Answer></QA_Pair></AwareTestQuestions></AlarmClockConfig>"
            << true << QStringList{"file:@WAV@", "time:7:30", "Q:日本?", "A:はい 😀"} << false
            << true << false << QStringList();
        QTest::newRow("external entity naming a secret file")
            << QByteArray("<!DOCTYPE AlarmClockConfig [<!ENTITY s SYSTEM \"file://@SECRET@\">]>"
                          "<AlarmClockConfig><WakeyFileName>@WAV@</WakeyFileName><WakeyTime>&s;"
                          "</WakeyTime><AwareTestQuestions><QA_Pair><Question>&s;</Question>"
                          "<Answer>&s;</Answer></QA_Pair></AwareTestQuestions></AlarmClockConfig>")
            << false << QStringList() << true << false << true << QStringList();
        QTest::newRow("secret entity declared inside the root")
            << QByteArray("<AlarmClockConfig><!DOCTYPE AlarmClockConfig [<!ENTITY s SYSTEM "
                          "\"file://@SECRET@\">]><WakeyFileName>@WAV@&s;</WakeyFileName>"
                          "<WakeyTime>7:30</WakeyTime><QA_Pair><Question>&s;</Question>"
                          "<Answer>&s;</Answer></QA_Pair></AlarmClockConfig>")
            << false << QStringList() << true << false << true << QStringList();
        QTest::newRow("100k levels deep")
            << QByteArray("<AlarmClockConfig><!-- hand-made -->@OPEN100K@<WakeyTime>7:30"
                          "</WakeyTime>@CLOSE100K@<WakeyFileName>@WAV@</WakeyFileName>"
                          "<Extra kind=\"kept\">x</Extra></AlarmClockConfig>")
            << false << QStringList{"file:@WAV@", "time:7:30"} << false << true << false
            << QStringList();
        QTest::newRow("100k levels deep, never closed")
            << "<AlarmClockConfig>" + settings + pair + "@OPEN100K@" << false << QStringList()
            << true << false << false << QStringList();
        QTest::newRow("billion laughs")
            << billionLaughsDoctype() + "<AlarmClockConfig>" + settings +
                   "<QA_Pair><Question>&l9;</Question><Answer>&l9;</Answer></QA_Pair>"
                   "</AlarmClockConfig>"
            << false << QStringList() << true << false << false << QStringList();
        if (withLargest) {
            // Below the 8 MiB bound, so it is read; above it, kept aside.
            QTest::newRow("7 MiB comment, settings at the end")
                << "<AlarmClockConfig><!--@COMMENT7MIB@-->" + settings + pair +
                       "</AlarmClockConfig>"
                << false << goodLoaded << false << true << false << QStringList();
            QTest::newRow("50 MB comment, over the bound")
                << "<AlarmClockConfig><!--@COMMENT50MB@-->" + settings + pair +
                       "</AlarmClockConfig>"
                << false << QStringList() << true << false << false << QStringList();
        }
        QTest::newRow("more tags than the store reads")
            << "<AlarmClockConfig>@TAGS@" + settings + pair + "</AlarmClockConfig>" << false
            << QStringList() << true << false << false << QStringList();
        QTest::newRow("pairs missing their parts")
            << "<AlarmClockConfig>" + settings +
                   "<AwareTestQuestions><QA_Pair><Question>only a question</Question></QA_Pair>"
                   "<QA_Pair><Answer>only an answer</Answer></QA_Pair><QA_Pair/>"
                   "</AwareTestQuestions></AlarmClockConfig>"
            << false << QStringList{"file:@WAV@", "time:7:30", "Q:only a question",
                                    "A:",         "Q:",        "A:only an answer",
                                    "Q:",         "A:"}
            << false << true << false << QStringList();
        QTest::newRow("duplicate elements")
            << "<AlarmClockConfig>" + settings +
                   "<WakeyFileName>/second.wav</WakeyFileName><WakeyTime>8:45</WakeyTime>" + pair +
                   "<AwareTestQuestions><QA_Pair><Question>q2</Question><Answer>a2</Answer>"
                   "</QA_Pair></AwareTestQuestions></AlarmClockConfig>"
            << false << QStringList{"file:@WAV@", "time:7:30", "Q:q1", "A:a1", "Q:q2", "A:a2"}
            << false << true << false << QStringList{"Q:q2", "A:a2"};
        QTest::newRow("root of another name")
            << "<Settings version=\"3\">" + settings + "<Other>kept</Other></Settings>" << false
            << QStringList{"file:@WAV@", "time:7:30"} << false << true << false << QStringList();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(m_secretDir.isValid());
        m_secretPath = m_secretDir.filePath("secret.txt");
        QVERIFY(writeBytes(m_secretPath, kSecretMarker + "\n"));
        // Where root may, the tmpfs mounts below live in a namespace of
        // their own, so that a crash cannot leave them behind.
        if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0)
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    }

    void cleanup() { closeAllWindows(); }

    // The window comes up with what the rules let it load, and a Set saves
    // the boxes without losing anything else of a readable file.
    void badFileThenSet_data() { addBadFiles(true); }
    void badFileThenSet()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, utf16);
        QFETCH(QStringList, loaded);
        QFETCH(bool, replaced);
        QFETCH(bool, setEnabled);
        QFETCH(bool, namesSecret);
        const Watchdog watchdog(QTest::currentDataTag(), 2 * rowBudget());
        QElapsedTimer elapsed;
        elapsed.start();

        Start start;
        QVERIFY(startOn(start, bytes, utf16));
        loaded.replaceInStrings("@WAV@", start.wav);
        verifyStartedAsLoaded(start, loaded, setEnabled);
        if (QTest::currentTestFailed())
            return;
        frmMain &main = *start.main;

        main.txtAlarmTime->setText("6:45");
        QVERIFY(main.cmdSet->isEnabled());
        main.cmdSet->click();
        QVERIFY(main.alarmSet());
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is SET for 12/8/2026 6:45:00 AM"));
        verifyToldOfAside(start, replaced);

        const QByteArray saved = readBytes(start.path()).value_or("<no file>");
        const QString box = main.txtFileNameWAV->text();
        if (replaced) {
            QCOMPARE(saved, "<AlarmClockConfig>\n  <WakeyFileName>" + box.toUtf8() +
                                "</WakeyFileName>\n  <WakeyTime>6:45</WakeyTime>\n"
                                "</AlarmClockConfig>\n");
        } else {
            const QStringList owned{"WakeyFileName", "WakeyTime"};
            QCOMPARE(foreignDigest(saved, owned), foreignDigest(start.before, owned));
        }
        QCOMPARE(describe(configstore::load(start.dir->path())),
                 QStringList({"file:" + box, "time:6:45"}) + pairLines(loaded));
        if (namesSecret)
            verifySecretNowhere(start, {});
        QVERIFY2(elapsed.elapsed() < rowBudget().count(),
                 qPrintable(QString::number(elapsed.elapsed())));
    }

    // The same files, and the question editor's Done as the first save; the
    // largest file is left to Set, which reads and writes it the same way.
    void badFileThenDone_data() { addBadFiles(false); }
    void badFileThenDone()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, utf16);
        QFETCH(QStringList, loaded);
        QFETCH(bool, replaced);
        QFETCH(bool, setEnabled);
        QFETCH(bool, namesSecret);
        QFETCH(QStringList, strayPairs);
        const Watchdog watchdog(QTest::currentDataTag(), 2 * rowBudget());
        QElapsedTimer elapsed;
        elapsed.start();

        Start start;
        QVERIFY(startOn(start, bytes, utf16));
        loaded.replaceInStrings("@WAV@", start.wav);
        verifyStartedAsLoaded(start, loaded, setEnabled);
        if (QTest::currentTestFailed())
            return;
        frmMain &main = *start.main;

        QStringList listed;
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *editor = qobject_cast<frmQuestions *>(window);
            QVERIFY(editor);
            listed = listedIn(*editor);
            addPairByHand(*editor, kAddedQuestion, kAddedAnswer);
            QTest::mouseClick(editor->cmdOK, Qt::LeftButton);
            QVERIFY(!editor->isVisible());
        });
        main.cmdAwakeTestQuestions->click();
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        verifyToldOfAside(start, replaced);

        const QStringList added{"Q:" + kAddedQuestion, "A:" + kAddedAnswer};
        QCOMPARE(describe(main.Questions), pairLines(loaded) + added);
        const QByteArray saved = readBytes(start.path()).value_or("<no file>");
        if (replaced) {
            QCOMPARE(saved, "<AlarmClockConfig>\n  <AwareTestQuestions>\n    <QA_Pair>\n"
                            "      <Question>" +
                                kAddedQuestion.toUtf8() + "</Question>\n      <Answer>" +
                                kAddedAnswer.toUtf8() +
                                "</Answer>\n    </QA_Pair>\n  </AwareTestQuestions>\n"
                                "</AlarmClockConfig>\n");
        } else {
            const QStringList owned{"AwareTestQuestions"};
            QCOMPARE(foreignDigest(saved, owned), foreignDigest(start.before, owned));
        }
        QStringList expected = loaded;
        expected.removeIf(
            [](const QString &line) { return line.startsWith("Q:") || line.startsWith("A:"); });
        QCOMPARE(describe(configstore::load(start.dir->path())),
                 expected + pairLines(loaded) + added + strayPairs);
        if (namesSecret)
            verifySecretNowhere(start, listed);
        QVERIFY2(elapsed.elapsed() < rowBudget().count(),
                 qPrintable(QString::number(elapsed.elapsed())));
    }

    // A child saves without pause and is killed at random moments; the file
    // is always a whole document the child wrote, the last or the one before.
    void killedSavesLeaveAWholeFile()
    {
        QTemporaryDir dir;
        QTemporaryDir scratch;
        QVERIFY(dir.isValid() && scratch.isValid());
        QElapsedTimer elapsed;
        elapsed.start();

        // A child under the sanitizers starts and saves ten times slower; half
        // the kills keep that run near the normal one's length. scripts/kill-test.sh
        // asks for more.
        const int kKills = qEnvironmentVariableIntValue("ROUSTABELL_KILLS") > 0
                               ? qEnvironmentVariableIntValue("ROUSTABELL_KILLS")
                               : (kSlowdown > 1 ? 50 : 100);
        const Watchdog watchdog(
            "killedSavesLeaveAWholeFile",
            std::chrono::milliseconds(120'000 * kSlowdown * (kKills + 99) / 100));
        const QString config = configstore::filePath(dir.path());
        const QRegularExpression tempName(
            QRegularExpression::anchoredPattern(R"(AlarmClockConfig\.xml\.saving-[0-9]+)"));
        QHash<qint64, std::optional<QByteArray>> documents;
        const auto documentAfter = [&](qint64 step) {
            if (!documents.contains(step))
                documents.insert(step, crashDocument(step, scratch.path()));
            return documents.value(step);
        };
        QRandomGenerator random(20261207);
        qint64 next = 0; // the first step the next child makes
        int newerThanReported = 0;
        int killedWhileWriting = 0;
        int strays = 0;       // temporary files a kill left
        QStringList outlived; // of those, the ones still there after a later save completed
        QStringList present;
        for (int round = 0; round < kKills; ++round) {
            QProcess child;
            child.setProgram(QCoreApplication::applicationFilePath());
            child.setArguments({"--save-loop", dir.path(), QString::number(next)});
            child.start();
            QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
            // Any file the child has open in the folder other than the config
            // file itself is the temporary file of a save being written.
            const QDir fds(QStringLiteral("/proc/%1/fd").arg(child.processId()));
            const auto writing = [&] {
                const QFileInfoList links =
                    fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
                return std::any_of(links.cbegin(), links.cend(), [&](const QFileInfo &fd) {
                    const QString target = fd.symLinkTarget();
                    return target.startsWith(dir.path() + '/') && target != config;
                });
            };
            // A third strike anywhere, start-up included; a third once the
            // loop runs; a third while a temporary file is being written.
            if (round % 3 == 0) {
                QThread::usleep(random.bounded(80'000));
            } else if (round % 3 == 1) {
                QVERIFY2(child.waitForReadyRead(10'000 * kSlowdown),
                         child.readAllStandardError().constData());
                QThread::usleep(random.bounded(20'000));
            } else {
                QElapsedTimer waited;
                waited.start();
                while (!writing() && waited.elapsed() < 10'000 * kSlowdown) {
                }
                QThread::usleep(random.bounded(500));
            }
            if (writing())
                ++killedWhileWriting;
            QCOMPARE(::kill(pid_t(child.processId()), SIGKILL), 0);
            QVERIFY(child.waitForFinished(5000));
            QVERIFY2(child.exitStatus() == QProcess::CrashExit,
                     child.readAllStandardError().constData());

            const qint64 first = next;
            qint64 reported = next - 1;
            for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
                if (!line.isEmpty())
                    reported = line.toLongLong();
            }
            const std::optional<QByteArray> file = readBytes(config);
            const std::optional<QByteArray> old = documentAfter(reported);
            const std::optional<QByteArray> newer = documentAfter(reported + 1);
            QVERIFY2(file == old || file == newer,
                     qPrintable(QStringLiteral("round %1, after step %2: %3 bytes ending in %4")
                                    .arg(round)
                                    .arg(reported)
                                    .arg(file ? file->size() : -1)
                                    .arg(QString::fromUtf8(file.value_or("").right(60)))));
            const qint64 onDisk = file == old ? reported : reported + 1;
            if (onDisk != reported)
                ++newerThanReported;
            if (onDisk >= 0)
                QCOMPARE(describe(configstore::load(dir.path())), crashDescription(onDisk));
            next = onDisk + 1;
            documents.remove(reported - 1);

            QStringList now = entriesOf(dir.path());
            now.removeOne(configstore::kFileName);
            int added = 0;
            for (const QString &name : now) {
                QVERIFY2(tempName.match(name).hasMatch(), qPrintable(name));
                if (!present.contains(name))
                    ++added;
                else if (onDisk >= first && !outlived.contains(name))
                    outlived << name;
            }
            // At most the one save that each kill interrupts.
            QVERIFY2(added <= 1, qPrintable(now.join(", ")));
            strays += added;
            present = now;
        }
        // Unless kills land amid writes, nothing was tested.
        QVERIFY2(killedWhileWriting >= kKills / 8, qPrintable(QString::number(killedWhileWriting)));
        // A stray temporary file never stands in for the real one, and a save
        // that completes leaves none of its own.
        QVERIFY(crashStep(dir.path(), next).ok);
        QCOMPARE(describe(configstore::load(dir.path())), crashDescription(next));
        QStringList left = entriesOf(dir.path());
        left.removeOne(configstore::kFileName);
        for (const QString &name : left) {
            QVERIFY2(present.contains(name), qPrintable(name + " left by a save that completed"));
            if (!outlived.contains(name))
                outlived << name;
        }
        qInfo("%d kills, %lld steps saved, %d while a temporary file was open, %d with the "
              "file newer than reported, %d stray temporary files, %d still there after the "
              "next save, %lld ms",
              kKills, next, killedWhileWriting, newerThanReported, strays, int(outlived.size()),
              elapsed.elapsed());
        QVERIFY2(outlived.isEmpty(), qPrintable(outlived.join(", ")));
        QVERIFY2(elapsed.elapsed() < 60'000 * kSlowdown * (kKills + 99) / 100,
                 qPrintable(QString::number(elapsed.elapsed())));
    }

    void blockedSave_data()
    {
        QTest::addColumn<Obstacle>("obstacle");
        QTest::newRow("folder cannot be written") << Obstacle::ReadOnlyFolder;
        QTest::newRow("disk is full") << Obstacle::FullDisk;
    }

    // Set and Done through the window: the message names the file and the
    // reason, the alarm is armed, nothing typed is lost, and once the folder
    // takes files again the next saves hold everything.
    void blockedSave()
    {
        QFETCH(Obstacle, obstacle);
        const Watchdog watchdog(QTest::currentDataTag(), 2 * rowBudget());
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QString dir = base.filePath("config");
        QVERIFY(QDir().mkdir(dir));
        const QString path = configstore::filePath(dir);
        const QString wav = base.filePath("wake.wav");
        QVERIFY(writeBytes(wav, {}));
        const auto writeOldFile = [&] {
            QuestionSet old;
            for (const char *text : {"q1", "q2"}) {
                auto record = std::make_shared<AwareTestQuestion>();
                record->setQuestion(text);
                record->setAnswer(QString(text).toUpper());
                old.append(record);
            }
            QVERIFY(configstore::saveSettings(dir, wav, "7:30").ok);
            QVERIFY(configstore::saveQuestions(dir, old.storedPairs()).ok);
        };

        std::unique_ptr<TmpfsMount> mount;
        QString why;
        const std::optional<Blocked> blocked = block(obstacle, dir, mount, writeOldFile, &why);
        // Permissions back, so that the folder can be removed whatever happens.
        const auto restore = qScopeGuard([&] {
            mount.reset();
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (!blocked)
            QSKIP(qPrintable(why));
        qInfo("blocked by %s", qPrintable(blocked->technique));
        const std::optional<QByteArray> oldBytes = readBytes(path);
        QCOMPARE(oldBytes.has_value(), blocked->hasOldFile);
        const QStringList entriesBefore = entriesOf(dir);

        FakeServices fakes(base.path());
        fakes.services.configDirectory = dir;
        fakes.clock.set(QDate(2026, 12, 7), QTime(7, 0));
        frmMain main(fakes.services);
        QStringList expectedPairs;
        if (blocked->hasOldFile) {
            QCOMPARE(main.txtFileNameWAV->text(), wav);
            QCOMPARE(main.txtAlarmTime->text(), QString("7:30"));
            expectedPairs = QStringList{"Q:q1", "A:Q1", "Q:q2", "A:Q2"};
        } else {
            main.txtFileNameWAV->setText(wav);
        }
        QCOMPARE(describe(main.Questions), expectedPairs);

        const QString message = "Could not save the settings to " + path + ": " + blocked->reason;
        main.txtAlarmTime->setText("6:15");
        main.cmdSet->click();
        QCOMPARE(fakes.messages.texts, QStringList{message});
        QCOMPARE(fakes.messages.titles, QStringList{"ROUSTABELL"});
        QVERIFY(main.alarmSet());
        QCOMPARE(main.wakeyTime(), at(2026, 12, 8, 6, 15));
        QCOMPARE(main.lblAlarmStatus->text(), QString("Alarm is SET for 12/8/2026 6:15:00 AM"));
        QVERIFY(fakes.inhibitor.held);
        QCOMPARE(main.txtFileNameWAV->text(), wav);
        QCOMPARE(main.txtAlarmTime->text(), QString("6:15"));
        QCOMPARE(readBytes(path), oldBytes);
        QCOMPARE(entriesOf(dir), entriesBefore);

        bool openAfterFailure = false;
        ModalDriver driver;
        driver.onNextModal([&](QWidget *window) {
            auto *editor = qobject_cast<frmQuestions *>(window);
            QVERIFY(editor);
            addPairByHand(*editor, "new q", "new a");
            QTest::mouseClick(editor->cmdOK, Qt::LeftButton);
            openAfterFailure = editor->isVisible();
        });
        main.cmdAwakeTestQuestions->click();
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QVERIFY(!openAfterFailure);
        QCOMPARE(fakes.messages.texts,
                 QStringList({message, message + "\n\nThe questions as you left them stay in use "
                                                 "until the program ends."}));
        QCOMPARE(readBytes(path), oldBytes);
        QCOMPARE(entriesOf(dir), entriesBefore);
        const QStringList storedPairs = expectedPairs;
        expectedPairs << "Q:new q"
                      << "A:new a";
        QCOMPARE(describe(main.Questions), expectedPairs);

        // Once the folder can be written, Set keeps the texts; the file's
        // questions wait for the next Done.
        QVERIFY(blocked->lift());
        main.cmdSet->click();
        QCOMPARE(fakes.messages.texts.size(), 2);
        QCOMPARE(describe(configstore::load(dir)),
                 QStringList({"file:" + wav, "time:6:15"}) + storedPairs);

        // The alarm armed at the failed Set was never in doubt.
        fakes.clock.set(QDate(2026, 12, 8), QTime(6, 15, 1));
        main.Timer1_Timer();
        QVERIFY(main.alarmSounding());
        QCOMPARE(fakes.sound.looping, wav);
    }
};

int main(int argc, char *argv[])
{
    // The crash test runs this same program as the child that it kills.
    if (argc == 4 && qstrcmp(argv[1], "--save-loop") == 0)
        return saveLoop(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toLongLong());
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    tst_ConfigFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_configfaults.moc"
