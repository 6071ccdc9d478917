#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHashFunctions>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

// The document is held as a flat list of tokens rather than a tree: every walk
// is a loop, so a file nested 100,000 levels deep costs no stack, and nothing
// of the file (comments, attributes, whitespace inside values) is lost between
// a load and a save. QDomDocument would not do: Qt 6.4's drops whitespace-only
// text even when written as character references, takes nearly a minute to
// parse 100,000 nested elements and then crashes saving them, and loads
// 32,767 pairs more slowly than the stream reader.
namespace configstore::detail {

// An element without content is one token, Empty, rather than a start and
// an end tag: a file of empty elements is mostly those.
enum class Kind : quint8 {
    StartElement,
    EndElement,
    Empty,
    Text,
    CData,
    Comment,
    Instruction,
    Doctype
};

// A token is a place in its document's bytes, not bytes of its own: a file of
// distinct element names would otherwise cost an allocation per element, over
// ten times the file in memory. Eight bytes, as a file of empty elements is
// mostly tokens. A token means something only in the document that made it.
class Token
{
public:
    static constexpr int kSizeBits = 29; // the rest holds the kind
    static constexpr quint32 kMaxSize = (quint32(1) << kSizeBits) - 1;

    Token(Kind kind, quint32 at, quint32 size)
        : m_at(at), m_sizeAndKind(size | quint32(kind) << kSizeBits)
    {
    }
    Kind kind() const { return Kind(m_sizeAndKind >> kSizeBits); }
    quint32 at() const { return m_at; }
    quint32 size() const { return m_sizeAndKind & kMaxSize; }

private:
    quint32 m_at;
    quint32 m_sizeAndKind;
};
static_assert(quint32(Kind::Doctype) < quint32(1) << (32 - Token::kSizeBits));

struct Document
{
    std::vector<Token> tokens;
    std::size_t root = 0; // the first start tag
    // What the tokens are written as: start tags with their attributes, each
    // after its blank, since a save never edits them; an instruction's target,
    // then a blank and its data if it has any; the rest unescaped. Only ever
    // appended to, so an end tag shares its start tag's name and a save's
    // edits leave the places of the file's tokens alone.
    QByteArray bytes;
    // Bytes of tokens too large to place: such a document is never written
    // (no file the program reads comes near).
    qint64 lost = 0;

    QByteArrayView written(const Token &token) const
    {
        return QByteArrayView(bytes).sliced(token.at(), token.size());
    }
    // Element name, character data, comment, instruction target, DOCTYPE.
    QByteArrayView text(const Token &token) const
    {
        const QByteArrayView all = written(token);
        if (token.kind() != Kind::StartElement && token.kind() != Kind::Empty &&
            token.kind() != Kind::Instruction)
            return all;
        const qsizetype blank = all.indexOf(' ');
        return blank < 0 ? all : all.first(blank);
    }
    // The token of the bytes appended since from.
    Token close(Kind kind, qsizetype from)
    {
        const qsizetype size = bytes.size() - from;
        if (size > qsizetype(Token::kMaxSize) || bytes.size() > qsizetype(0xFFFFFFFF)) {
            lost += size;
            bytes.truncate(from);
            return Token{kind, 0, 0};
        }
        return Token{kind, quint32(from), quint32(size)};
    }
    Token add(Kind kind, QByteArrayView value)
    {
        const qsizetype from = bytes.size();
        bytes.append(value);
        return close(kind, from);
    }
};

void appendUtf8(Document &doc, QStringView text);

inline Token elementToken(Document &doc, Kind kind, const QString &name)
{
    const qsizetype from = doc.bytes.size();
    appendUtf8(doc, name);
    return doc.close(kind, from);
}
// Characters XML cannot hold are dropped; the text boxes never take them.
Token textToken(Document &doc, const QString &value);

// Element names and indentation repeat all through a file: one copy of each
// spares the bytes. Looked up by hash: a file of distinct names asks for each
// name once and finds none, and a scan of the known ones then costs every
// name the whole list.
class Interner
{
public:
    Token get(Document &doc, Kind kind, QStringView text)
    {
        const std::size_t hash = qHash(text);
        std::size_t slot = hash % kSlots;
        while (m_slots[slot].used) {
            if (m_slots[slot].hash == hash && m_slots[slot].key == text)
                return Token{kind, m_slots[slot].at, m_slots[slot].size};
            slot = (slot + 1) % kSlots;
        }
        const qsizetype from = doc.bytes.size();
        appendUtf8(doc, text);
        const Token made = doc.close(kind, from);
        if (m_count < kKept) {
            m_slots[slot] = Slot{true, hash, text.toString(), made.at(), made.size()};
            ++m_count;
        }
        return made;
    }

private:
    static constexpr std::size_t kKept = 64;
    static constexpr std::size_t kSlots = 2 * kKept;
    struct Slot
    {
        bool used = false;
        std::size_t hash = 0;
        QString key;
        quint32 at = 0;
        quint32 size = 0;
    };
    std::array<Slot, kSlots> m_slots{};
    std::size_t m_count = 0;
};

// Builds the whole document, for a save to edit and write back.
class DocumentBuilder
{
public:
    // Each '<' of the source starts at most one token and is followed by at
    // most one text: room for all of them at once spares the copies of a
    // growing list, and the room never used is never touched.
    explicit DocumentBuilder(QByteArrayView source)
    {
        doc.tokens.reserve(std::size_t(2 * std::count(source.begin(), source.end(), '<') + 2));
        doc.bytes.reserve(source.size() + 64);
    }

    void startElement(const QXmlStreamReader &reader);
    // The reader has checked that the name is the start tag's.
    // A start tag just before it can only be the element's own.
    void endElement(const QXmlStreamReader &)
    {
        Token &last = doc.tokens.back();
        if (last.kind() == Kind::StartElement)
            last = Token{Kind::Empty, last.at(), last.size()};
        else
            doc.tokens.push_back(m_open.back());
        m_open.pop_back();
    }
    void characters(const QXmlStreamReader &reader);
    void comment(const QXmlStreamReader &reader);
    void instruction(const QXmlStreamReader &reader);
    void doctype(const QXmlStreamReader &reader);

    Document doc;

private:
    Token addUtf8(Kind kind, QStringView text)
    {
        const qsizetype from = doc.bytes.size();
        appendUtf8(doc, text);
        return doc.close(kind, from);
    }

    Interner m_names;
    Interner m_spacing;
    std::vector<Token> m_open; // the end tags to come
    bool m_rootSeen = false;
};

std::optional<std::size_t> findFirst(const Document &doc, const QString &name);
// The index of the end tag that closes the start tag at start (an empty
// element's own).
std::size_t endOf(const Document &doc, std::size_t start);
// An empty element at index gets an end tag, for content to go before it.
void giveEndTag(Document &doc, std::size_t index);
qsizetype depthOf(const Document &doc, std::size_t index);

QByteArray serialize(const Document &doc);

} // namespace configstore::detail
