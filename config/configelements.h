#pragma once

#include <QString>

// The names the store reads and writes in AlarmClockConfig.xml.
namespace configstore::detail {

inline const QString kRootElement = QStringLiteral("AlarmClockConfig");
inline const QString kFileNameElement = QStringLiteral("WakeyFileName");
inline const QString kTimeElement = QStringLiteral("WakeyTime");
inline const QString kContainerElement = QStringLiteral("AwareTestQuestions");
inline const QString kPairElement = QStringLiteral("QA_Pair");
inline const QString kQuestionElement = QStringLiteral("Question");
inline const QString kAnswerElement = QStringLiteral("Answer");

} // namespace configstore::detail
