#pragma once

#include <QByteArray>
#include <QString>
#include <QXmlStreamAttributes>
#include <QXmlStreamReader>

#include <algorithm>
#include <optional>
#include <vector>

// The document is held as a flat list of tokens rather than a tree: every walk
// is a loop, so a file nested 100,000 levels deep costs no stack, and nothing
// of the file (comments, attributes, whitespace inside values) is lost between
// a load and a save. QDomDocument was measured and set aside: Qt 6.4 drops
// whitespace-only text even when written as character references, takes
// nearly a minute to parse 100,000 nested elements and then crashes saving
// them, and loads 32,767 pairs more slowly than the stream reader.
namespace configstore::detail {

enum class Kind : quint8 { StartElement, EndElement, Text, CData, Comment, Instruction, Doctype };

struct Token
{
    Kind kind;
    QString text;         // element name, character data, comment, instruction target, DOCTYPE
    qsizetype extra = -1; // index into attributes (start tags) or instructionData
};

struct Document
{
    std::vector<Token> tokens;
    std::vector<QXmlStreamAttributes> attributes;
    std::vector<QString> instructionData;
    std::size_t root = 0; // the first start tag
};

inline Token element(Kind kind, const QString &name)
{
    return Token{kind, name};
}
inline Token text(const QString &value)
{
    return Token{Kind::Text, value};
}

// Element names and indentation repeat all through a file: one shared copy
// of each spares an allocation per token.
class Interner
{
public:
    QString get(QStringView text)
    {
        for (const QString &known : m_known) {
            if (known == text)
                return known;
        }
        QString made = text.toString();
        if (m_known.size() < 64)
            m_known.push_back(made);
        return made;
    }

private:
    std::vector<QString> m_known;
};

// Builds the whole document, for a save to edit and write back.
class DocumentBuilder
{
public:
    explicit DocumentBuilder(qsizetype sourceSize)
    {
        doc.tokens.reserve(std::size_t(std::min<qsizetype>(sourceSize / 10, 1 << 20)));
    }

    void startElement(const QXmlStreamReader &reader)
    {
        if (!m_rootSeen) {
            doc.root = doc.tokens.size();
            m_rootSeen = true;
        }
        Token token = element(Kind::StartElement, m_names.get(reader.qualifiedName()));
        if (!reader.attributes().isEmpty()) {
            token.extra = qsizetype(doc.attributes.size());
            doc.attributes.push_back(reader.attributes());
        }
        doc.tokens.push_back(std::move(token));
    }

    void endElement(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(element(Kind::EndElement, m_names.get(reader.qualifiedName())));
    }

    void characters(const QXmlStreamReader &reader)
    {
        if (reader.isCDATA())
            doc.tokens.push_back(Token{Kind::CData, reader.text().toString()});
        else if (reader.isWhitespace() && reader.text().size() <= 64)
            doc.tokens.push_back(text(m_spacing.get(reader.text())));
        else
            doc.tokens.push_back(text(reader.text().toString()));
    }

    void comment(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(Token{Kind::Comment, reader.text().toString()});
    }

    void instruction(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(Token{Kind::Instruction,
                                   reader.processingInstructionTarget().toString(),
                                   qsizetype(doc.instructionData.size())});
        doc.instructionData.push_back(reader.processingInstructionData().toString());
    }

    // Kept as written: it names no more than the root and an external
    // identifier, which is never fetched. The reader's text starts with the
    // blanks before it, which the writer puts in a line end of its own.
    void doctype(const QXmlStreamReader &reader)
    {
        doc.tokens.push_back(Token{Kind::Doctype, reader.text().trimmed().toString()});
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
