#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QString>
#include <QXmlStreamAttributes>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

// The document is held as a flat list of tokens rather than a tree: every walk
// is a loop, so a file nested 100,000 levels deep costs no stack, and nothing
// of the file (comments, attributes, whitespace inside values) is lost between
// a load and a save. QDomDocument would not do: Qt 6.4's drops whitespace-only
// text even when written as character references, takes nearly a minute to
// parse 100,000 nested elements and then crashes saving them, and loads
// 32,767 pairs more slowly than the stream reader.
namespace configstore::detail {

enum class Kind : quint8 { StartElement, EndElement, Text, CData, Comment, Instruction, Doctype };

// Held as UTF-8, half the size of QString's UTF-16: a save keeps the whole
// file in memory, and its peak is bounded by a small multiple of the file.
// One array holds both parts: a file of empty elements is mostly tokens,
// and a second array in each would nearly double their size.
class Token
{
public:
    Token(Kind kind, QByteArray text, QByteArrayView more = {})
        : kind(kind), m_split(more.isEmpty() ? kWhole : quint32(text.size())),
          m_bytes(more.isEmpty() ? std::move(text) : joined(text, more))
    {
    }

    // Element name, character data (unescaped), comment, instruction target,
    // DOCTYPE.
    QByteArrayView text() const
    {
        return m_split == kWhole ? QByteArrayView(m_bytes) : QByteArrayView(m_bytes).first(m_split);
    }
    // Start tags: the attributes as they are written back, each after its
    // blank, since a save never edits them; instructions: the data.
    QByteArrayView more() const
    {
        return m_split == kWhole ? QByteArrayView() : QByteArrayView(m_bytes).sliced(m_split);
    }
    qsizetype size() const { return m_bytes.size(); }

    Kind kind;

private:
    static constexpr quint32 kWhole = 0xFFFFFFFF;
    // Exact in size: an append would leave room to grow.
    static QByteArray joined(QByteArrayView first, QByteArrayView second)
    {
        QByteArray bytes(first.size() + second.size(), Qt::Uninitialized);
        std::copy(second.begin(), second.end(),
                  std::copy(first.begin(), first.end(), bytes.begin()));
        return bytes;
    }
    quint32 m_split;
    QByteArray m_bytes;
};

struct Document
{
    std::vector<Token> tokens;
    std::size_t root = 0; // the first start tag
};

// Characters XML cannot hold are dropped; the text boxes never take them.
QByteArray writableUtf8(QStringView value);

inline Token element(Kind kind, const QString &name)
{
    return Token{kind, name.toUtf8()};
}
inline Token text(const QByteArray &value)
{
    return Token{Kind::Text, value};
}
inline Token text(const QString &value)
{
    return Token{Kind::Text, writableUtf8(value)};
}

// Element names and indentation repeat all through a file: one shared copy
// of each spares an allocation per token. Looked up by hash: a file of
// distinct names asks for each name once and finds none, and a scan of the
// known ones then costs every name the whole list.
class Interner
{
public:
    QByteArray get(QStringView text)
    {
        const std::size_t hash = qHash(text);
        std::size_t slot = hash % kSlots;
        while (m_slots[slot].used) {
            if (m_slots[slot].hash == hash && m_slots[slot].key == text)
                return m_slots[slot].value;
            slot = (slot + 1) % kSlots;
        }
        QByteArray made = text.toUtf8();
        if (m_count < kKept) {
            m_slots[slot] = Slot{true, hash, text.toString(), made};
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
        QByteArray value;
    };
    std::array<Slot, kSlots> m_slots{};
    std::size_t m_count = 0;
};

// The attributes of a start tag, escaped, as one block.
QByteArray writtenAttributes(const QXmlStreamAttributes &attributes);
// Exact in size: the conversion reserves three bytes a character.
QByteArray compactUtf8(QStringView text);

// Builds the whole document, for a save to edit and write back.
class DocumentBuilder
{
public:
    // Each '<' of the source starts at most a start and an end tag and is
    // followed by at most one text: room for all of them at once spares the
    // copies of a growing list, and the room never used is never touched.
    explicit DocumentBuilder(QByteArrayView source)
    {
        doc.tokens.reserve(std::size_t(3 * std::count(source.begin(), source.end(), '<') + 2));
    }

    void startElement(const QXmlStreamReader &reader)
    {
        if (!m_rootSeen) {
            doc.root = doc.tokens.size();
            m_rootSeen = true;
        }
        QByteArray name = m_names.get(reader.qualifiedName());
        m_open.push_back(name);
        doc.tokens.push_back(
            Token{Kind::StartElement, std::move(name), writtenAttributes(reader.attributes())});
    }

    // The reader has checked that the name is the start tag's: its copy is
    // shared rather than made again for a name the interner does not keep.
    void endElement(const QXmlStreamReader &)
    {
        doc.tokens.push_back(Token{Kind::EndElement, std::move(m_open.back())});
        m_open.pop_back();
    }

    void characters(const QXmlStreamReader &reader)
    {
        if (reader.isCDATA())
            doc.tokens.push_back(Token{Kind::CData, compactUtf8(reader.text())});
        else if (reader.isWhitespace() && reader.text().size() <= 64)
            doc.tokens.push_back(text(m_spacing.get(reader.text())));
        else
            doc.tokens.push_back(text(compactUtf8(reader.text())));
    }

    void comment(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(Token{Kind::Comment, compactUtf8(reader.text())});
    }

    void instruction(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(Token{Kind::Instruction,
                                   compactUtf8(reader.processingInstructionTarget()),
                                   compactUtf8(reader.processingInstructionData())});
    }

    // Kept as written: it names no more than the root and an external
    // identifier, which is never fetched. The reader's text starts with the
    // blanks before it, which the writer puts in a line end of its own.
    void doctype(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(Token{Kind::Doctype, compactUtf8(reader.text().trimmed())});
    }

    Document doc;

private:
    Interner m_names;
    Interner m_spacing;
    std::vector<QByteArray> m_open;
    bool m_rootSeen = false;
};

std::optional<std::size_t> findFirst(const Document &doc, const QString &name);
// The index of the end tag that closes the start tag at start.
std::size_t endOf(const Document &doc, std::size_t start);
qsizetype depthOf(const Document &doc, std::size_t index);

QByteArray serialize(const Document &doc);

} // namespace configstore::detail
