// The reference for the start-up, memory and idle figures: the least a Qt 6
// desktop clock can be, a main window whose one label shows the time and is
// repainted every second.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTime>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare Qt clock baseline"));
    auto *label = new QLabel(&window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    // Same client size as the alarm clock's, so both map a window of one size.
    window.resize(466, 253);

    const auto showTime = [label] {
        label->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    };
    showTime();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, label, showTime);
    timer.start(1000);

    window.show();
    return app.exec();
}
