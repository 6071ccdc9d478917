#include "config/configstore.h"

#include "config/configelements.h"
#include "config/configintake.h"

#include <vector>

namespace configstore {
namespace {

using namespace detail;

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
    void doctype(const QXmlStreamReader &) {}

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

} // namespace

QString filePath(const QString &directory)
{
    return directory + u'/' + QLatin1StringView(kFileName);
}

StoredSettings load(const QString &directory)
{
    std::optional<QByteArray> bytes = readCapped(filePath(directory));
    SettingsCollector collector;
    if (!bytes || !readFile(std::move(*bytes), collector))
        return {};
    return std::move(collector.stored);
}

std::optional<StoredSettings> parse(const QByteArray &content)
{
    SettingsCollector collector;
    if (content.size() > kMaxFileBytes || !readFile(content, collector))
        return std::nullopt;
    return std::move(collector.stored);
}

} // namespace configstore
