#include "platform/sound/module/soundsource.h"

#include "platform/sound/module/wavinfo.h"

#include <QFileInfo>

namespace sound {

namespace {

// Sample data up to this size may be held a second time, as a plain copy.
constexpr qint64 kMaxCopyBytes = 16 * 1024 * 1024;

QString keyFor(const QString &path, bool loop)
{
    return (loop ? QStringLiteral("loop:") : QStringLiteral("once:")) + path;
}

} // namespace

Source builtinSource(const QString &path, bool loop)
{
    const wav::Info info = wav::inspectFile(path);
    Source source;
    source.key = keyFor(path, loop);
    source.path = path;
    source.loop = loop;
    source.copy = !loop || !info.plainLayout;
    source.durationMs = info.durationMs();
    source.builtin = true;
    return source;
}

Source fileSource(const QString &path, bool loop)
{
    const wav::Info info = wav::inspectFile(path);
    const bool fits = info.dataBytes <= kMaxCopyBytes;
    // A loop of a plain file plays the file itself; everything else goes
    // over as a plain copy, unless it is too big to copy.
    const bool copy = loop ? !info.plainLayout : (fits || !info.plainLayout);
    if (!info.playable || (copy && !fits))
        return builtinSource(QString::fromLatin1(loop ? kRingPath : kBuzzPath), loop);
    const QFileInfo file(path);
    Source source;
    source.path = file.absoluteFilePath();
    source.key = keyFor(source.path, loop);
    source.loop = loop;
    source.copy = copy;
    source.durationMs = info.durationMs();
    source.fileSize = file.size();
    source.modified = file.lastModified();
    return source;
}

QUrl urlFor(const Source &source)
{
    if (!source.copy) {
        if (source.builtin)
            return QUrl(QStringLiteral("qrc") + source.path);
        // Loaded samples are shared by URL for as long as any effect holds
        // one, so a file changed in place would play its old contents; naming
        // the file's version makes a changed file load anew.
        QUrl url = QUrl::fromLocalFile(source.path);
        url.setQuery(QStringLiteral("v=%1-%2")
                         .arg(source.fileSize)
                         .arg(source.modified.toMSecsSinceEpoch()));
        return url;
    }
    // QSoundEffect ends a single play, and drops what the sound server still
    // holds of it (the clip's last ~0.1 s), as soon as the last bytes are
    // handed over: the clip's end would be cut off. A silent tail takes that
    // loss instead. Held in memory as a data URL, so that no file is written.
    const QByteArray bytes = wav::plainCopy(source.path, source.loop ? 0 : kOnceTailMs);
    if (bytes.isEmpty())
        return {};
    return QUrl(QStringLiteral("data:audio/wav;base64,") + QString::fromLatin1(bytes.toBase64()));
}

} // namespace sound
