#pragma once

#include <QComboBox>
#include <QStringList>

// A drop-down list whose selection rules the handlers rely on: setting the
// selection from code always emits clicked (also to none, also to the same entry);
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
    void clicked();

private:
    void restoreSelection(int index);
};
