#include "config/configintake.h"

#include "config/configstore.h"

#include <QByteArrayView>
#include <QFile>
#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace configstore::detail {
namespace {

// Bounds on what the reader is given, far above anything the store writes
// (32,767 pairs are about 100,000 elements, without attributes).
constexpr qsizetype kMaxTags = 1'000'000;
constexpr qsizetype kMaxAttributesPerTag = 64;

std::optional<QStringConverter::Encoding> encodingFromBom(const QByteArray &bytes)
{
    using E = QStringConverter::Encoding;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return E::Utf8;
    if (bytes.startsWith(QByteArrayView("\xFF\xFE\0\0", 4)))
        return E::Utf32LE;
    if (bytes.startsWith(QByteArrayView("\0\0\xFE\xFF", 4)))
        return E::Utf32BE;
    if (bytes.startsWith("\xFF\xFE"))
        return E::Utf16LE;
    if (bytes.startsWith("\xFE\xFF"))
        return E::Utf16BE;
    // Without a byte order mark the first character, '<', shows the width.
    if (bytes.startsWith(QByteArrayView("<\0\0\0", 4)))
        return E::Utf32LE;
    if (bytes.startsWith(QByteArrayView("\0\0\0<", 4)))
        return E::Utf32BE;
    if (bytes.startsWith(QByteArrayView("<\0", 2)))
        return E::Utf16LE;
    if (bytes.startsWith(QByteArrayView("\0<", 2)))
        return E::Utf16BE;
    return std::nullopt;
}

template <typename Char, std::size_t N>
bool hasAt(std::basic_string_view<Char> text, std::size_t at, const char (&ascii)[N])
{
    if (at > text.size() || text.size() - at < N - 1)
        return false;
    for (std::size_t k = 0; k + 1 < N; ++k) {
        if (text[at + k] != Char(ascii[k]))
            return false;
    }
    return true;
}

template <typename Char, std::size_t N>
std::size_t findFrom(std::basic_string_view<Char> text, std::size_t from, const char (&ascii)[N])
{
    for (std::size_t at = text.find(Char(ascii[0]), from); at != text.npos;
         at = text.find(Char(ascii[0]), at + 1)) {
        if (hasAt(text, at, ascii))
            return at;
    }
    return text.npos;
}

// The encoding named by the XML declaration at the start of an ASCII-compatible
// file: empty without one; nullopt when it cannot be told for certain.
std::optional<std::string_view> declaredEncoding(std::string_view bytes)
{
    // Only blanks may follow the name: "<?xml-stylesheet ...?>" is an instruction,
    // which the reader leaves alone and the store writes back.
    if (!hasAt(bytes, 0, "<?xml") || bytes.size() < 6 || !isXmlSpace(QLatin1Char(bytes[5])))
        return std::string_view();
    const std::size_t end = findFrom(bytes, 0, "?>");
    if (end == bytes.npos)
        return std::nullopt;
    const std::string_view declaration = bytes.substr(0, end);
    std::size_t i = findFrom(declaration, 0, "encoding");
    if (i == declaration.npos)
        return std::string_view();
    if (findFrom(declaration, i + 1, "encoding") != declaration.npos)
        return std::nullopt;
    i += 8;
    const auto skipSpace = [&] {
        while (i < end && isXmlSpace(QLatin1Char(declaration[i])))
            ++i;
    };
    skipSpace();
    if (i >= end || declaration[i] != '=')
        return std::nullopt;
    ++i;
    skipSpace();
    if (i >= end || (declaration[i] != '"' && declaration[i] != '\''))
        return std::nullopt;
    const std::size_t close = declaration.find(declaration[i], i + 1);
    if (close == declaration.npos)
        return std::nullopt;
    return declaration.substr(i + 1, close - i - 1);
}

// Qt's UTF-16 and UTF-32 decoders pass an unpaired surrogate through, and the
// reader then makes it a '?': it is as badly encoded as bad UTF-8 is.
bool hasLoneSurrogate(const QString &text)
{
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (!text[i].isSurrogate())
            continue;
        if (!text[i].isHighSurrogate() || i + 1 == size || !text[i + 1].isLowSurrogate())
            return true;
        ++i;
    }
    return false;
}

bool isUtf8Name(std::string_view name)
{
    return QByteArrayView(name.data(), qsizetype(name.size()))
               .compare("UTF-8", Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<QByteArray> readCapped(const QString &path)
{
    // Opened without blocking and judged by the open file: a FIFO or device at
    // the path, even one put there after a look at the name, would block or
    // never end; only plain files are read.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes)
        return std::nullopt;
    // Sized from the file, as a read of the whole cap costs a buffer of that
    // size; one byte more shows that it has grown since, and then the rest is
    // read up to the cap.
    QByteArray bytes(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    qsizetype done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done > kMaxFileBytes)
                return std::nullopt;
            bytes.resize(kMaxFileBytes + 1);
        }
        const ssize_t got = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        done += qsizetype(got);
    }
    bytes.truncate(done);
    return bytes;
}

// A mebibyte at a time: each call flushes the address translations.
void ReadFeed::release()
{
    constexpr qsizetype kAtOnce = 1024 * 1024;
    const qsizetype page = qsizetype(::sysconf(_SC_PAGESIZE));
    const auto base = reinterpret_cast<quintptr>(m_bytes.constData());
    const qsizetype done = m_rest.data() - m_bytes.constData();
    // Whole pages only, all inside the block: its ends hold the allocator's.
    const quintptr from = (base + quintptr(m_released) + quintptr(page) - 1) & ~quintptr(page - 1);
    const quintptr to = (base + quintptr(done)) & ~quintptr(page - 1);
    if (to < from + kAtOnce && !m_rest.isEmpty())
        return;
    if (to > from) {
        ::madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
        m_released = qsizetype(to - base);
    }
}

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

std::u16string_view view(const QString &text)
{
    return {reinterpret_cast<const char16_t *>(text.utf16()), std::size_t(text.size())};
}

// True when Qt's reader, given the bytes, is certain to decode them as UTF-8:
// no other byte order mark, and no declaration that could switch it to an
// encoding in which the safety scan below would see other characters.
bool readsAsUtf8(const QByteArray &bytes)
{
    std::string_view text = view(bytes);
    if (hasAt(text, 0, "\xEF\xBB\xBF"))
        text.remove_prefix(3);
    else if (encodingFromBom(bytes))
        return false;
    const std::optional<std::string_view> declared = declaredEncoding(text);
    return declared && (declared->empty() || isUtf8Name(*declared));
}

// Any other file is decoded here and handed to the reader as text, which makes
// it ignore the declaration: the safety scan then looks at exactly the
// characters that the reader parses. Badly encoded bytes make the file
// unparseable, as the XML rules require.
std::optional<QString> decode(const QByteArray &bytes)
{
    QStringDecoder decoder;
    if (const auto encoding = encodingFromBom(bytes)) {
        decoder = QStringDecoder(*encoding, QStringDecoder::Flag::Stateless);
    } else {
        const std::optional<std::string_view> declared = declaredEncoding(view(bytes));
        if (!declared)
            return std::nullopt;
        decoder = declared->empty()
                      ? QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless)
                      : QStringDecoder(
                            QByteArray(declared->data(), qsizetype(declared->size())).constData(),
                            QStringDecoder::Flag::Stateless);
    }
    if (!decoder.isValid())
        return std::nullopt;
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError() || hasLoneSurrogate(decoded))
        return std::nullopt;
    return decoded;
}

namespace {

template <typename Char> bool isBlank(Char c)
{
    return c == Char(' ') || c == Char('\t') || c == Char('\n') || c == Char('\r');
}

// Character references and the five predefined entities stand for one
// character each; any other reference would need a declaration to mean
// anything. Qt's reader keeps an undeclared one in an attribute value as it
// is, which a save would then write as text.
template <typename Char>
bool onlyPredefinedReferences(std::basic_string_view<Char> doc, std::size_t from, std::size_t to)
{
    const std::basic_string_view<Char> part = doc.substr(from, to - from);
    for (std::size_t at = part.find(Char('&')); at != part.npos;
         at = part.find(Char('&'), at + 1)) {
        if (!hasAt(part, at, "&#") && !hasAt(part, at, "&amp;") && !hasAt(part, at, "&lt;") &&
            !hasAt(part, at, "&gt;") && !hasAt(part, at, "&quot;") && !hasAt(part, at, "&apos;"))
            return false;
    }
    return true;
}

// The '>' that closes a DOCTYPE of a name and at most an external identifier
// (at is just after "<!DOCTYPE"), or npos for any other: an internal subset,
// or anything not well-formed.
template <typename Char> std::size_t doctypeEnd(std::basic_string_view<Char> doc, std::size_t at)
{
    constexpr std::size_t npos = std::basic_string_view<Char>::npos;
    const auto skipBlanks = [&] {
        const std::size_t from = at;
        while (at < doc.size() && isBlank(doc[at]))
            ++at;
        return at > from;
    };
    const auto inName = [](Char c) {
        for (const char stop : {'<', '>', '[', ']', '"', '\'', '&', '%'}) {
            if (c == Char(stop))
                return false;
        }
        return !isBlank(c);
    };
    if (!skipBlanks())
        return npos;
    const std::size_t name = at;
    while (at < doc.size() && inName(doc[at]))
        ++at;
    if (at == name)
        return npos;
    int literals = 0;
    if (skipBlanks()) {
        if (hasAt(doc, at, "SYSTEM"))
            literals = 1;
        else if (hasAt(doc, at, "PUBLIC"))
            literals = 2;
    }
    if (literals > 0)
        at += 6;
    for (int n = 0; n < literals; ++n) {
        if (!skipBlanks() || at >= doc.size() || (doc[at] != Char('"') && doc[at] != Char('\'')))
            return npos;
        at = doc.find(doc[at], at + 1);
        if (at == npos)
            return npos;
        ++at;
    }
    skipBlanks();
    return at < doc.size() && doc[at] == Char('>') ? at : npos;
}

} // namespace

// Nothing of a DTD but its name and external identifier may reach Qt 6.4.2's
// reader, which is never given a way to fetch that identifier: a DOCTYPE with
// an internal subset, any other "<!" declaration (ENTITY, ...) and any entity
// reference but the predefined ones make the file unparseable, refused rather
// than stripped and parsed. The reader parses a DOCTYPE even inside the root
// element and expands the entities declared there, and Debian's build may lack
// the fixes for CVE-2023-38197 (recursive entities) and CVE-2023-37369; so one
// DOCTYPE is let through only before the first tag. The reader's
// duplicate-attribute check is quadratic, so attributes per tag are bounded as
// well, and so is the number of tags. Only the constructs that can hide a '<'
// or '>' are skipped exactly; an unterminated one is left for the reader to
// reject. All markup is ASCII, so UTF-8 bytes can be scanned as they are.
template <typename Char> bool safeToParse(std::basic_string_view<Char> doc)
{
    constexpr std::size_t npos = std::basic_string_view<Char>::npos;
    qsizetype tags = 0;
    bool doctypeSeen = false;
    std::size_t i = doc.find(Char('<'));
    if (!onlyPredefinedReferences(doc, 0, std::min(i, doc.size())))
        return false;
    while (i != npos) {
        std::size_t next = npos;
        if (hasAt(doc, i, "<!--")) {
            next = findFrom(doc, i + 4, "-->");
        } else if (hasAt(doc, i, "<![CDATA[")) {
            next = findFrom(doc, i + 9, "]]>");
        } else if (hasAt(doc, i, "<?")) {
            next = findFrom(doc, i + 2, "?>");
        } else if (hasAt(doc, i, "<!DOCTYPE")) {
            if (tags > 0 || doctypeSeen)
                return false;
            doctypeSeen = true;
            next = doctypeEnd(doc, i + 9);
            if (next == npos)
                return false;
        } else if (hasAt(doc, i, "<!")) {
            return false;
        } else {
            if (++tags > kMaxTags)
                return false;
            qsizetype attributes = 0;
            std::size_t j = i + 1;
            for (; j < doc.size() && doc[j] != Char('>'); ++j) {
                const Char c = doc[j];
                if (c == Char('"') || c == Char('\'')) {
                    const std::size_t close = doc.find(c, j + 1);
                    if (close != npos && !onlyPredefinedReferences(doc, j + 1, close))
                        return false;
                    j = close;
                } else if (c == Char('=') && ++attributes > kMaxAttributesPerTag) {
                    return false;
                }
                if (j == npos)
                    break;
            }
            next = j;
        }
        if (next == npos || next >= doc.size())
            return true;
        i = doc.find(Char('<'), next + 1);
        if (!onlyPredefinedReferences(doc, next + 1, std::min(i, doc.size())))
            return false;
    }
    return true;
}

template bool safeToParse<char>(std::string_view doc);
template bool safeToParse<char16_t>(std::u16string_view doc);

} // namespace configstore::detail
