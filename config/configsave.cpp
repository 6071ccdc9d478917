#include "config/configstore.h"

#include "config/configelements.h"
#include "config/configintake.h"
#include "config/safewrite.h"
#include "config/tokendocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>
#include <vector>

#include <malloc.h>

namespace configstore {
namespace {

using namespace detail;

bool isFormatting(const Document &doc, const Token &token)
{
    const QByteArrayView text = doc.text(token);
    return token.kind() == Kind::Text && !text.isEmpty() &&
           std::all_of(text.cbegin(), text.cend(),
                       [](char c) { return isXmlSpace(QLatin1Char(c)); });
}

QByteArray indentation(qsizetype depth)
{
    return '\n' + QByteArray(2 * depth, ' ');
}

void replaceContent(Document &doc, std::size_t start, const std::vector<Token> &content)
{
    giveEndTag(doc, start);
    // Overwritten where it can be: each erase or insert moves all that follows.
    const auto first = doc.tokens.begin() + std::ptrdiff_t(start) + 1;
    const auto last = doc.tokens.begin() + std::ptrdiff_t(endOf(doc, start));
    const auto kept = std::min(std::size_t(last - first), content.size());
    std::copy_n(content.begin(), kept, first);
    if (kept < content.size())
        doc.tokens.insert(last, content.begin() + std::ptrdiff_t(kept), content.end());
    else
        doc.tokens.erase(first + std::ptrdiff_t(kept), last);
}

// A root whose content a save replaces (a file that is one value or one
// container) gets a new root around it first: whatever is appended would
// otherwise add blanks to the value or be wiped by the next save. A load reads
// the same from the wrapped document.
void wrapOwnedRoot(Document &doc)
{
    const QString name = QString::fromUtf8(doc.text(doc.tokens[doc.root]));
    if (name != kFileNameElement && name != kTimeElement && name != kContainerElement)
        return;
    const Token close[] = {doc.add(Kind::Text, "\n"),
                           elementToken(doc, Kind::EndElement, kRootElement)};
    const Token open[] = {elementToken(doc, Kind::StartElement, kRootElement),
                          doc.add(Kind::Text, indentation(1))};
    const auto end = doc.tokens.begin() + std::ptrdiff_t(endOf(doc, doc.root)) + 1;
    doc.tokens.insert(end, std::begin(close), std::end(close));
    const auto start = doc.tokens.begin() + std::ptrdiff_t(doc.root);
    doc.tokens.insert(start, std::begin(open), std::end(open));
}

// New elements go on a line of their own, so that the closing tag of the root
// stays on its own line too.
void appendToRoot(Document &doc, std::vector<Token> subtree)
{
    wrapOwnedRoot(doc);
    giveEndTag(doc, doc.root);
    std::size_t at = endOf(doc, doc.root);
    subtree.insert(subtree.begin(), doc.add(Kind::Text, indentation(1)));
    if (isFormatting(doc, doc.tokens[at - 1]))
        --at;
    else
        subtree.push_back(doc.add(Kind::Text, "\n"));
    doc.tokens.insert(doc.tokens.begin() + std::ptrdiff_t(at), subtree.begin(), subtree.end());
}

void replaceSetting(Document &doc, const QString &name, const QString &value)
{
    if (const auto found = findFirst(doc, name)) {
        replaceContent(doc, *found, {textToken(doc, value)});
        return;
    }
    const Token start = elementToken(doc, Kind::StartElement, name);
    const Token content = textToken(doc, value);
    appendToRoot(doc, {start, content, Token{Kind::EndElement, start.at(), start.size()}});
}

std::vector<Token> pairTokens(Document &doc, const QList<QuestionPair> &pairs, qsizetype depth)
{
    std::vector<Token> tokens;
    if (pairs.isEmpty())
        return tokens;
    // One copy of each name and indentation for all the pairs.
    const Token pairIndent = doc.add(Kind::Text, indentation(depth + 1));
    const Token partIndent = doc.add(Kind::Text, indentation(depth + 2));
    const Token pairStart = elementToken(doc, Kind::StartElement, kPairElement);
    const Token pairEnd{Kind::EndElement, pairStart.at(), pairStart.size()};
    const Token questionStart = elementToken(doc, Kind::StartElement, kQuestionElement);
    const Token questionEnd{Kind::EndElement, questionStart.at(), questionStart.size()};
    const Token answerStart = elementToken(doc, Kind::StartElement, kAnswerElement);
    const Token answerEnd{Kind::EndElement, answerStart.at(), answerStart.size()};
    tokens.reserve(std::size_t(pairs.size()) * 12 + 1);
    for (const QuestionPair &pair : pairs) {
        tokens.push_back(pairIndent);
        tokens.push_back(pairStart);
        tokens.push_back(partIndent);
        tokens.push_back(questionStart);
        tokens.push_back(textToken(doc, pair.question));
        tokens.push_back(questionEnd);
        tokens.push_back(partIndent);
        tokens.push_back(answerStart);
        tokens.push_back(textToken(doc, pair.answer));
        tokens.push_back(answerEnd);
        tokens.push_back(pairIndent);
        tokens.push_back(pairEnd);
    }
    tokens.push_back(doc.add(Kind::Text, indentation(depth)));
    return tokens;
}

// unreadable tells whether a file with content is there that could not be
// read; the save then starts afresh and keeps that file aside.
Document openForSave(const QString &path, bool *unreadable, bool *tooLarge = nullptr)
{
    if (std::optional<QByteArray> bytes = readCapped(path)) {
        DocumentBuilder builder(*bytes);
        if (readFile(std::move(*bytes), builder)) {
            // The reader's buffers, as large as the file twice over, are
            // freed by now but kept by the heap, where the written file may
            // not fit: given back, they never add to its peak.
            ::malloc_trim(0);
            *unreadable = false;
            return std::move(builder.doc);
        }
    }
    const QFileInfo info(path);
    *unreadable = info.isFile() && info.size() > 0;
    if (tooLarge)
        *tooLarge = info.isFile() && info.size() > kMaxFileBytes;
    DocumentBuilder fresh({});
    parseText(QStringLiteral("<AlarmClockConfig />"), fresh);
    return std::move(fresh.doc);
}

SaveResult write(const QString &path, const Document &doc, bool keepOldAside, bool tooLarge)
{
    SaveResult result;
    result.path = path;
    const QByteArray bytes = serialize(doc);
    // A file the next start would refuse to read is not written: its
    // questions would be lost to the program at the next start.
    const qint64 size = bytes.size() + doc.lost;
    const Written written =
        size > kMaxFileBytes
            ? failedWrite(QStringLiteral("the settings would take %1 MiB, more than the %2 MiB the "
                                         "program reads back; remove or shorten some questions")
                              .arg(QString::number(double(size) / (1024 * 1024), 'f', 1))
                              .arg(kMaxFileBytes / (1024 * 1024)))
            : writeReplacing(path, bytes, keepOldAside);
    result.ok = written.reason.isEmpty();
    result.reason = written.reason;
    result.keptAside = written.keptAside;
    result.dropped = written.dropped;
    result.tooLarge = tooLarge && !result.keptAside.isEmpty();
    return result;
}

} // namespace

QString SaveResult::message() const
{
    if (ok && keptAside.isEmpty())
        return {};
    if (ok)
        return (tooLarge ? QStringLiteral("The settings file %1 is larger than the %3 MiB the "
                                          "program reads. It is kept as %2, and the settings "
                                          "were saved in a new %1.")
                               .arg(QFileInfo(path).fileName(), keptAside)
                               .arg(kMaxFileBytes / (1024 * 1024))
                         : QStringLiteral("The settings file %1 could not be read. It is kept "
                                          "as %2, and the settings were saved in a new %1.")
                               .arg(QFileInfo(path).fileName(), keptAside)) +
               (dropped.isEmpty()
                    ? QString()
                    : QStringLiteral(" The oldest kept copy, %1, was dropped.").arg(dropped));
    return QStringLiteral("Could not save the settings to %1: %2").arg(path, reason);
}

SaveResult saveSettings(const QString &directory, const QString &wakeyFileName,
                        const QString &wakeyTime)
{
    const QString path = filePath(directory);
    bool unreadable = false;
    bool tooLarge = false;
    Document doc = openForSave(path, &unreadable, &tooLarge);
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
    return write(path, doc, unreadable, tooLarge);
}

SaveResult saveQuestions(const QString &directory, const QList<QuestionPair> &pairs)
{
    const QString path = filePath(directory);
    bool unreadable = false;
    bool tooLarge = false;
    Document doc = openForSave(path, &unreadable, &tooLarge);
    if (const auto found = findFirst(doc, kContainerElement)) {
        replaceContent(doc, *found, pairTokens(doc, pairs, depthOf(doc, *found)));
    } else {
        std::vector<Token> container = pairTokens(doc, pairs, 1);
        const Token start = elementToken(doc, Kind::StartElement, kContainerElement);
        container.insert(container.begin(), start);
        container.push_back(Token{Kind::EndElement, start.at(), start.size()});
        appendToRoot(doc, std::move(container));
    }
    return write(path, doc, unreadable, tooLarge);
}

} // namespace configstore
