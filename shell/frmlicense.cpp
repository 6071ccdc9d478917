#include "shell/frmlicense.h"

#include "platform/programinfo.h"
#include "platform/widgets/layout.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

frmLicense::frmLicense(QWidget *parent) : ReloadingDialog(parent)
{
    setWindowTitle(QStringLiteral("Software License"));
    setWindowIcon(QIcon());
    setFont(defaultDialogFont());
    setFixedSize(twips(7200), twips(7005));

    // First in the tab order, so it holds the focus at opening.
    OKButton = makeButton(this, QStringLiteral("OK"), twipsRect(3000, 6480, 1215, 375));
    setFocusAtOpening(OKButton);

    txtLicense = new QPlainTextEdit(this);
    txtLicense->setGeometry(twipsRect(360, 120, 6495, 6135));
    txtLicense->setReadOnly(true);
    // Read-only, yet the caret moves and the text can be selected and copied.
    txtLicense->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    txtLicense->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtLicense->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtLicense->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtLicense->setTabChangesFocus(true);

    setTabOrder(OKButton, txtLicense);
    connect(OKButton, &QPushButton::clicked, this, &frmLicense::OKButton_Click);
}

QString frmLicense::distributionTerms()
{
    const QString lineBreak = QStringLiteral("\r\n");
    const QString rights = QStringLiteral("Copyright (c) 2004-2026 Quillon");
    const QString reserved = QStringLiteral("All rights reserved.");
    // Kept short so that the address is not broken across two lines.
    const QString maker = QStringLiteral("ROUSTABELL is made by Quillon; see ") +
                          QString::fromLatin1(programinfo::kWebSite) +
                          QStringLiteral(" for news and updates.");
    const QString permission =
        QStringLiteral("Redistribution and use in source and binary forms, with or without "
                       "modification, are permitted provided that the following conditions are "
                       "met:");
    const QString conditions =
        QStringLiteral("1. Redistributions of source code must retain the above copyright "
                       "notice, this list of conditions and the following disclaimer.") +
        lineBreak +
        QStringLiteral("2. Redistributions in binary form must reproduce the above copyright "
                       "notice, this list of conditions and the following disclaimer in the "
                       "documentation and/or other materials provided with the distribution.") +
        lineBreak +
        QStringLiteral("3. Neither the name of the copyright holder nor the names of its "
                       "contributors may be used to endorse or promote products derived from "
                       "this software without specific prior written permission.");
    const QString disclaimer = QStringLiteral(
        "THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS \"AS IS\" AND ANY "
        "EXPRESS OR IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE IMPLIED WARRANTIES OF "
        "MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE ARE DISCLAIMED. IN NO EVENT SHALL "
        "THE COPYRIGHT HOLDER OR CONTRIBUTORS BE LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, "
        "SPECIAL, EXEMPLARY, OR CONSEQUENTIAL DAMAGES (INCLUDING, BUT NOT LIMITED TO, "
        "PROCUREMENT OF SUBSTITUTE GOODS OR SERVICES; LOSS OF USE, DATA, OR PROFITS; OR BUSINESS "
        "INTERRUPTION) HOWEVER CAUSED AND ON ANY THEORY OF LIABILITY, WHETHER IN CONTRACT, "
        "STRICT LIABILITY, OR TORT (INCLUDING NEGLIGENCE OR OTHERWISE) ARISING IN ANY WAY OUT OF "
        "THE USE OF THIS SOFTWARE, EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGE.");

    return rights + lineBreak + reserved + lineBreak + lineBreak + maker + lineBreak + lineBreak +
           permission + lineBreak + conditions + lineBreak + lineBreak + disclaimer;
}

void frmLicense::Form_Load()
{
    txtLicense->setPlainText(distributionTerms());
}

void frmLicense::OKButton_Click()
{
    done(QDialog::Accepted);
}

void frmLicense::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
