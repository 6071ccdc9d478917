#include "platform/systemservices.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

DateValue SystemClock::now() const
{
    return datevalue::fromDateTime(QDateTime::currentDateTime());
}

int SystemClock::msecsToNextSecond() const
{
    return 1000 - static_cast<int>(QDateTime::currentMSecsSinceEpoch() % 1000);
}

void QtMessageBoxService::show(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

QString QtFileDialogService::showOpen(QWidget *parent, const QString &filter,
                                      const QString &fileName)
{
    // The filter text is both the name and the pattern of the one type offered.
    const QString chosen = QFileDialog::getOpenFileName(parent, QString(), fileName, filter);
    return chosen.isEmpty() ? fileName : QDir::toNativeSeparators(chosen);
}

double FixedStartRandom::next()
{
    // 53 random bits give every double on [0, 1) with equal spacing.
    return static_cast<double>(m_engine() >> 11) * 0x1.0p-53;
}
