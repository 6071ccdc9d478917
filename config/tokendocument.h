#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamAttributes>
#include <QXmlStreamReader>

#include <algorithm>
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
struct Token
{
    Kind kind;
    // Element name, character data (unescaped), comment, instruction target,
    // DOCTYPE.
    QByteArray text;
    // Start tags: the attributes as they are written back, each after its
    // blank, since a save never edits them; instructions: the data.
    QByteArray more = {};
};

struct Document
{
    std::vector<Token> tokens;
    std::size_t root = 0; // the first start tag
};

// Characters XML cannot hold (unpaired surrogates, U+FFFE, U+FFFF) are dropped
// here; control characters are dropped when written.
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
// of each spares an allocation per token.
class Interner
{
public:
    QByteArray get(QStringView text)
    {
        for (const auto &[key, value] : m_known) {
            if (key == text)
                return value;
        }
        QByteArray made = text.toUtf8();
        if (m_known.size() < 64)
            m_known.emplace_back(text.toString(), made);
        return made;
    }

private:
    std::vector<std::pair<QString, QByteArray>> m_known;
};

// The attributes of a start tag, escaped, as one block.
QByteArray writtenAttributes(const QXmlStreamAttributes &attributes);
// Exact in size: the conversion reserves three bytes a character.
QByteArray compactUtf8(QStringView text);

// Builds the whole document, for a save to edit and write back.
class DocumentBuilder
{
public:
    explicit DocumentBuilder(qsizetype sourceSize)
    {
        doc.tokens.reserve(std::size_t(std::min<qsizetype>(sourceSize / 32, 1 << 18)));
    }

    void startElement(const QXmlStreamReader &reader)
    {
        if (!m_rootSeen) {
            doc.root = doc.tokens.size();
            m_rootSeen = true;
        }
        doc.tokens.push_back(Token{Kind::StartElement, m_names.get(reader.qualifiedName()),
                                   writtenAttributes(reader.attributes())});
    }

    void endElement(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(Token{Kind::EndElement, m_names.get(reader.qualifiedName())});
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
    bool m_rootSeen = false;
};

std::optional<std::size_t> findFirst(const Document &doc, const QString &name);
// The index of the end tag that closes the start tag at start.
std::size_t endOf(const Document &doc, std::size_t start);
qsizetype depthOf(const Document &doc, std::size_t index);

QByteArray serialize(const Document &doc);

} // namespace configstore::detail
