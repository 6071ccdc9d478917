#include "config/tokendocument.h"

#include "platform/storabletext.h"

#include <QStringEncoder>

#include <array>
#include <cstring>

namespace configstore::detail {

std::optional<std::size_t> findFirst(const Document &doc, const QString &name)
{
    const QByteArray wanted = name.toUtf8();
    for (std::size_t i = 0; i < doc.tokens.size(); ++i) {
        // The name is what comes before the first blank, if any.
        const Kind kind = doc.tokens[i].kind();
        const QByteArrayView written = doc.written(doc.tokens[i]);
        if ((kind == Kind::StartElement || kind == Kind::Empty) && written.startsWith(wanted) &&
            (written.size() == wanted.size() || written[wanted.size()] == ' '))
            return i;
    }
    return std::nullopt;
}

std::size_t endOf(const Document &doc, std::size_t start)
{
    if (doc.tokens[start].kind() == Kind::Empty)
        return start;
    qsizetype depth = 0;
    for (std::size_t i = start; i < doc.tokens.size(); ++i) {
        if (doc.tokens[i].kind() == Kind::StartElement)
            ++depth;
        else if (doc.tokens[i].kind() == Kind::EndElement && --depth == 0)
            return i;
    }
    return doc.tokens.size(); // unreachable for a parsed document
}

void giveEndTag(Document &doc, std::size_t index)
{
    Token &token = doc.tokens[index];
    if (token.kind() != Kind::Empty)
        return;
    token = Token{Kind::StartElement, token.at(), token.size()};
    const Token end{Kind::EndElement, token.at(), quint32(doc.text(token).size())};
    doc.tokens.insert(doc.tokens.begin() + std::ptrdiff_t(index) + 1, end);
}

qsizetype depthOf(const Document &doc, std::size_t index)
{
    qsizetype depth = 0;
    for (std::size_t i = 0; i < index; ++i) {
        if (doc.tokens[i].kind() == Kind::StartElement)
            ++depth;
        else if (doc.tokens[i].kind() == Kind::EndElement)
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
// Bytes from 0x80 up belong to characters that XML can hold: textToken and
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
template <typename Out> void appendEscaped(Out &out, QByteArrayView value, bool attribute)
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

// Appends without QByteArray's checks on each piece: a file is written a few
// bytes at a time, millions of times.
class Writer
{
public:
    // Reserved first: a resize alone rounds the block up to a power of two.
    explicit Writer(qsizetype estimate)
    {
        m_out.reserve(estimate);
        m_out.resize(estimate);
    }
    void append(QByteArrayView bytes)
    {
        if (m_out.size() - m_at < bytes.size())
            m_out.resize(std::max(m_at + bytes.size(), 2 * m_out.size()));
        std::memcpy(m_out.data() + m_at, bytes.data(), std::size_t(bytes.size()));
        m_at += bytes.size();
    }
    QByteArray take() &&
    {
        m_out.truncate(m_at);
        return std::move(m_out);
    }

private:
    QByteArray m_out;
    qsizetype m_at = 0;
};

} // namespace

void appendUtf8(Document &doc, QStringView text)
{
    // Straight into the bytes: a conversion of its own would allocate for
    // every name and text of the file.
    // Room for at most three bytes a unit, as the encoder's own estimate, would
    // outgrow the room kept for the file's bytes with one long text.
    qsizetype room = text.size();
    for (const QChar c : text)
        room += (c.unicode() >= 0x80) + (c.unicode() >= 0x800);
    const qsizetype from = doc.bytes.size();
    doc.bytes.resize(from + room);
    char *out = doc.bytes.data() + from;
    if (room == text.size()) {
        for (const QChar c : text)
            *out++ = char(c.unicode());
        return;
    }
    QStringEncoder utf8(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    char *const end = utf8.appendToBuffer(out, text);
    doc.bytes.truncate(end - doc.bytes.constData());
}

Token textToken(Document &doc, const QString &value)
{
    const qsizetype from = doc.bytes.size();
    if (storabletext::firstUnstorable(value) < 0)
        appendUtf8(doc, value);
    else
        appendUtf8(doc, storabletext::storable(value));
    return doc.close(Kind::Text, from);
}

void DocumentBuilder::startElement(const QXmlStreamReader &reader)
{
    if (!m_rootSeen) {
        doc.root = doc.tokens.size();
        m_rootSeen = true;
    }
    const QXmlStreamAttributes attributes = reader.attributes();
    Token start{Kind::StartElement, 0, 0};
    if (attributes.isEmpty()) {
        start = m_names.get(doc, Kind::StartElement, reader.qualifiedName());
    } else {
        // Written after the name, which is then a copy of its own.
        const qsizetype from = doc.bytes.size();
        appendUtf8(doc, reader.qualifiedName());
        for (const QXmlStreamAttribute &attribute : attributes) {
            doc.bytes += ' ';
            appendUtf8(doc, attribute.qualifiedName());
            doc.bytes += "=\"";
            appendEscaped(doc.bytes, attribute.value().toUtf8(), true);
            doc.bytes += '"';
        }
        start = doc.close(Kind::StartElement, from);
    }
    m_open.push_back(Token{Kind::EndElement, start.at(), quint32(doc.text(start).size())});
    doc.tokens.push_back(start);
}

void DocumentBuilder::characters(const QXmlStreamReader &reader)
{
    if (reader.isCDATA())
        doc.tokens.push_back(addUtf8(Kind::CData, reader.text()));
    else if (reader.isWhitespace() && reader.text().size() <= 64)
        doc.tokens.push_back(m_spacing.get(doc, Kind::Text, reader.text()));
    else
        doc.tokens.push_back(addUtf8(Kind::Text, reader.text()));
}

void DocumentBuilder::comment(const QXmlStreamReader &reader)
{
    doc.tokens.push_back(addUtf8(Kind::Comment, reader.text()));
}

void DocumentBuilder::instruction(const QXmlStreamReader &reader)
{
    const qsizetype from = doc.bytes.size();
    appendUtf8(doc, reader.processingInstructionTarget());
    if (!reader.processingInstructionData().isEmpty()) {
        doc.bytes += ' ';
        appendUtf8(doc, reader.processingInstructionData());
    }
    doc.tokens.push_back(doc.close(Kind::Instruction, from));
}

// Kept as written: it names no more than the root and an external identifier,
// which is never fetched. The reader's text starts with the blanks before it,
// which the writer puts in a line end of its own.
void DocumentBuilder::doctype(const QXmlStreamReader &reader)
{
    doc.tokens.push_back(addUtf8(Kind::Doctype, reader.text().trimmed()));
}

QByteArray serialize(const Document &doc)
{
    qsizetype estimate = 0;
    for (const Token &token : doc.tokens)
        estimate += token.size() + 8;
    Writer out(estimate);

    qsizetype depth = 0;
    const std::size_t count = doc.tokens.size();
    for (std::size_t i = 0; i < count; ++i) {
        const Token &token = doc.tokens[i];
        const QByteArrayView written = doc.written(token);
        switch (token.kind()) {
        case Kind::StartElement:
            out.append("<");
            out.append(written);
            if (i + 1 < count && doc.tokens[i + 1].kind() == Kind::EndElement) {
                out.append("/>");
                ++i;
            } else {
                out.append(">");
                ++depth;
            }
            break;
        case Kind::Empty:
            out.append("<");
            out.append(written);
            out.append("/>");
            break;
        case Kind::EndElement:
            out.append("</");
            out.append(written);
            out.append(">");
            --depth;
            break;
        case Kind::Text:
            appendEscaped(out, written, false);
            break;
        case Kind::CData:
            out.append("<![CDATA[");
            out.append(written);
            out.append("]]>");
            break;
        case Kind::Comment:
            out.append("<!--");
            out.append(written);
            out.append("-->");
            break;
        case Kind::Instruction:
            out.append("<?");
            out.append(written);
            out.append("?>");
            break;
        case Kind::Doctype:
            out.append(written);
            break;
        }
        // Each top-level item (prolog, root, epilog) ends its own line.
        if (depth == 0)
            out.append("\n");
    }
    return std::move(out).take();
}

} // namespace configstore::detail
