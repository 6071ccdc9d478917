// Any bytes as AlarmClockConfig.xml. A load must never crash, hang or leak, and
// what it returns must survive the saves that write it back: each save is
// followed by a load that is compared with what that save must have kept.
#include "config/configstore.h"
#include "fuzz/configfuzz.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using configstore::QuestionPair;
using configstore::StoredSettings;

namespace {

using Pairs = QList<QuestionPair>;

Pairs writable(const Pairs &pairs)
{
    Pairs out;
    out.reserve(pairs.size());
    for (const QuestionPair &pair : pairs)
        out.append({writable(pair.question), writable(pair.answer)});
    return out;
}

bool same(const QuestionPair &a, const QuestionPair &b)
{
    return a.question == b.question && a.answer == b.answer;
}

bool same(const Pairs &a, const Pairs &b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](const auto &x, const auto &y) { return same(x, y); });
}

// Every pair of part in whole, in the same order.
bool isSubsequence(const Pairs &part, const Pairs &whole)
{
    qsizetype j = 0;
    for (const QuestionPair &pair : part) {
        while (j < whole.size() && !same(whole[j], pair))
            ++j;
        if (j == whole.size())
            return false;
        ++j;
    }
    return true;
}

// whole is outside with inserted placed as one run at some position.
bool isInsertedRun(const Pairs &whole, const Pairs &outside, const Pairs &inserted)
{
    if (whole.size() != outside.size() + inserted.size())
        return false;
    for (qsizetype k = 0; k <= outside.size(); ++k) {
        if (same(outside.mid(0, k) + inserted + outside.mid(k), whole))
            return true;
    }
    return false;
}

QString shown(const std::optional<QString> &value)
{
    if (!value)
        return QStringLiteral("(absent)");
    QString out = QStringLiteral("\"");
    for (const QChar c : *value) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F || c == u'"' || c == u'\\')
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + u'"';
}

QString shown(const Pairs &pairs)
{
    QStringList lines;
    for (const QuestionPair &pair : pairs)
        lines << QStringLiteral("  Q ") + shown(pair.question) + QStringLiteral(" A ") +
                     shown(pair.answer);
    return QString::number(pairs.size()) + QStringLiteral(" pairs\n") + lines.join(u'\n');
}

QString shown(const StoredSettings &stored)
{
    return QStringLiteral("file ") + shown(stored.wakeyFileName) + QStringLiteral("\ntime ") +
           shown(stored.wakeyTime) + QStringLiteral("\n") + shown(stored.pairs);
}

[[noreturn]] void fail(const char *step, const QString &details)
{
    std::fprintf(stderr, "fuzz_configstore: %s\n%s\n", step, qPrintable(details));
    std::fflush(stderr);
    __builtin_trap();
}

// Every save but the first meets a file the store wrote itself, which it must
// always be able to read again, so none of them may keep anything aside.
void mustSave(const char *step, const configstore::SaveResult &result)
{
    if (!result.ok)
        fail(step, result.message());
    if (!result.keptAside.isEmpty())
        fail(step, QStringLiteral("could not read the file it wrote itself; kept as ") +
                       result.keptAside);
}

// A file is kept aside only when it could not be read, which gives nothing to
// a load, and then byte for byte.
void checkKeptAside(const configstore::SaveResult &result, const StoredSettings &loaded,
                    const QByteArray &input)
{
    if (!result.ok)
        fail("Set", result.message());
    if (result.keptAside.isEmpty())
        return;
    if (loaded.wakeyFileName || loaded.wakeyTime || !loaded.pairs.isEmpty())
        fail("Set", QStringLiteral("kept aside a file that loaded as\n") + shown(loaded));
    QFile aside(result.keptAside);
    if (!aside.open(QIODevice::ReadOnly) || aside.readAll() != input)
        fail("Set", QStringLiteral("the file kept aside is not the one that was there: ") +
                        result.keptAside);
}

// What a Set must leave: its own two values, and no pair that was not there.
void checkSet(const char *step, const StoredSettings &after, const QString &fileName,
              const QString &time, const Pairs &pairsBefore)
{
    if (after.wakeyFileName != writable(fileName) || after.wakeyTime != writable(time))
        fail(step, QStringLiteral("saved file ") + shown(writable(fileName)) +
                       QStringLiteral(" time ") + shown(writable(time)) +
                       QStringLiteral("\nloaded ") + shown(after));
    if (!isSubsequence(after.pairs, pairsBefore))
        fail(step, QStringLiteral("pairs before\n") + shown(pairsBefore) +
                       QStringLiteral("\nafter\n") + shown(after.pairs));
}

// Whether the first WakeyFileName and the first WakeyTime lie inside the first
// AwareTestQuestions, which a Done empties. Read from a file the store wrote
// (UTF-8, no DTD content), with a reader of its own rather than the store's.
struct Placement
{
    bool fileNameInContainer = false;
    bool timeInContainer = false;
};

Placement placement(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("placement", file.errorString());
    QXmlStreamReader reader(file.readAll());
    reader.setNamespaceProcessing(false);
    Placement placed;
    qsizetype depth = 0;
    qsizetype containerDepth = -1; // while the first container is open
    bool containerSeen = false, fileNameSeen = false, timeSeen = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (depth == containerDepth)
                containerDepth = -1;
            --depth;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const QStringView name = reader.qualifiedName();
        const bool inside = containerDepth >= 0;
        if (name == QLatin1StringView("AwareTestQuestions") && !containerSeen) {
            containerSeen = true;
            containerDepth = depth;
        } else if (name == QLatin1StringView("WakeyFileName") && !fileNameSeen) {
            fileNameSeen = true;
            placed.fileNameInContainer = inside;
        } else if (name == QLatin1StringView("WakeyTime") && !timeSeen) {
            timeSeen = true;
            placed.timeInContainer = inside;
        }
    }
    if (reader.hasError())
        fail("placement", QStringLiteral("the store wrote a file that is not well-formed: ") +
                              reader.errorString());
    return placed;
}

const QString &scratchDirectory()
{
    // One directory for the whole run; removed when the process ends.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/roustabell-fuzz-XXXXXX"));
    if (!dir.isValid())
        fail("setup", QStringLiteral("no scratch directory under ") + QDir::tempPath());
    static const QString path = dir.path();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quietWarnings);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString &dir = scratchDirectory();
    // Files kept aside by the last input go, so that each input meets the
    // same empty directory.
    QDir scratch(dir);
    for (const QString &name : scratch.entryList(QDir::Files | QDir::Hidden | QDir::System))
        scratch.remove(name);
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(configstore::filePath(dir));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(input) != input.size())
            fail("setup", file.errorString());
    }

    const StoredSettings loaded = configstore::load(dir);
    const QString fileName = loaded.wakeyFileName.value_or(QString());
    const QString time = loaded.wakeyTime.value_or(QString());
    const Pairs pairs = writable(loaded.pairs);

    // Set with the loaded values.
    checkKeptAside(configstore::saveSettings(dir, fileName, time), loaded, input);
    const StoredSettings afterSet = configstore::load(dir);
    checkSet("Set", afterSet, fileName, time, pairs);

    // Done with no pairs empties the first container (or adds one): what is
    // left are the pairs outside it, which no Done touches, and the values,
    // unless they stood inside it.
    const Placement placed = placement(configstore::filePath(dir));
    mustSave("Done, empty", configstore::saveQuestions(dir, {}));
    const StoredSettings emptied = configstore::load(dir);
    if (!isSubsequence(emptied.pairs, afterSet.pairs))
        fail("Done, empty", QStringLiteral("pairs before\n") + shown(afterSet.pairs) +
                                QStringLiteral("\nafter\n") + shown(emptied.pairs));
    if ((!placed.fileNameInContainer && emptied.wakeyFileName != afterSet.wakeyFileName) ||
        (!placed.timeInContainer && emptied.wakeyTime != afterSet.wakeyTime))
        fail("Done, empty", QStringLiteral("values before\n") + shown(afterSet) +
                                QStringLiteral("\nafter\n") + shown(emptied));

    // Done with the loaded pairs puts them back as one run where the container
    // stands; with no pairs outside the container that is exactly the loaded
    // list. Pairs in the container cannot hold a value element, so the values
    // stay as they were.
    mustSave("Done", configstore::saveQuestions(dir, pairs));
    const StoredSettings afterDone = configstore::load(dir);
    if (!isInsertedRun(afterDone.pairs, emptied.pairs, pairs))
        fail("Done", QStringLiteral("outside the container\n") + shown(emptied.pairs) +
                         QStringLiteral("\nsaved\n") + shown(pairs) + QStringLiteral("\nloaded\n") +
                         shown(afterDone.pairs));
    if (afterDone.wakeyFileName != emptied.wakeyFileName ||
        afterDone.wakeyTime != emptied.wakeyTime)
        fail("Done", QStringLiteral("values before\n") + shown(emptied) +
                         QStringLiteral("\nafter\n") + shown(afterDone));

    // Set again, now over a file the store wrote itself. Where the first Set
    // left its values, there is only their text now, so no pair can go; with
    // no pairs outside the container, this is the loaded file once more.
    mustSave("Set again", configstore::saveSettings(dir, fileName, time));
    const StoredSettings afterSetAgain = configstore::load(dir);
    checkSet("Set again", afterSetAgain, fileName, time, afterDone.pairs);
    if (!placed.fileNameInContainer && !placed.timeInContainer &&
        !same(afterSetAgain.pairs, afterDone.pairs))
        fail("Set again", QStringLiteral("pairs before\n") + shown(afterDone.pairs) +
                              QStringLiteral("\nafter\n") + shown(afterSetAgain.pairs));
    return 0;
}
