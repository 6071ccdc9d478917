#pragma once

#include <QDialog>

// A window without a control box: the person cannot close it, neither with
// Esc nor through the window manager; only the program's own code unloads it.
class ControlBoxlessDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ControlBoxlessDialog(QWidget *parent = nullptr);

    // Closes the window from code.
    void unload();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

// A window with a close box only, loaded afresh at each opening as if it had
// been unloaded at its last close: Form_Load runs when it is shown, and the
// focus goes to the control named by setFocusAtOpening.
class ReloadingDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ReloadingDialog(QWidget *parent = nullptr);

    virtual void Form_Load() = 0;

protected:
    void setFocusAtOpening(QWidget *widget) { m_focusAtOpening = widget; }
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *m_focusAtOpening = nullptr;
    bool m_loaded = false;
};
