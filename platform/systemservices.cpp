#include "platform/systemservices.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
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
    // Any name, also one that does not exist yet: the person may be about to
    // put the file there. (getOpenFileName refuses such a name.)
    QFileDialog dialog(parent, QString(), QString(), filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return fileName;
    // Qt 6.4's own dialog keeps the preselected file selected while another
    // name is typed over it; the name box shows what the person chose.
    const auto *nameBox = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (nameBox && !nameBox->text().isEmpty())
        return QDir::toNativeSeparators(
            QDir::cleanPath(dialog.directory().absoluteFilePath(nameBox->text())));
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

double FixedStartRandom::next()
{
    // 53 random bits give every double on [0, 1) with equal spacing.
    return static_cast<double>(m_engine() >> 11) * 0x1.0p-53;
}
