#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

// The distribution terms, read-only but selectable.
class frmLicense : public QDialog
{
    Q_OBJECT
public:
    explicit frmLicense(QWidget *parent = nullptr);

    QPlainTextEdit *txtLicense = nullptr;
    QPushButton *OKButton = nullptr;

    // The six paragraphs joined with CR LF line breaks.
    static QString distributionTerms();

public Q_SLOTS:
    void Form_Load();
    void OKButton_Click();

private:
    // No cancel button: Esc does nothing; no default button: Enter presses
    // only a focused OKButton.
    void keyPressEvent(QKeyEvent *event) override;
    // Each opening loads the terms afresh, shown from the top.
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

    bool m_loaded = false;
};
