#include "config/tokendocument.h"

#include <array>

namespace configstore::detail {

std::optional<std::size_t> findFirst(const Document &doc, const QString &name)
{
    for (std::size_t i = 0; i < doc.tokens.size(); ++i) {
        if (doc.tokens[i].kind == Kind::StartElement && doc.tokens[i].text == name)
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
bool needsCare(char16_t c, bool attribute)
{
    if (c < 0x40)
        return (attribute ? kAttributeMarked : kTextMarked)[c];
    return c >= 0xD800 && (c < 0xE000 || c >= 0xFFFE);
}

// Characters that XML 1.0 cannot hold at all (C0 controls other than tab, line
// feed and carriage return, unpaired surrogates, U+FFFE, U+FFFF) are dropped:
// written as they are, or even as character references, they would make the
// whole file unparseable. A carriage return is written as a reference because
// the reader turns a literal one into a line feed; in attributes, tab and line
// feed too, which attribute reading turns into blanks.
void appendEscaped(QString &out, QStringView value, bool attribute)
{
    qsizetype run = 0;
    const qsizetype size = value.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = value[i].unicode();
        if (!needsCare(c, attribute))
            continue;
        const char *reference = nullptr;
        bool keep = true;
        if (c == u'&')
            reference = "&amp;";
        else if (c == u'<')
            reference = "&lt;";
        else if (c == u'>')
            reference = "&gt;"; // also keeps "]]>" out of character data
        else if (c == u'\r')
            reference = "&#xD;";
        else if (attribute && c == u'"')
            reference = "&quot;";
        else if (attribute && c == u'\t')
            reference = "&#x9;";
        else if (attribute && c == u'\n')
            reference = "&#xA;";
        else if (c < 0x20)
            keep = c == u'\t' || c == u'\n';
        else if (c == 0xFFFE || c == 0xFFFF)
            keep = false;
        else if (QChar::isHighSurrogate(c) && i + 1 < size && value[i + 1].isLowSurrogate())
            ++i;
        else if (QChar::isSurrogate(c))
            keep = false;
        if (keep && !reference)
            continue;
        out.append(value.sliced(run, i - run));
        if (reference)
            out.append(QLatin1StringView(reference));
        run = i + 1;
    }
    out.append(value.sliced(run));
}

} // namespace

QByteArray serialize(const Document &doc)
{
    QString out;
    qsizetype estimate = 0;
    for (const Token &token : doc.tokens)
        estimate += token.text.size() + 8;
    out.reserve(estimate);

    qsizetype depth = 0;
    const std::size_t count = doc.tokens.size();
    for (std::size_t i = 0; i < count; ++i) {
        const Token &token = doc.tokens[i];
        switch (token.kind) {
        case Kind::StartElement:
            out += u'<';
            out += token.text;
            if (token.extra >= 0) {
                for (const QXmlStreamAttribute &attribute :
                     doc.attributes[std::size_t(token.extra)]) {
                    out += u' ';
                    out += attribute.qualifiedName();
                    out += u"=\"";
                    appendEscaped(out, attribute.value(), true);
                    out += u'"';
                }
            }
            if (i + 1 < count && doc.tokens[i + 1].kind == Kind::EndElement) {
                out += u"/>";
                ++i;
            } else {
                out += u'>';
                ++depth;
            }
            break;
        case Kind::EndElement:
            out += u"</";
            out += token.text;
            out += u'>';
            --depth;
            break;
        case Kind::Text:
            appendEscaped(out, token.text, false);
            break;
        case Kind::CData:
            out += u"<![CDATA[";
            out += token.text;
            out += u"]]>";
            break;
        case Kind::Comment:
            out += u"<!--";
            out += token.text;
            out += u"-->";
            break;
        case Kind::Instruction: {
            out += u"<?";
            out += token.text;
            const QString &data = doc.instructionData[std::size_t(token.extra)];
            if (!data.isEmpty()) {
                out += u' ';
                out += data;
            }
            out += u"?>";
            break;
        }
        case Kind::Doctype:
            out += token.text;
            break;
        }
        // Each top-level item (prolog, root, epilog) ends its own line.
        if (depth == 0)
            out += u'\n';
    }
    return out.toUtf8();
}

} // namespace configstore::detail
