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

namespace configstore {
namespace {

using namespace detail;

bool isFormatting(const Token &token)
{
    const QByteArrayView text = token.text();
    return token.kind == Kind::Text && !text.isEmpty() &&
           std::all_of(text.cbegin(), text.cend(),
                       [](char c) { return isXmlSpace(QLatin1Char(c)); });
}

QByteArray indentation(qsizetype depth)
{
    return '\n' + QByteArray(2 * depth, ' ');
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
    const QString name = QString::fromUtf8(doc.tokens[doc.root].text());
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
    const QByteArray pairIndent = indentation(depth + 1);
    const QByteArray partIndent = indentation(depth + 2);
    // One shared copy of each name for all the pairs.
    const Token pairStart = element(Kind::StartElement, kPairElement);
    const Token pairEnd = element(Kind::EndElement, kPairElement);
    const Token questionStart = element(Kind::StartElement, kQuestionElement);
    const Token questionEnd = element(Kind::EndElement, kQuestionElement);
    const Token answerStart = element(Kind::StartElement, kAnswerElement);
    const Token answerEnd = element(Kind::EndElement, kAnswerElement);
    tokens.reserve(std::size_t(pairs.size()) * 12 + 1);
    for (const QuestionPair &pair : pairs) {
        tokens.push_back(text(pairIndent));
        tokens.push_back(pairStart);
        tokens.push_back(text(partIndent));
        tokens.push_back(questionStart);
        tokens.push_back(text(pair.question));
        tokens.push_back(questionEnd);
        tokens.push_back(text(partIndent));
        tokens.push_back(answerStart);
        tokens.push_back(text(pair.answer));
        tokens.push_back(answerEnd);
        tokens.push_back(text(pairIndent));
        tokens.push_back(pairEnd);
    }
    tokens.push_back(text(indentation(depth)));
    return tokens;
}

// unreadable tells whether a file with content is there that could not be
// read; the save then starts afresh and keeps that file aside.
Document openForSave(const QString &path, bool *unreadable, bool *tooLarge = nullptr)
{
    if (std::optional<QByteArray> bytes = readCapped(path)) {
        DocumentBuilder builder(*bytes);
        if (readFile(std::move(*bytes), builder)) {
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
    const Written written =
        bytes.size() > kMaxFileBytes
            ? failedWrite(QStringLiteral("the settings would take %1 MiB, more than the %2 MiB the "
                                         "program reads back; remove or shorten some questions")
                              .arg(QString::number(double(bytes.size()) / (1024 * 1024), 'f', 1))
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
        replaceContent(doc, *found, pairTokens(pairs, depthOf(doc, *found)));
    } else {
        std::vector<Token> container = pairTokens(pairs, 1);
        container.insert(container.begin(), element(Kind::StartElement, kContainerElement));
        container.push_back(element(Kind::EndElement, kContainerElement));
        appendToRoot(doc, std::move(container));
    }
    return write(path, doc, unreadable, tooLarge);
}

} // namespace configstore
