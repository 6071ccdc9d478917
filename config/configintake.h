#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// Untrusted input: what of a file is read at all, how it is decoded, and what
// is refused before Qt's reader sees it. The sinks (the load collector, the
// token document's builder) receive only what passed.
namespace configstore::detail {

inline bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

std::optional<QByteArray> readCapped(const QString &path);
bool readsAsUtf8(const QByteArray &bytes);
std::optional<QString> decode(const QByteArray &bytes);
std::string_view view(const QByteArray &bytes);
std::u16string_view view(const QString &text);
// Defined for char (UTF-8 bytes) and char16_t (decoded text).
template <typename Char> bool safeToParse(std::basic_string_view<Char> doc);

// Bytes are handed over in pieces: given all at once, the reader decodes the
// whole file ahead into UTF-16, a copy twice the file's size.
inline constexpr qsizetype kReadPiece = 64 * 1024;

// What the reader has still to be given, a piece at a time. Of bytes that it
// alone holds, the pages handed over are given back to the system as it goes:
// a long text then costs the reader's copy and the sink's, not the file's as
// well. (Freed pieces would not do: the heap keeps them, the reader's blocks
// above them.) Shared bytes are only viewed.
class ReadFeed
{
public:
    ReadFeed() = default;
    explicit ReadFeed(QByteArray &&bytes)
        : m_owned(bytes.isDetached()), m_bytes(std::move(bytes)), m_rest(m_bytes)
    {
    }

    // After the root the reader takes the end of its data for the end of the
    // file, so whatever follows the root is handed over in one (all).
    bool next(QXmlStreamReader &reader, bool all)
    {
        if (m_rest.isEmpty())
            return false;
        const qsizetype size = all ? m_rest.size() : std::min(kReadPiece, m_rest.size());
        reader.addData(m_rest.first(size).toByteArray());
        m_rest = m_rest.sliced(size);
        if (m_owned)
            release();
        return true;
    }

private:
    void release();

    bool m_owned = false;
    QByteArray m_bytes;
    QByteArrayView m_rest;
    qsizetype m_released = 0; // the bytes before it are given back
};

template <typename Sink> bool parseInto(QXmlStreamReader &reader, Sink &sink, ReadFeed feed = {})
{
    feed.next(reader, false);
    reader.setNamespaceProcessing(false);
    qsizetype depth = 0;
    bool rootSeen = false;
    for (;;) {
        if (reader.atEnd() && (reader.error() != QXmlStreamReader::PrematureEndOfDocumentError ||
                               !feed.next(reader, false)))
            break;
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            rootSeen = true;
            ++depth;
            sink.startElement(reader);
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            sink.endElement(reader);
            if (depth == 0)
                feed.next(reader, true);
            break;
        case QXmlStreamReader::Characters:
            // Outside the root only insignificant whitespace can stand.
            if (depth > 0)
                sink.characters(reader);
            break;
        case QXmlStreamReader::Comment:
            sink.comment(reader);
            break;
        case QXmlStreamReader::ProcessingInstruction:
            sink.instruction(reader);
            break;
        case QXmlStreamReader::DTD:
            // Only a name and an external identifier pass safeToParse; any
            // declaration is refused again should that ever change.
            if (!reader.entityDeclarations().isEmpty() || !reader.notationDeclarations().isEmpty())
                return false;
            sink.doctype(reader);
            break;
        case QXmlStreamReader::EntityReference:
            // Kept out by safeToParse; refused again should that ever change.
            return false;
        default:
            // The XML declaration is not kept: the store writes UTF-8 without one.
            break;
        }
    }
    return !reader.hasError() && rootSeen;
}

template <typename Sink> bool parseText(const QString &source, Sink &sink)
{
    if (!safeToParse(view(source)))
        return false;
    QXmlStreamReader reader(source);
    return parseInto(reader, sink);
}

// False for bytes that are refused, badly encoded or do not parse; the sink
// then holds a partial result that must not be used. Bytes moved in are freed
// as they are read.
template <typename Sink> bool readFile(QByteArray bytes, Sink &sink)
{
    if (readsAsUtf8(bytes)) {
        // The reader rejects badly encoded UTF-8 itself.
        if (!safeToParse(view(bytes)))
            return false;
        QXmlStreamReader reader;
        return parseInto(reader, sink, ReadFeed(std::move(bytes)));
    }
    const std::optional<QString> source = decode(bytes);
    return source && parseText(*source, sink);
}

} // namespace configstore::detail
