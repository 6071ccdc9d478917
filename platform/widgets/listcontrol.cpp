#include "platform/widgets/listcontrol.h"

#include <QSignalBlocker>

ListControl::ListControl(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    // A person's pick emits clicked even when it picks the entry already shown.
    connect(this, &QComboBox::activated, this, &ListControl::clicked);
}

void ListControl::setListIndex(int index)
{
    {
        const QSignalBlocker blocker(this);
        setCurrentIndex(index >= 0 && index < count() ? index : -1);
    }
    Q_EMIT clicked();
}

void ListControl::addEntry(const QString &text)
{
    insertEntry(count(), text);
}

void ListControl::addEntries(const QStringList &texts)
{
    const int selected = currentIndex();
    const QSignalBlocker blocker(this);
    addItems(texts);
    restoreSelection(selected);
}

void ListControl::insertEntry(int index, const QString &text)
{
    int selected = currentIndex();
    if (selected >= 0 && index <= selected)
        ++selected;
    const QSignalBlocker blocker(this);
    insertItem(index, text);
    restoreSelection(selected);
}

void ListControl::removeEntry(int index)
{
    if (index < 0 || index >= count())
        return;
    int selected = currentIndex();
    if (selected == index)
        selected = -1;
    else if (selected > index)
        --selected;
    const QSignalBlocker blocker(this);
    removeItem(index);
    restoreSelection(selected);
}

void ListControl::restoreSelection(int index)
{
    // QComboBox picks an entry on its own after inserts and removals.
    if (currentIndex() != index)
        setCurrentIndex(index);
}
