#pragma once

#include "platform/widgets/dialogs.h"

class QPlainTextEdit;
class QPushButton;

// The distribution terms, read-only but selectable.
class frmLicense : public ReloadingDialog
{
    Q_OBJECT
public:
    explicit frmLicense(QWidget *parent = nullptr);

    QPlainTextEdit *txtLicense = nullptr;
    QPushButton *OKButton = nullptr;

    // The six paragraphs joined with CR LF line breaks.
    static QString distributionTerms();

public Q_SLOTS:
    void Form_Load() override;
    void OKButton_Click();

private:
    // No cancel button: Esc does nothing.
    void keyPressEvent(QKeyEvent *event) override;
};
