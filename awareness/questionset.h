#pragma once

#include "awareness/awaretestquestion.h"
#include "config/configstore.h"

#include <QList>

#include <memory>

using QuestionRef = std::shared_ptr<AwareTestQuestion>;

// The ordered question set. Positions are 1-based; records are shared, so a
// change made through one reference is seen through every other.
class QuestionSet
{
public:
    qsizetype count() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }

    // The pair becomes the new last item, at position count() + 1.
    void append(QuestionRef question);

    // 1 <= position <= count(); anything else throws std::out_of_range.
    QuestionRef item(qsizetype position) const;

    // The pairs behind the removed one move one position forward.
    void remove(qsizetype position);

    // The set as the configuration file keeps it, and back: records made
    // from the stored pairs are appended in their order.
    QList<configstore::QuestionPair> storedPairs() const;
    void appendStored(const QList<configstore::QuestionPair> &pairs);

    // In-order walk over positions 1 to count().
    auto begin() const { return m_items.cbegin(); }
    auto end() const { return m_items.cend(); }

private:
    void checkPosition(qsizetype position) const;

    QList<QuestionRef> m_items;
};
