#pragma once

#include <QString>

// One question and the exact answer that silences the alarm. Texts are kept
// as given: no trimming, no case folding, no length limit.
class AwareTestQuestion
{
public:
    QString Answer() const { return sAnswer; }
    void setAnswer(const QString &answer) { sAnswer = answer; }
    QString Question() const { return sQuestion; }
    void setQuestion(const QString &question) { sQuestion = question; }

private:
    QString sQuestion;
    QString sAnswer;
};
