#pragma once

#include "platform/services.h"

#include <random>

// The real services that Qt answers the same way on every desktop.

class SystemClock : public Clock
{
public:
    DateValue now() const override;
    int msecsToNextSecond() const override;
};

class QtMessageBoxService : public MessageBoxService
{
public:
    void show(QWidget *parent, const QString &text, const QString &title) override;
};

class QtFileDialogService : public FileDialogService
{
public:
    QString showOpen(QWidget *parent, const QString &filter, const QString &fileName) override;
};

class FixedStartRandom : public RandomSource
{
public:
    double next() override;

private:
    std::mt19937_64 m_engine{20041225u};
};
