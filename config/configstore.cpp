#include "config/configstore.h"

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

// The document is held as a flat list of tokens rather than a tree: every walk
// is a loop, so a file nested 100,000 levels deep costs no stack, and nothing
// of the file (comments, attributes, whitespace inside values) is lost between
// a load and a save. QDomDocument was measured and set aside: Qt 6.4 drops
// whitespace-only text even when written as character references, takes
// nearly a minute to parse 100,000 nested elements and then crashes saving
// them, and loads 32,767 pairs more slowly than the stream reader.

namespace configstore {
namespace {

// Bounds on what the reader is given, far above anything the store writes
// (32,767 pairs are about 100,000 elements, without attributes).
constexpr qsizetype kMaxTags = 1'000'000;
constexpr qsizetype kMaxAttributesPerTag = 64;
constexpr int kMaxKeptUnreadable = 100;

const QString kRootElement = QStringLiteral("AlarmClockConfig");
const QString kFileNameElement = QStringLiteral("WakeyFileName");
const QString kTimeElement = QStringLiteral("WakeyTime");
const QString kContainerElement = QStringLiteral("AwareTestQuestions");
const QString kPairElement = QStringLiteral("QA_Pair");
const QString kQuestionElement = QStringLiteral("Question");
const QString kAnswerElement = QStringLiteral("Answer");

enum class Kind : quint8 { StartElement, EndElement, Text, CData, Comment, Instruction };

struct Token
{
    Kind kind;
    QString text;         // element name, character data, comment, instruction target
    qsizetype extra = -1; // index into attributes (start tags) or instructionData
};

struct Document
{
    std::vector<Token> tokens;
    std::vector<QXmlStreamAttributes> attributes;
    std::vector<QString> instructionData;
    std::size_t root = 0; // the first start tag
};

Token element(Kind kind, const QString &name)
{
    return Token{kind, name};
}
Token text(const QString &value)
{
    return Token{Kind::Text, value};
}

bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isFormatting(const Token &token)
{
    return token.kind == Kind::Text && !token.text.isEmpty() &&
           std::all_of(token.text.cbegin(), token.text.cend(), isXmlSpace);
}

// --- reading ---------------------------------------------------------------

std::optional<QByteArray> readCapped(const QString &path)
{
    // A FIFO or device at the path would block or never end; only plain files.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxFileBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Sized from the file, as a read of the whole cap costs a buffer of that
    // size; one byte more shows that it has grown since, and then the rest is
    // read up to the cap.
    const qint64 expected = file.size();
    if (expected > kMaxFileBytes)
        return std::nullopt;
    QByteArray bytes = file.read(expected + 1);
    if (bytes.size() > expected)
        bytes += file.read(kMaxFileBytes + 1 - bytes.size());
    if (bytes.size() > kMaxFileBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

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

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

std::u16string_view view(const QString &text)
{
    return {reinterpret_cast<const char16_t *>(text.utf16()), std::size_t(text.size())};
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

bool isUtf8Name(std::string_view name)
{
    return QByteArrayView(name.data(), qsizetype(name.size()))
               .compare("UTF-8", Qt::CaseInsensitive) == 0;
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
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

// A document that carries any "<!" declaration (DOCTYPE, ENTITY, ...) is
// refused as unparseable, never stripped and parsed: the store writes none,
// and Qt 6.4.2's reader must not see DTD content at all. It parses a DOCTYPE
// even inside the root element and expands the entities declared there, and
// Debian's build may lack the fixes for CVE-2023-38197 (recursive entities)
// and CVE-2023-37369. The reader's duplicate-attribute check is quadratic, so
// attributes per tag are bounded as well, and so is the number of tags.
// Only the constructs that can hide a '<' or '>' are skipped exactly; an
// unterminated one is left for the reader to reject. All markup is ASCII, so
// UTF-8 bytes can be scanned as they are.
template <typename Char> bool safeToParse(std::basic_string_view<Char> doc)
{
    constexpr std::size_t npos = std::basic_string_view<Char>::npos;
    qsizetype tags = 0;
    std::size_t i = doc.find(Char('<'));
    while (i != npos) {
        std::size_t next = npos;
        if (hasAt(doc, i, "<!--")) {
            next = findFrom(doc, i + 4, "-->");
        } else if (hasAt(doc, i, "<![CDATA[")) {
            next = findFrom(doc, i + 9, "]]>");
        } else if (hasAt(doc, i, "<?")) {
            next = findFrom(doc, i + 2, "?>");
        } else if (hasAt(doc, i, "<!")) {
            return false;
        } else {
            if (++tags > kMaxTags)
                return false;
            qsizetype attributes = 0;
            std::size_t j = i + 1;
            for (; j < doc.size() && doc[j] != Char('>'); ++j) {
                const Char c = doc[j];
                if (c == Char('"') || c == Char('\''))
                    j = doc.find(c, j + 1);
                else if (c == Char('=') && ++attributes > kMaxAttributesPerTag)
                    return false;
                if (j == npos)
                    break;
            }
            next = j;
        }
        if (next == npos || next >= doc.size())
            return true;
        i = doc.find(Char('<'), next + 1);
    }
    return true;
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

    Document doc;

private:
    Interner m_names;
    Interner m_spacing;
    bool m_rootSeen = false;
};

// Collects only what a load returns, straight from the reader. Texts go to
// whichever value element is open; only an element's own character data
// counts, not that of nested elements, which keeps the work linear even for
// values nested inside values.
class SettingsCollector
{
public:
    void startElement(const QXmlStreamReader &reader)
    {
        const QStringView name = reader.qualifiedName();
        Open entry;
        Open *parent = m_open.empty() ? nullptr : &m_open.back();
        const bool inPair = parent && parent->pair >= 0;
        if (name == kPairElement) {
            entry.pair = stored.pairs.size();
            stored.pairs.append(QuestionPair{});
        } else if (name == kQuestionElement && inPair && !parent->questionSeen) {
            parent->questionSeen = true;
            entry.target = Target::Question;
            entry.owner = parent->pair;
        } else if (name == kAnswerElement && inPair && !parent->answerSeen) {
            parent->answerSeen = true;
            entry.target = Target::Answer;
            entry.owner = parent->pair;
        } else if (name == kFileNameElement && !stored.wakeyFileName) {
            stored.wakeyFileName = QString();
            entry.target = Target::FileName;
        } else if (name == kTimeElement && !stored.wakeyTime) {
            stored.wakeyTime = QString();
            entry.target = Target::Time;
        }
        m_open.push_back(entry);
    }

    void endElement(const QXmlStreamReader &) { m_open.pop_back(); }

    void characters(const QXmlStreamReader &reader)
    {
        const Open &current = m_open.back();
        switch (current.target) {
        case Target::None:
            break;
        case Target::FileName:
            *stored.wakeyFileName += reader.text();
            break;
        case Target::Time:
            *stored.wakeyTime += reader.text();
            break;
        case Target::Question:
            stored.pairs[current.owner].question += reader.text();
            break;
        case Target::Answer:
            stored.pairs[current.owner].answer += reader.text();
            break;
        }
    }

    void comment(const QXmlStreamReader &) {}
    void instruction(const QXmlStreamReader &) {}

    StoredSettings stored;

private:
    enum class Target : quint8 { None, FileName, Time, Question, Answer };
    struct Open
    {
        Target target = Target::None;
        qsizetype pair = -1;  // this element is that QA_Pair
        qsizetype owner = -1; // this Question or Answer belongs to that pair
        bool questionSeen = false;
        bool answerSeen = false;
    };
    std::vector<Open> m_open;
};

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

// --- editing ---------------------------------------------------------------

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

QString indentation(qsizetype depth)
{
    return u'\n' + QString(2 * depth, u' ');
}

void replaceContent(Document &doc, std::size_t start, const std::vector<Token> &content)
{
    const auto first = doc.tokens.begin() + std::ptrdiff_t(start) + 1;
    const auto last = doc.tokens.begin() + std::ptrdiff_t(endOf(doc, start));
    doc.tokens.insert(doc.tokens.erase(first, last), content.begin(), content.end());
}

// A root whose content a save replaces (a file that is one value or one
// container) gets a new root around it first: whatever is appended would
// otherwise add blanks to the value or be wiped by the next save. A load reads
// the same from the wrapped document.
void wrapOwnedRoot(Document &doc)
{
    const QString &name = doc.tokens[doc.root].text;
    if (name != kFileNameElement && name != kTimeElement && name != kContainerElement)
        return;
    const auto end = doc.tokens.begin() + std::ptrdiff_t(endOf(doc, doc.root)) + 1;
    doc.tokens.insert(end, {text(QStringLiteral("\n")), element(Kind::EndElement, kRootElement)});
    const auto start = doc.tokens.begin() + std::ptrdiff_t(doc.root);
    doc.tokens.insert(start, {element(Kind::StartElement, kRootElement), text(indentation(1))});
}

// New elements go on a line of their own, so that the closing tag of the root
// stays on its own line too.
void appendToRoot(Document &doc, std::vector<Token> subtree)
{
    wrapOwnedRoot(doc);
    std::size_t at = endOf(doc, doc.root);
    subtree.insert(subtree.begin(), text(indentation(1)));
    if (isFormatting(doc.tokens[at - 1]))
        --at;
    else
        subtree.push_back(text(QStringLiteral("\n")));
    doc.tokens.insert(doc.tokens.begin() + std::ptrdiff_t(at), subtree.begin(), subtree.end());
}

void replaceSetting(Document &doc, const QString &name, const QString &value)
{
    if (const auto found = findFirst(doc, name)) {
        replaceContent(doc, *found, {text(value)});
        return;
    }
    appendToRoot(doc,
                 {element(Kind::StartElement, name), text(value), element(Kind::EndElement, name)});
}

std::vector<Token> pairTokens(const QList<QuestionPair> &pairs, qsizetype depth)
{
    std::vector<Token> tokens;
    if (pairs.isEmpty())
        return tokens;
    const QString pairIndent = indentation(depth + 1);
    const QString partIndent = indentation(depth + 2);
    tokens.reserve(std::size_t(pairs.size()) * 12 + 1);
    for (const QuestionPair &pair : pairs) {
        tokens.push_back(text(pairIndent));
        tokens.push_back(element(Kind::StartElement, kPairElement));
        tokens.push_back(text(partIndent));
        tokens.push_back(element(Kind::StartElement, kQuestionElement));
        tokens.push_back(text(pair.question));
        tokens.push_back(element(Kind::EndElement, kQuestionElement));
        tokens.push_back(text(partIndent));
        tokens.push_back(element(Kind::StartElement, kAnswerElement));
        tokens.push_back(text(pair.answer));
        tokens.push_back(element(Kind::EndElement, kAnswerElement));
        tokens.push_back(text(pairIndent));
        tokens.push_back(element(Kind::EndElement, kPairElement));
    }
    tokens.push_back(text(indentation(depth)));
    return tokens;
}

// --- writing ---------------------------------------------------------------

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
        }
        // Each top-level item (prolog, root, epilog) ends its own line.
        if (depth == 0)
            out += u'\n';
    }
    return out.toUtf8();
}

// unreadable tells whether a file with content is there that could not be
// read; the save then starts afresh and keeps that file aside.
Document openForSave(const QString &path, bool *unreadable)
{
    if (const std::optional<QByteArray> bytes = readCapped(path)) {
        DocumentBuilder builder(bytes->size());
        if (readFile(*bytes, builder)) {
            *unreadable = false;
            return std::move(builder.doc);
        }
    }
    const QFileInfo info(path);
    *unreadable = info.isFile() && info.size() > 0;
    DocumentBuilder fresh(0);
    parseText(QStringLiteral("<AlarmClockConfig />"), fresh);
    return std::move(fresh.doc);
}

// A short write is retried with the rest, so that a persistent failure such as
// a full disk reaches the OS's own error and its reason.
bool writeAll(QSaveFile &file, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return false;
        done += qsizetype(written);
    }
    return true;
}

// A file that could not be read may still hold a person's questions (one bad
// byte is enough); rather than write over it, it is renamed to the first free
// "<file>.unreadable[-N]".
QString keepAside(const QString &path)
{
    for (int n = 1; n <= kMaxKeptUnreadable; ++n) {
        const QString aside = path + QStringLiteral(".unreadable") +
                              (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
        if (QFileInfo::exists(aside) || QFileInfo(aside).isSymLink())
            continue;
        if (QFile::rename(path, aside))
            return aside;
        return {};
    }
    return {};
}

SaveResult write(const QString &path, const Document &doc, bool keepOldAside)
{
    SaveResult result;
    result.path = path;
    if (keepOldAside) {
        result.keptAside = keepAside(path);
        if (result.keptAside.isEmpty()) {
            result.ok = false;
            result.reason = QStringLiteral("the file there cannot be read, and it could not be "
                                           "kept aside as %1.unreadable to make room")
                                .arg(QFileInfo(path).fileName());
            return result;
        }
        qWarning("%s could not be read; it was kept as %s", qPrintable(path),
                 qPrintable(result.keptAside));
    }
    const QByteArray bytes = serialize(doc);
    // Written beside the old file and renamed over it only when complete; on
    // any failure the destructor discards the temporary file. Unbuffered, so
    // that each failing write carries the OS's reason.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeAll(file, bytes) ||
        !file.commit()) {
        result.ok = false;
        result.reason = file.errorString();
        // Nothing may be lost: the old file goes back where it was.
        if (!result.keptAside.isEmpty() && QFile::rename(result.keptAside, path))
            result.keptAside.clear();
    }
    return result;
}

} // namespace

QString SaveResult::message() const
{
    if (ok)
        return {};
    return QStringLiteral("Could not save the settings to %1: %2").arg(path, reason);
}

QString filePath(const QString &directory)
{
    return directory + u'/' + QLatin1StringView(kFileName);
}

StoredSettings load(const QString &directory)
{
    const std::optional<QByteArray> bytes = readCapped(filePath(directory));
    SettingsCollector collector;
    if (!bytes || !readFile(*bytes, collector))
        return {};
    return std::move(collector.stored);
}

SaveResult saveSettings(const QString &directory, const QString &wakeyFileName,
                        const QString &wakeyTime)
{
    const QString path = filePath(directory);
    bool unreadable = false;
    Document doc = openForSave(path, &unreadable);
    // Where one value element holds the other, the outer one is replaced
    // first: the inner one goes with its old content and is then found
    // elsewhere or added, rather than written and then wiped.
    const auto fileNameAt = findFirst(doc, kFileNameElement);
    const auto timeAt = findFirst(doc, kTimeElement);
    if (fileNameAt && timeAt && *timeAt < *fileNameAt) {
        replaceSetting(doc, kTimeElement, wakeyTime);
        replaceSetting(doc, kFileNameElement, wakeyFileName);
    } else {
        replaceSetting(doc, kFileNameElement, wakeyFileName);
        replaceSetting(doc, kTimeElement, wakeyTime);
    }
    return write(path, doc, unreadable);
}

SaveResult saveQuestions(const QString &directory, const QList<QuestionPair> &pairs)
{
    const QString path = filePath(directory);
    bool unreadable = false;
    Document doc = openForSave(path, &unreadable);
    if (const auto found = findFirst(doc, kContainerElement)) {
        replaceContent(doc, *found, pairTokens(pairs, depthOf(doc, *found)));
    } else {
        std::vector<Token> container = pairTokens(pairs, 1);
        container.insert(container.begin(), element(Kind::StartElement, kContainerElement));
        container.push_back(element(Kind::EndElement, kContainerElement));
        appendToRoot(doc, std::move(container));
    }
    return write(path, doc, unreadable);
}

} // namespace configstore
