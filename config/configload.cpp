#include "config/configstore.h"

#include "config/configelements.h"
#include "config/configintake.h"

#include <utility>
#include <vector>

namespace configstore {
namespace {

using namespace detail;

// Collects only what a load returns, straight from the reader. A value is
// the text of its element and of everything inside it, as the file's other
// readers give it. All text inside the values open at any moment goes to one
// buffer, and each value is its stretch of it, so that a value is copied
// once, not once for every value open around it; the outermost takes the
// buffer itself. Values nested in values repeat text, and beyond the file's
// own size that makes the file unreadable, which bounds the memory.
class SettingsCollector
{
public:
    explicit SettingsCollector(qsizetype sourceSize) : m_budget(sourceSize) {}

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
        if (entry.target != Target::None) {
            entry.from = m_text.size();
            ++m_values;
        }
        m_open.push_back(entry);
    }

    void endElement(const QXmlStreamReader &)
    {
        const Open entry = m_open.back();
        m_open.pop_back();
        if (entry.target == Target::None)
            return;
        m_budget -= m_text.size() - entry.from;
        const bool outermost = --m_values == 0;
        if (m_budget < 0) {
            if (outermost)
                m_text = QString();
            return;
        }
        QString value = outermost ? std::exchange(m_text, QString()) : m_text.mid(entry.from);
        switch (entry.target) {
        case Target::None:
            break;
        case Target::FileName:
            stored.wakeyFileName = std::move(value);
            break;
        case Target::Time:
            stored.wakeyTime = std::move(value);
            break;
        case Target::Question:
            stored.pairs[entry.owner].question = std::move(value);
            break;
        case Target::Answer:
            stored.pairs[entry.owner].answer = std::move(value);
            break;
        }
    }

    void characters(const QXmlStreamReader &reader)
    {
        if (m_values > 0)
            m_text += reader.text();
    }

    void comment(const QXmlStreamReader &) {}
    void instruction(const QXmlStreamReader &) {}
    void doctype(const QXmlStreamReader &) {}

    bool withinBudget() const { return m_budget >= 0; }

    StoredSettings stored;

private:
    enum class Target : quint8 { None, FileName, Time, Question, Answer };
    struct Open
    {
        Target target = Target::None;
        qsizetype pair = -1;  // this element is that QA_Pair
        qsizetype owner = -1; // this Question or Answer belongs to that pair
        qsizetype from = 0;   // where its text starts in m_text
        bool questionSeen = false;
        bool answerSeen = false;
    };
    std::vector<Open> m_open;
    QString m_text;
    qsizetype m_values = 0;
    qsizetype m_budget;
};

} // namespace

QString filePath(const QString &directory)
{
    return directory + u'/' + QLatin1StringView(kFileName);
}

StoredSettings load(const QString &directory)
{
    std::optional<QByteArray> bytes = readCapped(filePath(directory));
    if (!bytes)
        return {};
    SettingsCollector collector(bytes->size());
    if (!readFile(std::move(*bytes), collector) || !collector.withinBudget())
        return {};
    return std::move(collector.stored);
}

std::optional<StoredSettings> parse(const QByteArray &content)
{
    SettingsCollector collector(content.size());
    if (content.size() > kMaxFileBytes || !readFile(content, collector) ||
        !collector.withinBudget())
        return std::nullopt;
    return std::move(collector.stored);
}

} // namespace configstore
