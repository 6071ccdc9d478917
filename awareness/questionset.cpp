#include "awareness/questionset.h"

#include <stdexcept>

void QuestionSet::append(QuestionRef question)
{
    m_items.append(std::move(question));
}

QuestionRef QuestionSet::item(qsizetype position) const
{
    checkPosition(position);
    return m_items.at(position - 1);
}

void QuestionSet::remove(qsizetype position)
{
    checkPosition(position);
    m_items.removeAt(position - 1);
}

void QuestionSet::checkPosition(qsizetype position) const
{
    if (position < 1 || position > m_items.size())
        throw std::out_of_range("question position out of range");
}

QList<configstore::QuestionPair> QuestionSet::storedPairs() const
{
    QList<configstore::QuestionPair> pairs;
    pairs.reserve(m_items.size());
    for (const QuestionRef &question : m_items)
        pairs.append({question->Question(), question->Answer()});
    return pairs;
}

void QuestionSet::appendStored(const QList<configstore::QuestionPair> &pairs)
{
    m_items.reserve(m_items.size() + pairs.size());
    for (const configstore::QuestionPair &pair : pairs) {
        auto question = std::make_shared<AwareTestQuestion>();
        question->setQuestion(pair.question);
        question->setAnswer(pair.answer);
        m_items.append(std::move(question));
    }
}
