// Any bytes as the content of AlarmClockConfig.xml, read the way a load and a
// save read it, all in memory: fast enough to try far more inputs than
// fuzz_configstore, which writes every save to disk. A read must never crash,
// hang or leak; the two readers must agree on what parses; and the document
// a save would write must read back to the same settings, and write back to
// the very same bytes.
#include "config/configintake.h"
#include "config/configstore.h"
#include "config/tokendocument.h"
#include "fuzz/configfuzz.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>

using configstore::QuestionPair;
using configstore::StoredSettings;
namespace detail = configstore::detail;

namespace {

std::optional<QString> writable(const std::optional<QString> &value)
{
    return value ? std::optional<QString>(writable(*value)) : std::nullopt;
}

QStringList lines(const StoredSettings &stored, bool asWritten)
{
    const auto shown = [&](const std::optional<QString> &value) {
        const std::optional<QString> kept = asWritten ? writable(value) : value;
        return kept ? QStringLiteral("\"%1\"").arg(*kept) : QStringLiteral("(absent)");
    };
    QStringList out{QStringLiteral("file ") + shown(stored.wakeyFileName),
                    QStringLiteral("time ") + shown(stored.wakeyTime)};
    for (const QuestionPair &pair : stored.pairs)
        out << QStringLiteral("Q ") + shown(pair.question) + QStringLiteral(" A ") +
                   shown(pair.answer);
    return out;
}

[[noreturn]] void fail(const char *step, const QString &details)
{
    std::fprintf(stderr, "fuzz_configread: %s\n%s\n", step, qPrintable(details));
    std::fflush(stderr);
    __builtin_trap();
}

std::optional<QByteArray> written(const QByteArray &content)
{
    detail::DocumentBuilder builder(content);
    if (!detail::readFile(content, builder))
        return std::nullopt;
    return detail::serialize(builder.doc);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quietWarnings);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<StoredSettings> loaded = configstore::parse(input);
    const std::optional<QByteArray> first = written(input);
    if (loaded.has_value() != first.has_value())
        fail("readers", loaded ? QStringLiteral("a load reads what a save cannot")
                               : QStringLiteral("a save reads what a load cannot"));
    if (!loaded)
        return 0;

    const std::optional<StoredSettings> reread = configstore::parse(*first);
    if (!reread)
        fail("reread",
             QStringLiteral("what a save writes does not parse:\n") + QString::fromUtf8(*first));
    const QStringList expected = lines(*loaded, true);
    const QStringList found = lines(*reread, false);
    if (found != expected)
        fail("reread", QStringLiteral("loaded\n") + expected.join(u'\n') +
                           QStringLiteral("\nread back\n") + found.join(u'\n'));

    const std::optional<QByteArray> second = written(*first);
    if (second != first)
        fail("rewrite", QStringLiteral("written\n") + QString::fromUtf8(*first) +
                            QStringLiteral("\nwritten again\n") +
                            QString::fromUtf8(second.value_or("(unparseable)")));
    return 0;
}
