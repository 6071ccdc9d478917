#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <optional>
#include <string_view>

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

template <typename Sink> bool parseInto(QXmlStreamReader &reader, Sink &sink)
{
    reader.setNamespaceProcessing(false);
    qsizetype depth = 0;
    bool rootSeen = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            rootSeen = true;
            ++depth;
            sink.startElement(reader);
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            sink.endElement(reader);
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

// False for a missing, oversized, refused or unparseable file; the sink then
// holds a partial result that must not be used.
template <typename Sink> bool readFile(const QByteArray &bytes, Sink &sink)
{
    if (readsAsUtf8(bytes)) {
        // The reader rejects badly encoded UTF-8 itself.
        if (!safeToParse(view(bytes)))
            return false;
        QXmlStreamReader reader(bytes);
        return parseInto(reader, sink);
    }
    const std::optional<QString> source = decode(bytes);
    return source && parseText(*source, sink);
}

} // namespace configstore::detail
