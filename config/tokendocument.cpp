#include "config/tokendocument.h"

#include "platform/storabletext.h"

#include <array>

namespace configstore::detail {

std::optional<std::size_t> findFirst(const Document &doc, const QString &name)
{
    const QByteArray wanted = name.toUtf8();
    for (std::size_t i = 0; i < doc.tokens.size(); ++i) {
        if (doc.tokens[i].kind == Kind::StartElement && doc.tokens[i].text() == wanted)
            return i;
    }
    return std::nullopt;
}

std::size_t endOf(const Document &doc, std::size_t start)
{
    qsizetype depth = 0;
    for (std::size_t i = start; i < doc.tokens.size(); ++i) {
        if (doc.tokens[i].kind == Kind::StartElement)
            ++depth;
        else if (doc.tokens[i].kind == Kind::EndElement && --depth == 0)
            return i;
    }
    return doc.tokens.size(); // unreachable for a parsed document
}

qsizetype depthOf(const Document &doc, std::size_t index)
{
    qsizetype depth = 0;
    for (std::size_t i = 0; i < index; ++i) {
        if (doc.tokens[i].kind == Kind::StartElement)
            ++depth;
        else if (doc.tokens[i].kind == Kind::EndElement)
            --depth;
    }
    return depth;
}

namespace {

constexpr std::array<bool, 0x40> markedBelow0x40(bool attribute)
{
    std::array<bool, 0x40> table{};
    for (std::size_t c = 0; c < 0x20; ++c)
        table[c] = true;
    table[u'\t'] = attribute;
    table[u'\n'] = attribute;
    table[u'"'] = attribute;
    table[u'&'] = table[u'<'] = table[u'>'] = true;
    return table;
}

constexpr std::array<bool, 0x40> kTextMarked = markedBelow0x40(false);
constexpr std::array<bool, 0x40> kAttributeMarked = markedBelow0x40(true);

// Most characters need nothing; a table spares them the chain of tests.
// Bytes from 0x80 up belong to characters that XML can hold: writableUtf8 and
// the reader keep out the others.
bool needsCare(char c, bool attribute)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x40 && (attribute ? kAttributeMarked : kTextMarked)[byte];
}

// C0 controls other than tab, line feed and carriage return cannot be held
// at all, not even as character references: they are dropped. A carriage
// return is written as a reference because the reader turns a literal one into
// a line feed; in attributes, tab and line feed too, which attribute reading
// turns into blanks.
void appendEscaped(QByteArray &out, QByteArrayView value, bool attribute)
{
    qsizetype run = 0;
    const qsizetype size = value.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = value[i];
        if (!needsCare(c, attribute))
            continue;
        const char *reference = nullptr;
        if (c == '&')
            reference = "&amp;";
        else if (c == '<')
            reference = "&lt;";
        else if (c == '>')
            reference = "&gt;"; // also keeps "]]>" out of character data
        else if (c == '\r')
            reference = "&#xD;";
        else if (attribute && c == '"')
            reference = "&quot;";
        else if (attribute && c == '\t')
            reference = "&#x9;";
        else if (attribute && c == '\n')
            reference = "&#xA;";
        else if (c == '\t' || c == '\n')
            continue;
        out.append(value.sliced(run, i - run));
        if (reference)
            out.append(reference);
        run = i + 1;
    }
    out.append(value.sliced(run));
}

} // namespace

QByteArray writableUtf8(QStringView value)
{
    if (storabletext::firstUnstorable(value) < 0)
        return compactUtf8(value);
    return compactUtf8(storabletext::storable(value));
}

QByteArray compactUtf8(QStringView text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.capacity() > bytes.size() + bytes.size() / 8 + 32)
        bytes.squeeze();
    return bytes;
}

QByteArray writtenAttributes(const QXmlStreamAttributes &attributes)
{
    QByteArray out;
    for (const QXmlStreamAttribute &attribute : attributes) {
        out += ' ';
        out += attribute.qualifiedName().toUtf8();
        out += "=\"";
        appendEscaped(out, attribute.value().toUtf8(), true);
        out += '"';
    }
    out.squeeze();
    return out;
}

QByteArray serialize(const Document &doc)
{
    QByteArray out;
    qsizetype estimate = 0;
    for (const Token &token : doc.tokens)
        estimate += token.size() + 8;
    out.reserve(estimate);

    qsizetype depth = 0;
    const std::size_t count = doc.tokens.size();
    for (std::size_t i = 0; i < count; ++i) {
        const Token &token = doc.tokens[i];
        switch (token.kind) {
        case Kind::StartElement:
            out += '<';
            out.append(token.text());
            out.append(token.more());
            if (i + 1 < count && doc.tokens[i + 1].kind == Kind::EndElement) {
                out += "/>";
                ++i;
            } else {
                out += '>';
                ++depth;
            }
            break;
        case Kind::EndElement:
            out += "</";
            out.append(token.text());
            out += '>';
            --depth;
            break;
        case Kind::Text:
            appendEscaped(out, token.text(), false);
            break;
        case Kind::CData:
            out += "<![CDATA[";
            out.append(token.text());
            out += "]]>";
            break;
        case Kind::Comment:
            out += "<!--";
            out.append(token.text());
            out += "-->";
            break;
        case Kind::Instruction:
            out += "<?";
            out.append(token.text());
            if (!token.more().isEmpty()) {
                out += ' ';
                out.append(token.more());
            }
            out += "?>";
            break;
        case Kind::Doctype:
            out.append(token.text());
            break;
        }
        // Each top-level item (prolog, root, epilog) ends its own line.
        if (depth == 0)
            out += '\n';
    }
    return out;
}

} // namespace configstore::detail
