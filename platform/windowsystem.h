#pragma once

#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QStringList>

// Layouts are designed in twips; 15 twips make one logical pixel.
constexpr int twips(int value)
{
    return (value + 7) / 15;
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

// The small sans-serif dialog face the layouts were designed for, at 8.25 pt.
QFont defaultDialogFont();
// A named face (Arial and friends) at a size, with a metric-compatible fallback.
QFont arialFont(qreal pointSize, bool bold = false);

// A window icon from the images drawn at build time, every size of them
// (":/icons/<n>x<n>/apps/<name>.png").
QIcon drawnIcon(const QString &name);

// A drop-down list whose selection rules the handlers rely on: setting the
// selection from code always runs Click (also to none, also to the same entry);
// inserting or removing entries runs nothing; removing the selected entry
// leaves no selection. QComboBox alone does none of these reliably.
class ListControl : public QComboBox
{
    Q_OBJECT
public:
    explicit ListControl(QWidget *parent = nullptr);

    int listCount() const { return count(); }
    // Selected entry, 0-based, or -1 for none.
    int listIndex() const { return currentIndex(); }
    void setListIndex(int index);
    QString list(int index) const { return itemText(index); }

    void addEntry(const QString &text);
    // Appends many entries in one pass; runs nothing, keeps the selection.
    void addEntries(const QStringList &texts);
    void insertEntry(int index, const QString &text);
    void removeEntry(int index);

Q_SIGNALS:
    void Click();

private:
    void restoreSelection(int index);
};

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
};
