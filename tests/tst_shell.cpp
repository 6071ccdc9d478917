// The About window with its system information lookup, and the distribution
// terms window.
#include "app/frmmain.h"
#include "platform/systemservices.h"
#include "platform/widgets/menuarrowstyle.h"
#include "shell/frmabout.h"
#include "shell/frmlicense.h"
#include "support/captions.h"
#include "support/fakes.h"
#include "support/modal.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QWindow>

#include <climits>
#include <memory>
#include <stdexcept>

namespace {

const auto kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");
const auto kPathKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const auto kFolderKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const auto kDescription = QStringLiteral(
    "Quillon's Clamorific Alarm Clock is, well... clamorific.  If you like it, feel free to tell "
    "me.  If you really like it, feel free to send me a gift.  Visit the website for details.");
const auto kPermission =
    QStringLiteral("Redistribution and use in source and binary forms, with or without "
                   "modification, are permitted provided that the following conditions are met:");

bool showAndActivate(QWidget &window)
{
    window.show();
    window.activateWindow();
    return waitForFocus(&window);
}

// Keys take a person's road: through the window system to the active window,
// where shortcuts, the focus widget and the dialog get their turn.
void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWindow *target = QGuiApplication::focusWindow();
    QVERIFY(target);
    QTest::keyClick(target, key, modifiers);
}

QString plainTerms()
{
    return frmLicense::distributionTerms().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// Records the buffer as the query receives it.
class BufferRecordingRegistry : public FakeRegistry
{
public:
    long queryValue(Handle key, const QString &valueName, std::uint32_t *type, QByteArray &buffer,
                    std::uint32_t *size) override
    {
        buffersOffered.append(buffer);
        return FakeRegistry::queryValue(key, valueName, type, buffer, size);
    }
    QList<QByteArray> buffersOffered;
};

} // namespace

class tst_Shell : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<FakeServices> m_fakes;

    void addValue(const QString &key, const QString &name, std::uint32_t type,
                  const QByteArray &data)
    {
        m_fakes->registry.values.append({key, name, type, data});
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The overflow arrows are drawn when asked for, right and down alike.
    void menuOverflowArrowsDraw()
    {
        MenuArrowStyle style;
        const QImage right = style.standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton)
                                 .pixmap(16, 16)
                                 .toImage();
        const QImage down =
            style.standardIcon(QStyle::SP_ToolBarVerticalExtensionButton).pixmap(16, 16).toImage();
        QCOMPARE(right.size(), QSize(16, 16));
        QVERIFY(qAlpha(right.pixel(6, 6)) > 128 && qAlpha(right.pixel(6, 10)) > 128);
        QCOMPARE(qAlpha(right.pixel(6, 1)), 0);
        for (int x = 0; x < 16; ++x) {
            for (int y = 0; y < 16; ++y)
                QVERIFY(std::abs(qAlpha(down.pixel(y, x)) - qAlpha(right.pixel(x, y))) < 16);
        }
    }

    void init() { m_fakes = std::make_unique<FakeServices>(m_dir.path()); }

    void cleanup()
    {
        closeAllWindows();
        m_fakes.reset();
    }

    // --- About: texts and lifecycle ---

    void aboutTextsAreFilledOnLoad()
    {
        frmAbout about(m_fakes->services);
        QCOMPARE(about.windowTitle(), QStringLiteral("About MyApp"));
        QVERIFY(showAndActivate(about));
        QCOMPARE(about.windowTitle(), QStringLiteral("About ROUSTABELL"));
        QCOMPARE(about.lblVersion->text(), QStringLiteral("Version 1.0.1"));
        QCOMPARE(about.lblTitle->text(), QStringLiteral("ROUSTABELL"));
        QCOMPARE(about.lblDescription->text(), kDescription);
        QCOMPARE(about.lblURL->text(), QString::fromLatin1(programinfo::kWebSite));
        QVERIFY(about.lblDisclaimer->text().contains(QStringLiteral("warranty")));
        for (QLabel *label : {about.lblDescription, about.lblDisclaimer, about.lblTitle,
                              about.lblVersion, about.lblURL})
            QVERIFY2(label->wordWrap(), qPrintable(label->text()));
    }

    void aboutLoadsAfreshAtEveryOpening()
    {
        frmAbout about(m_fakes->services);
        QVERIFY(showAndActivate(about));
        const QStringList first = {about.windowTitle(),         about.lblVersion->text(),
                                   about.lblTitle->text(),      about.lblDescription->text(),
                                   about.lblDisclaimer->text(), about.lblURL->text()};
        // Leave the window in another state than it opens in.
        about.lblTitle->setText(QStringLiteral("stale"));
        about.lblDescription->clear();
        about.setWindowTitle(QStringLiteral("stale"));
        pressKey(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), about.cmdSysInfo);
        pressKey(Qt::Key_Escape);
        QVERIFY(!about.isVisible());

        QVERIFY(showAndActivate(about));
        const QStringList second = {about.windowTitle(),         about.lblVersion->text(),
                                    about.lblTitle->text(),      about.lblDescription->text(),
                                    about.lblDisclaimer->text(), about.lblURL->text()};
        QCOMPARE(second, first);
        QCOMPARE(QApplication::focusWidget(), about.cmdOK);
        pressKey(Qt::Key_Escape);

        // As the main window opens it: a new window, shown modally.
        frmAbout again(m_fakes->services);
        ModalDriver driver;
        QStringList third;
        driver.onNextModal([&](QWidget *) {
            third = {again.windowTitle(),         again.lblVersion->text(),
                     again.lblTitle->text(),      again.lblDescription->text(),
                     again.lblDisclaimer->text(), again.lblURL->text()};
            pressKey(Qt::Key_Return);
        });
        again.exec();
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QCOMPARE(third, first);
    }

    // A fixed size and a close button only; the close button unloads it, and
    // About runs no lookup then.
    void fixedDialogWithCloseButtonOnly_data()
    {
        QTest::addColumn<bool>("about");
        QTest::addColumn<QSize>("size");
        QTest::newRow("About") << true << QSize(382, 237);
        QTest::newRow("License") << false << QSize(480, 467);
    }

    void fixedDialogWithCloseButtonOnly()
    {
        QFETCH(bool, about);
        QFETCH(QSize, size);
        std::unique_ptr<QDialog> window;
        if (about)
            window = std::make_unique<frmAbout>(m_fakes->services);
        else
            window = std::make_unique<frmLicense>();
        QVERIFY(showAndActivate(*window));
        const Qt::WindowFlags flags = window->windowFlags();
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QCOMPARE(window->minimumSize(), size);
        QCOMPARE(window->maximumSize(), size);
        QCOMPARE(window->size(), size);
        window->close();
        QVERIFY(!window->isVisible());
        QVERIFY(m_fakes->registry.openedKeys.isEmpty());
    }

    void aboutTabOrder()
    {
        frmAbout about(m_fakes->services);
        const QList<QWidget *> expected = {
            about.cmdOK,    about.cmdSysInfo, about.lblDescription, about.lblDisclaimer,
            about.lblTitle, about.lblVersion, about.lblURL};
        QList<QWidget *> chain;
        QWidget *widget = about.cmdOK;
        do {
            if (expected.contains(widget))
                chain.append(widget);
            widget = widget->nextInFocusChain();
        } while (widget != about.cmdOK);
        QCOMPARE(chain, expected);
    }

    void aboutSeparatorIsEtched()
    {
        frmAbout about(m_fakes->services);
        QVERIFY(showAndActivate(about));
        const QImage image = about.grab().toImage();
        const int x = 200;
        QCOMPARE(QColor(image.pixel(x, 163)), QColor(128, 128, 128));
        QCOMPARE(QColor(image.pixel(x, 164)), QColor(Qt::white));
        // The grey line starts just left of the white one; both end together.
        QCOMPARE(QColor(image.pixel(6, 163)), QColor(128, 128, 128));
        QVERIFY(QColor(image.pixel(6, 164)) != QColor(Qt::white));
        QCOMPARE(QColor(image.pixel(377, 164)), QColor(Qt::white));
        QVERIFY(QColor(image.pixel(378, 163)) != QColor(128, 128, 128));
    }

    // --- About: keyboard ---

    void aboutKeyboard_data()
    {
        QTest::addColumn<bool>("focusSysInfo");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("looksUp");

        const int none = Qt::NoModifier;
        QTest::newRow("Esc on OK") << false << int(Qt::Key_Escape) << none << true << false;
        QTest::newRow("Esc on System Info") << true << int(Qt::Key_Escape) << none << true << false;
        QTest::newRow("Enter at open") << false << int(Qt::Key_Return) << none << true << false;
        QTest::newRow("keypad Enter at open")
            << false << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true << false;
        QTest::newRow("Enter on System Info")
            << true << int(Qt::Key_Return) << none << false << true;
        QTest::newRow("keypad Enter on System Info")
            << true << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << false << true;
        QTest::newRow("Space on System Info")
            << true << int(Qt::Key_Space) << none << false << true;
        QTest::newRow("Alt+S at open")
            << false << int(Qt::Key_S) << int(Qt::AltModifier) << false << true;
    }

    void aboutKeyboard()
    {
        QFETCH(bool, focusSysInfo);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, closes);
        QFETCH(bool, looksUp);

        frmAbout about(m_fakes->services);
        QVERIFY(showAndActivate(about));
        QCOMPARE(QApplication::focusWidget(), about.cmdOK);
        if (focusSysInfo) {
            pressKey(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), about.cmdSysInfo);
        }
        pressKey(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        // An access key presses its button after a short animation; a key that
        // closes nothing is given as long.
        if (closes)
            QTRY_VERIFY(!about.isVisible());
        else
            QTest::qWait(250);
        QCOMPARE(about.isVisible(), !closes);
        // With an empty registry a lookup reads both keys and reports failure.
        QCOMPARE(m_fakes->registry.openedKeys,
                 (looksUp ? QStringList{kPathKey, kFolderKey} : QStringList{}));
        QCOMPARE(m_fakes->messages.texts, looksUp ? QStringList{kUnavailable} : QStringList{});
        if (!closes) {
            // Still usable afterwards, and Esc still closes it.
            pressKey(Qt::Key_Escape);
            QVERIFY(!about.isVisible());
        }
    }

    // --- About: the web link ---

    void aboutLinkLooksLikeALink_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light colour scheme") << false;
        QTest::newRow("dark colour scheme, Breeze Dark's") << true;
    }

    void aboutLinkLooksLikeALink()
    {
        QFETCH(bool, dark);
        QPalette scheme = QApplication::palette();
        const auto restore = qScopeGuard([light = scheme] { QApplication::setPalette(light); });
        const QColor text = dark ? QColor(252, 252, 252) : QColor(Qt::black);
        const QColor link = dark ? QColor(29, 153, 243) : QColor(0, 0, 255);
        scheme.setColor(QPalette::Window, dark ? QColor(49, 54, 59) : QColor(Qt::white));
        scheme.setColor(QPalette::WindowText, text);
        scheme.setColor(QPalette::Link, link);
        QApplication::setPalette(scheme);
        frmAbout about(m_fakes->services);
        QVERIFY(showAndActivate(about));
        QCOMPARE(about.lblURL->palette().color(QPalette::WindowText), link);
        QVERIFY(about.lblURL->font().underline());
        QCOMPARE(about.lblURL->cursor().shape(), Qt::ArrowCursor);
        const QImage image = about.lblURL->grab().toImage();
        bool blueInk = false;
        for (int y = 0; y < image.height() && !blueInk; ++y)
            for (int x = 0; x < image.width() && !blueInk; ++x)
                blueInk = QColor(image.pixel(x, y)) == link;
        QVERIFY2(blueInk, "the link is not drawn in its colour");
        for (QLabel *label : {about.lblDescription, about.lblDisclaimer, about.lblTitle})
            QCOMPARE(label->palette().color(QPalette::WindowText), text);
    }

    void aboutLinkClick_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("opens");
        QTest::newRow("left click on the link") << "lblURL" << int(Qt::LeftButton) << true;
        QTest::newRow("right click on the link") << "lblURL" << int(Qt::RightButton) << false;
        QTest::newRow("left click on the title") << "lblTitle" << int(Qt::LeftButton) << false;
    }

    void aboutLinkClick()
    {
        QFETCH(QString, target);
        QFETCH(int, button);
        QFETCH(bool, opens);
        frmAbout about(m_fakes->services);
        QVERIFY(showAndActivate(about));
        QLabel *label = target == QLatin1String("lblURL") ? about.lblURL : about.lblTitle;
        QTest::mouseClick(label, Qt::MouseButton(button));
        QCOMPARE(m_fakes->launcher.urls,
                 opens ? QStringList{QString::fromLatin1(programinfo::kWebSite)} : QStringList{});
        QVERIFY(about.isVisible());
        QVERIFY(m_fakes->messages.texts.isEmpty());
    }

    // --- About: reading one registry value ---

    void getKeyValue_data()
    {
        QTest::addColumn<uint>("root");
        QTest::addColumn<bool>("keyExists");
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("fails");

        const uint hklm = RegistryLookup::kHkeyLocalMachine;
        const uint sz = RegistryLookup::kTypeString;
        const uint dword = RegistryLookup::kTypeDword;
        const QString name = QStringLiteral("PATH");
        auto bytes = [](std::initializer_list<int> list) {
            QByteArray data;
            for (int byte : list)
                data.append(char(byte));
            return data;
        };

        QTest::newRow("string with terminator")
            << hklm << true << name << sz << QByteArray("C:\\Tools\\tool.exe", 18) << QString()
            << true << QStringLiteral("C:\\Tools\\tool.exe") << false;
        QTest::newRow("string without terminator keeps its last character")
            << hklm << true << name << sz << QByteArray("abc") << QString() << true
            << QStringLiteral("abc") << false;
        QTest::newRow("only a terminator") << hklm << true << name << sz << QByteArray("\0", 1)
                                           << QStringLiteral("stale") << true << QString() << false;
        QTest::newRow("only the last zero is dropped")
            << hklm << true << name << sz << QByteArray("a\0b\0\0", 5) << QString() << true
            << QString::fromLatin1("a\0b\0", 4) << false;
        QTest::newRow("non-ASCII path in the platform encoding")
            << hklm << true << name << sz
            << (QStringLiteral("/home/jörg/bin/tool").toLocal8Bit() + '\0') << QString() << true
            << QStringLiteral("/home/jörg/bin/tool") << false;
        QTest::newRow("number 258") << hklm << true << name << dword << bytes({2, 1, 0, 0})
                                    << QString() << true << QStringLiteral("258") << false;
        QTest::newRow("number 5") << hklm << true << name << dword << bytes({5, 0, 0, 0})
                                  << QString() << true << QStringLiteral("5") << false;
        QTest::newRow("number using all four bytes")
            << hklm << true << name << dword << bytes({0x78, 0x56, 0x34, 0x12}) << QString() << true
            << QStringLiteral("305419896") << false;
        QTest::newRow("number with the top bit, unsigned")
            << hklm << true << name << dword << bytes({0xff, 0xff, 0xff, 0xff}) << QString() << true
            << QStringLiteral("4294967295") << false;
        QTest::newRow("number zero")
            << hklm << true << name << dword << bytes({0, 0, 0, 0}) << QStringLiteral("stale")
            << true << QStringLiteral("0") << false;
        QTest::newRow("binary type keeps the text passed in")
            << hklm << true << name << uint(3) << QByteArray("xyz") << QStringLiteral("kept")
            << true << QStringLiteral("kept") << false;
        QTest::newRow("expandable string is another type")
            << hklm << true << name << uint(2) << QByteArray("%PATH%", 7) << QStringLiteral("kept")
            << true << QStringLiteral("kept") << false;
        QTest::newRow("no data bytes fails") << hklm << true << name << sz << QByteArray()
                                             << QString() << false << QString() << true;
        QTest::newRow("1024 bytes with terminator")
            << hklm << true << name << sz << (QByteArray(1023, 'a') + '\0') << QString() << true
            << QString(1023, QLatin1Char('a')) << false;
        QTest::newRow("1024 bytes without terminator")
            << hklm << true << name << sz << QByteArray(1024, 'b') << QString() << true
            << QString(1024, QLatin1Char('b')) << false;
        QTest::newRow("1025 bytes refused")
            << hklm << true << name << sz << QByteArray(1025, 'c') << QStringLiteral("stale")
            << false << QString() << false;
        QTest::newRow("missing key") << hklm << false << name << sz << QByteArray("x\0", 2)
                                     << QStringLiteral("stale") << false << QString() << false;
        QTest::newRow("missing value")
            << hklm << true << QStringLiteral("OTHER") << sz << QByteArray("x\0", 2)
            << QStringLiteral("stale") << false << QString() << false;
        QTest::newRow("another root")
            << uint(0x80000001u) << true << name << sz << QByteArray("x\0", 2)
            << QStringLiteral("stale") << false << QString() << false;
    }

    void getKeyValue()
    {
        QFETCH(uint, root);
        QFETCH(bool, keyExists);
        QFETCH(QString, valueName);
        QFETCH(uint, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, before);
        QFETCH(bool, result);
        QFETCH(QString, after);
        QFETCH(bool, fails);

        if (keyExists)
            addValue(kPathKey, valueName, type, data);
        frmAbout about(m_fakes->services);
        std::uint32_t keyRoot = root;
        QString keyName = kPathKey;
        QString subKeyRef = QStringLiteral("PATH");
        QString keyVal = before;
        bool answered = false;
        bool threw = false;
        try {
            answered = about.GetKeyValue(keyRoot, keyName, subKeyRef, keyVal);
        } catch (const std::exception &) {
            threw = true;
        }
        QCOMPARE(threw, fails);
        if (!fails) {
            QCOMPARE(answered, result);
            QCOMPARE(keyVal, after);
        }
        QCOMPARE(keyRoot, std::uint32_t(root));
        QCOMPARE(keyName, kPathKey);
        QCOMPARE(subKeyRef, QStringLiteral("PATH"));

        const FakeRegistry &registry = m_fakes->registry;
        QCOMPARE(registry.openedKeys, QStringList{kPathKey});
        QCOMPARE(registry.accessRequested, QList<std::uint32_t>{0x2003Fu});
        const bool opened = keyExists && root == RegistryLookup::kHkeyLocalMachine;
        QCOMPARE(registry.bufferSizesOffered, opened ? QList<int>{1024} : QList<int>{});
        // The handle the open stored, closed once; nothing closed when none was opened.
        QCOMPARE(registry.closed,
                 opened ? QList<RegistryLookup::Handle>{1} : QList<RegistryLookup::Handle>{});
    }

    void getKeyValueOffersAZeroedBuffer()
    {
        BufferRecordingRegistry registry;
        registry.values.append({kPathKey, QStringLiteral("PATH"), RegistryLookup::kTypeString,
                                QByteArray("/bin/tool\0", 10)});
        Services services = m_fakes->services;
        Services withRecorder{services.clock,      services.sound,         services.messages,
                              services.fileDialog, services.launcher,      registry,
                              services.random,     services.control,       services.inhibitor,
                              services.wake,       services.notifications, m_dir.path(),
                              m_dir.path()};
        frmAbout about(withRecorder);
        std::uint32_t root = RegistryLookup::kHkeyLocalMachine;
        QString keyName = kPathKey;
        QString subKeyRef = QStringLiteral("PATH");
        QString keyVal;
        QVERIFY(about.GetKeyValue(root, keyName, subKeyRef, keyVal));
        QCOMPARE(registry.buffersOffered.size(), 1);
        QCOMPARE(registry.buffersOffered.first(), QByteArray(1024, '\0'));
    }

    // --- About: finding and starting the tool ---

    void startSysInfo_data()
    {
        QTest::addColumn<bool>("hasPath");
        QTest::addColumn<uint>("pathType");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("hasFolder");
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<bool>("startSucceeds");
        QTest::addColumn<QStringList>("started");
        QTest::addColumn<bool>("message");
        QTest::addColumn<QStringList>("keysOpened");

        const uint sz = RegistryLookup::kTypeString;
        const QStringList both = {kPathKey, kFolderKey};
        const QStringList first = {kPathKey};
        const QByteArray tool("/opt/none/sysinfo\0", 18);
        const QByteArray folder("/usr/lib/tools\0", 15);
        const QByteArray slashed("/usr/lib/tools/\0", 16);
        const QString inFolder = QStringLiteral("/usr/lib/tools/MSINFO32.EXE");
        const QString doubled = QStringLiteral("/usr/lib/tools//MSINFO32.EXE");

        QTest::newRow("path started unchanged, unchecked")
            << true << sz << tool << true << folder << QStringList{} << true
            << QStringList{"/opt/none/sysinfo"} << false << first;
        QTest::newRow("path that cannot start")
            << true << sz << tool << false << QByteArray() << QStringList{} << false
            << QStringList{"/opt/none/sysinfo"} << true << first;
        QTest::newRow("path of another type is found but empty")
            << true << uint(3) << QByteArray("xyz") << true << folder << QStringList{inFolder}
            << true << QStringList{QString()} << true << first;
        QTest::newRow("path without data bytes stops the lookup")
            << true << sz << QByteArray() << true << folder << QStringList{inFolder} << true
            << QStringList{} << true << first;
        QTest::newRow("path too long, folder holds the tool")
            << true << sz << QByteArray(1025, 'p') << true << folder << QStringList{inFolder}
            << true << QStringList{inFolder} << false << both;
        QTest::newRow("folder holds the tool")
            << false << sz << QByteArray() << true << folder << QStringList{inFolder} << true
            << QStringList{inFolder} << false << both;
        QTest::newRow("folder holds the tool, start fails")
            << false << sz << QByteArray() << true << folder << QStringList{inFolder} << false
            << QStringList{inFolder} << true << both;
        QTest::newRow("folder without the tool")
            << false << sz << QByteArray() << true << folder << QStringList{"/opt/MSINFO32.EXE"}
            << true << QStringList{} << true << both;
        QTest::newRow("trailing separator kept")
            << false << sz << QByteArray() << true << slashed << QStringList{doubled} << true
            << QStringList{doubled} << false << both;
        QTest::newRow("trailing separator not repaired")
            << false << sz << QByteArray() << true << slashed << QStringList{inFolder} << true
            << QStringList{} << true << both;
        QTest::newRow("folder without data bytes")
            << false << sz << QByteArray() << true << QByteArray() << QStringList{inFolder} << true
            << QStringList{} << true << both;
        QTest::newRow("both missing")
            << false << sz << QByteArray() << false << QByteArray() << QStringList{inFolder} << true
            << QStringList{} << true << both;
    }

    void startSysInfo()
    {
        QFETCH(bool, hasPath);
        QFETCH(uint, pathType);
        QFETCH(QByteArray, path);
        QFETCH(bool, hasFolder);
        QFETCH(QByteArray, folder);
        QFETCH(QStringList, existing);
        QFETCH(bool, startSucceeds);
        QFETCH(QStringList, started);
        QFETCH(bool, message);
        QFETCH(QStringList, keysOpened);

        if (hasPath)
            addValue(kPathKey, QStringLiteral("PATH"), pathType, path);
        if (hasFolder)
            addValue(kFolderKey, QStringLiteral("MSINFO"), RegistryLookup::kTypeString, folder);
        m_fakes->launcher.existing = existing;
        m_fakes->launcher.startSucceeds = startSucceeds;

        frmAbout about(m_fakes->services);
        QVERIFY(showAndActivate(about));
        QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);

        QCOMPARE(m_fakes->launcher.started, started);
        QCOMPARE(m_fakes->messages.texts, message ? QStringList{kUnavailable} : QStringList{});
        QCOMPARE(m_fakes->messages.titles,
                 message ? QStringList{QStringLiteral("ROUSTABELL")} : QStringList{});
        QCOMPARE(m_fakes->registry.openedKeys, keysOpened);
        QCOMPARE(m_fakes->registry.closed.size(), m_fakes->registry.bufferSizesOffered.size());
        QVERIFY(about.isVisible());
        QVERIFY(m_fakes->launcher.urls.isEmpty());
    }

    void unavailableMessageHasOnlyOK()
    {
        QtMessageBoxService realMessages;
        Services services = swapServices(m_fakes->services, realMessages);
        frmAbout about(services);
        QVERIFY(showAndActivate(about));

        ModalDriver driver;
        QString text;
        QList<QAbstractButton *> buttons;
        QMessageBox::Icon icon = QMessageBox::Critical;
        driver.onNextModal([&](QWidget *window) {
            auto *box = qobject_cast<QMessageBox *>(window);
            QVERIFY(box);
            text = box->text();
            buttons = box->buttons();
            icon = box->icon();
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QCOMPARE(driver.title(), QStringLiteral("ROUSTABELL"));
        QCOMPARE(text, kUnavailable);
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(icon, QMessageBox::NoIcon);

        QVERIFY(about.isVisible());
        QVERIFY(showAndActivate(about));
        pressKey(Qt::Key_Escape);
        QVERIFY(!about.isVisible());
    }

    // --- Licence: the terms ---

    void termsLineStructure_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");

        QTest::newRow("rights line") << 0 << "starts"
                                     << "Copyright (c) ";
        QTest::newRow("rights line names the maker") << 0 << "contains"
                                                     << "Quillon";
        QTest::newRow("reservation right below") << 1 << "exact"
                                                 << "All rights reserved.";
        QTest::newRow("empty line after the reservation") << 2 << "exact"
                                                          << "";
        QTest::newRow("maker") << 3 << "contains"
                               << "Quillon";
        QTest::newRow("maker's web site") << 3 << "contains" << programinfo::kWebSite;
        QTest::newRow("empty line after the maker") << 4 << "exact"
                                                    << "";
        QTest::newRow("permission") << 5 << "exact" << kPermission;
        QTest::newRow("first condition right below")
            << 6 << "starts"
            << "1. Redistributions of source code must retain";
        QTest::newRow("second condition") << 7 << "starts"
                                          << "2. Redistributions in binary form must reproduce";
        QTest::newRow("third condition") << 8 << "starts"
                                         << "3. Neither the name of";
        QTest::newRow("empty line before the disclaimer") << 9 << "exact"
                                                          << "";
        QTest::newRow("disclaimer last") << 10 << "starts"
                                         << "THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS";
        QTest::newRow("disclaimer ends the text")
            << 10 << "ends"
            << "EVEN IF ADVISED OF THE POSSIBILITY OF SUCH DAMAGE.";
    }

    void termsLineStructure()
    {
        QFETCH(int, line);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        const QString terms = frmLicense::distributionTerms();
        const QStringList lines = terms.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 11);
        const QString &actual = lines.at(line);
        if (kind == QLatin1String("exact"))
            QCOMPARE(actual, text);
        else if (kind == QLatin1String("starts"))
            QVERIFY2(actual.startsWith(text), qPrintable(actual));
        else if (kind == QLatin1String("ends"))
            QVERIFY2(actual.endsWith(text), qPrintable(actual));
        else
            QVERIFY2(actual.contains(text), qPrintable(actual));
    }

    void termsUseOnlyCrLfBreaks()
    {
        QString terms = frmLicense::distributionTerms();
        QVERIFY(!terms.endsWith(QLatin1Char('\n')));
        terms.remove(QStringLiteral("\r\n"));
        QVERIFY(!terms.contains(QLatin1Char('\r')));
        QVERIFY(!terms.contains(QLatin1Char('\n')));
        const QString disclaimer = frmLicense::distributionTerms().split("\r\n").last();
        QCOMPARE(disclaimer, disclaimer.toUpper());
    }

    void licenseFileCarriesTheSameTerms()
    {
        const QString path = QFINDTESTDATA("../LICENSE");
        QVERIFY2(!path.isEmpty(), "LICENSE not found");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(!text.contains(QLatin1Char('\r')), "LICENSE should have \\n line ends");
        QVERIFY(text.endsWith(QLatin1Char('\n')));
        text.chop(1);
        QCOMPARE(text, plainTerms());
    }

    // --- Licence: the window ---

    void licenseShowsTheTermsFromTheTop()
    {
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        QCOMPARE(terms.windowTitle(), QStringLiteral("Software License"));
        QCOMPARE(terms.txtLicense->toPlainText(), plainTerms());
        QCOMPARE(terms.txtLicense->document()->blockCount(), 11);
        QCOMPARE(terms.txtLicense->verticalScrollBar()->value(), 0);
        QCOMPARE(terms.txtLicense->cursorForPosition(QPoint(1, 1)).position(), 0);
        QCOMPARE(terms.txtLicense->textCursor().position(), 0);
        QCOMPARE(QApplication::focusWidget(), terms.OKButton);
    }

    void licenseTextFitsItsBox()
    {
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        QPlainTextEdit *box = terms.txtLicense;
        QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QTextCursor end(box->document());
        end.movePosition(QTextCursor::End);
        // Without scroll bars, all of the terms must be readable at once.
        QVERIFY2(box->cursorRect(end).bottom() < box->viewport()->height(),
                 qPrintable(QStringLiteral("text ends at %1, box shows %2")
                                .arg(box->cursorRect(end).bottom())
                                .arg(box->viewport()->height())));
        // The maker's address reads whole, on one line.
        const QTextBlock maker = box->document()->findBlockByNumber(3);
        const int at = maker.text().indexOf(QLatin1String(programinfo::kWebSite));
        QVERIFY(at >= 0);
        const int last = at + int(qstrlen(programinfo::kWebSite)) - 1;
        QCOMPARE(maker.layout()->lineForTextPosition(last).lineNumber(),
                 maker.layout()->lineForTextPosition(at).lineNumber());
        // Wrapped at the box's width: no line runs past its right edge.
        QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(box->document()->size().width() <= box->viewport()->width());
    }

    void licenseKeyboard_data()
    {
        QTest::addColumn<bool>("inText");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("closes");
        const int none = Qt::NoModifier;
        QTest::newRow("Enter at open") << false << int(Qt::Key_Return) << none << true;
        QTest::newRow("keypad Enter at open")
            << false << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
        QTest::newRow("Space at open") << false << int(Qt::Key_Space) << none << true;
        QTest::newRow("Esc at open") << false << int(Qt::Key_Escape) << none << false;
        QTest::newRow("Esc in the text") << true << int(Qt::Key_Escape) << none << false;
        QTest::newRow("Enter in the text") << true << int(Qt::Key_Return) << none << false;
    }

    void licenseKeyboard()
    {
        QFETCH(bool, inText);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, closes);
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        QCOMPARE(QApplication::focusWidget(), terms.OKButton);
        if (inText) {
            pressKey(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), terms.txtLicense);
        }
        pressKey(Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(terms.isVisible(), !closes);
        if (!closes) {
            QCOMPARE(terms.txtLicense->toPlainText(), plainTerms());
            QTest::mouseClick(terms.OKButton, Qt::LeftButton);
            QVERIFY(!terms.isVisible());
        }
    }

    void licenseTextIsReadOnly()
    {
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        pressKey(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), terms.txtLicense);
        QTest::keyClicks(terms.txtLicense, QStringLiteral("typed"));
        for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return})
            pressKey(key);
        pressKey(Qt::Key_V, Qt::ControlModifier);
        pressKey(Qt::Key_A, Qt::ControlModifier);
        pressKey(Qt::Key_X, Qt::ControlModifier);
        pressKey(Qt::Key_Delete);
        QCOMPARE(terms.txtLicense->toPlainText(), plainTerms());
        QVERIFY(terms.isVisible());
    }

    void licenseCaretMoves()
    {
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        pressKey(Qt::Key_Tab);
        QCOMPARE(terms.txtLicense->textCursor().position(), 0);
        pressKey(Qt::Key_Down);
        const int secondLine = terms.txtLicense->textCursor().position();
        QCOMPARE(terms.txtLicense->textCursor().blockNumber(), 1);
        pressKey(Qt::Key_End);
        QVERIFY(terms.txtLicense->textCursor().position() > secondLine);
        pressKey(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(terms.txtLicense->textCursor().position(), plainTerms().size());
        pressKey(Qt::Key_Home, Qt::ShiftModifier);
        QVERIFY(terms.txtLicense->textCursor().hasSelection());
    }

    void licenseCopy_data()
    {
        QTest::addColumn<bool>("byKeyboard");
        QTest::newRow("Ctrl+A, Ctrl+C") << true;
        QTest::newRow("selectAll, copy") << false;
    }

    void licenseCopy()
    {
        QFETCH(bool, byKeyboard);
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        QApplication::clipboard()->setText(QStringLiteral("before"));
        if (byKeyboard) {
            pressKey(Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), terms.txtLicense);
            pressKey(Qt::Key_A, Qt::ControlModifier);
            pressKey(Qt::Key_C, Qt::ControlModifier);
        } else {
            terms.txtLicense->selectAll();
            terms.txtLicense->copy();
        }
        QCOMPARE(QApplication::clipboard()->text(), plainTerms());
    }

    void licenseMouseSelects()
    {
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        QTextCursor word(terms.txtLicense->document());
        word.movePosition(QTextCursor::Start);
        word.movePosition(QTextCursor::NextCharacter, QTextCursor::MoveAnchor, 3);
        const QPoint inside = terms.txtLicense->cursorRect(word).center();
        QTest::mouseDClick(terms.txtLicense->viewport(), Qt::LeftButton, Qt::NoModifier, inside);
        QCOMPARE(terms.txtLicense->textCursor().selectedText(), QStringLiteral("Copyright"));
    }

    void licenseLoadsAfreshAtEveryOpening()
    {
        frmLicense terms;
        QVERIFY(showAndActivate(terms));
        pressKey(Qt::Key_Tab);
        pressKey(Qt::Key_End, Qt::ControlModifier);
        // Stands for whatever an earlier opening left behind.
        terms.txtLicense->setPlainText(QStringLiteral("stale"));
        QTest::mouseClick(terms.OKButton, Qt::LeftButton);
        QVERIFY(!terms.isVisible());

        QVERIFY(showAndActivate(terms));
        QCOMPARE(terms.txtLicense->toPlainText(), plainTerms());
        QCOMPARE(terms.txtLicense->textCursor().position(), 0);
        QCOMPARE(terms.txtLicense->verticalScrollBar()->value(), 0);
        QCOMPARE(terms.txtLicense->cursorForPosition(QPoint(1, 1)).position(), 0);
        QCOMPARE(QApplication::focusWidget(), terms.OKButton);
    }

    // --- Both: opened from the main window's Help menu ---

    void helpMenuOpensTheWindow_data()
    {
        QTest::addColumn<bool>("about");
        QTest::addColumn<QString>("title");
        QTest::newRow("Help, About") << true << "About ROUSTABELL";
        QTest::newRow("Help, License Info") << false << "Software License";
    }

    void helpMenuOpensTheWindow()
    {
        QFETCH(bool, about);
        QFETCH(QString, title);
        frmMain main(m_fakes->services);
        QVERIFY(showAndActivate(main));
        ModalDriver driver;
        bool rightKind = false;
        driver.onNextModal([&](QWidget *window) {
            rightKind = about ? qobject_cast<frmAbout *>(window) != nullptr
                              : qobject_cast<frmLicense *>(window) != nullptr;
            pressKey(Qt::Key_Return);
        });
        (about ? main.mnuHelpAbout : main.mnuHelpLicenseInfo)->trigger();
        QVERIFY(driver.ran());
        QVERIFY(!driver.timedOut());
        QVERIFY(rightKind);
        QCOMPARE(driver.title(), title);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(main.isVisible());
    }

    // --- Both: nothing clipped ---

    void captionsFit_data()
    {
        QTest::addColumn<QString>("control");
        for (const char *name : {"cmdOK", "cmdSysInfo", "lblDescription", "lblDisclaimer",
                                 "lblTitle", "lblVersion", "lblURL", "OKButton"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void captionsFit()
    {
        QFETCH(QString, control);
        frmAbout about(m_fakes->services);
        QVERIFY(showAndActivate(about));
        const std::pair<const char *, QWidget *> controls[] = {
            {"cmdOK", about.cmdOK},
            {"cmdSysInfo", about.cmdSysInfo},
            {"lblDescription", about.lblDescription},
            {"lblDisclaimer", about.lblDisclaimer},
            {"lblTitle", about.lblTitle},
            {"lblVersion", about.lblVersion},
            {"lblURL", about.lblURL}};
        frmLicense terms;
        QWidget *widget = control == QLatin1String("OKButton") ? terms.OKButton : nullptr;
        for (const auto &[name, candidate] : controls) {
            if (control == QLatin1String(name))
                widget = candidate;
        }
        QVERIFY(widget);
        VERIFY_CAPTION_FITS(widget);
    }
};

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
