#include "shell/frmabout.h"

#include "platform/programinfo.h"
#include "platform/widgets/layout.h"

#include <QFrame>
#include <QHideEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>

#include <iterator>
#include <stdexcept>

namespace {

// READ_CONTROL plus all six key rights: the access the About window asks for.
constexpr std::uint32_t kKeyAllAccess = 0x2003Fu;
constexpr int kValueBufferSize = 1024;

const auto kToolPathKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const auto kToolPathValue = QStringLiteral("PATH");
const auto kToolFolderKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const auto kToolFolderValue = QStringLiteral("MSINFO");

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

// The design's black text and blue link are for a light window; on a dark
// colour scheme they could not be read, and the scheme's own colours serve.
bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

QFrame *makeLine(const QPoint &from, int toX, int thickness, const QColor &color, QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::NoFrame);
    line->setGeometry(from.x(), from.y(), toX - from.x() + 1, thickness);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, color);
    line->setPalette(palette);
    line->setFocusPolicy(Qt::NoFocus);
    return line;
}

} // namespace

frmAbout::frmAbout(Services &services, QWidget *parent)
    : ReloadingDialog(parent), m_services(services)
{
    setWindowTitle(QStringLiteral("About MyApp"));
    setWindowIcon(QIcon());
    setFont(defaultDialogFont());
    setFixedSize(twips(5730), twips(3555));
    const bool dark = isDark(palette());
    const QColor textColor = dark ? palette().color(QPalette::WindowText) : QColor(Qt::black);
    const QColor linkColor = dark ? palette().color(QPalette::Link) : QColor(0, 0, 255);

    // Created in tab order, so the focus chain starts out right as well.
    cmdOK = makeButton(this, QStringLiteral("OK"), twipsRect(4245, 2625, 1260, 345));
    // Enter presses OK from anywhere; System Info only while it holds the focus.
    cmdOK->setDefault(true);
    cmdSysInfo =
        makeButton(this, QStringLiteral("&System Info..."), twipsRect(4260, 3075, 1245, 345));
    setFocusAtOpening(cmdOK);

    lblDescription =
        makeLabel(this, QStringLiteral("App Description"), twipsRect(210, 1125, 5445, 810));
    setTextColor(lblDescription, textColor);
    lblDisclaimer = makeLabel(this,
                              QStringLiteral("This program comes without any warranty. "
                                             "Use it at your own risk: its maker is not "
                                             "liable for any damage it may cause."),
                              twipsRect(255, 2625, 3870, 825));
    setTextColor(lblDisclaimer, textColor);
    lblTitle = makeLabel(this, QStringLiteral("Application Title"), twipsRect(210, 240, 5325, 480));
    setTextColor(lblTitle, textColor);
    lblVersion = makeLabel(this, QStringLiteral("Version"), twipsRect(210, 780, 5445, 225));
    lblURL = makeLabel(this, QString::fromLatin1(programinfo::kWebSite),
                       twipsRect(240, 2040, 2895, 255));
    QFont linkFont = defaultDialogFont();
    linkFont.setUnderline(true);
    lblURL->setFont(linkFont);
    setTextColor(lblURL, linkColor);
    // It looks like a link but keeps the plain arrow pointer.
    lblURL->setCursor(Qt::ArrowCursor);
    lblURL->installEventFilter(this);

    Line1[0] =
        makeLine(QPoint(twips(105), twips(2460)), twips(5654), qMax(1, twips(2)), Qt::white, this);
    Line1[0]->setObjectName(QStringLiteral("Line1_0"));
    Line1[1] =
        makeLine(QPoint(twips(90), twips(2445)), twips(5654), 1, QColor(128, 128, 128), this);
    Line1[1]->setObjectName(QStringLiteral("Line1_1"));

    QWidget *const tabOrder[] = {cmdOK,    cmdSysInfo, lblDescription, lblDisclaimer,
                                 lblTitle, lblVersion, lblURL};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + QString::fromLatin1(programinfo::kTitle));
    lblVersion->setText(QStringLiteral("Version ") + programinfo::version());
    lblTitle->setText(QString::fromLatin1(programinfo::kTitle));
    lblDescription->setText(QStringLiteral(
        "Quillon's Clamorific Alarm Clock is, well... clamorific.  If you like it, feel free to "
        "tell me.  If you really like it, feel free to send me a gift.  Visit the website for "
        "details."));
}

void frmAbout::cmdOK_Click()
{
    done(QDialog::Accepted);
}

void frmAbout::reject()
{
    cmdOK->click();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::lblURL_Click()
{
    m_services.launcher.openUrl(QString::fromLatin1(programinfo::kWebSite));
}

void frmAbout::StartSysInfo()
{
    bool found = false;
    QString path;
    try {
        std::uint32_t root = RegistryLookup::kHkeyLocalMachine;
        QString keyName = kToolPathKey;
        QString valueName = kToolPathValue;
        // The first value's path is started unchecked; a failed start reports it.
        found = GetKeyValue(root, keyName, valueName, path);
        if (!found) {
            keyName = kToolFolderKey;
            valueName = kToolFolderValue;
            if (GetKeyValue(root, keyName, valueName, path)) {
                // The folder is taken as stored: a trailing separator stays.
                const QString tool = path + QLatin1Char('/') + m_services.registry.toolFileName();
                found = m_services.launcher.fileExists(tool);
                if (found)
                    path = tool;
            }
        }
    } catch (const std::exception &) {
        // A failing step goes straight to the one message.
        found = false;
    }
    if (found && m_services.launcher.startProgram(path))
        return;
    m_services.messages.show(this,
                             QStringLiteral("System Information Is Unavailable At This Time"));
}

bool frmAbout::GetKeyValue(std::uint32_t &KeyRoot, QString &KeyName, QString &SubKeyRef,
                           QString &KeyVal)
{
    RegistryLookup &registry = m_services.registry;
    RegistryLookup::Handle key = 0;
    if (registry.openKey(KeyRoot, KeyName, kKeyAllAccess, &key) != RegistryLookup::kSuccess) {
        KeyVal.clear();
        return false;
    }
    // An opened key is closed on every way out, the thrown one included.
    struct KeyCloser
    {
        RegistryLookup &registry;
        RegistryLookup::Handle key;
        ~KeyCloser() { registry.closeKey(key); }
    } closer{registry, key};

    QByteArray buffer(kValueBufferSize, '\0');
    std::uint32_t size = kValueBufferSize;
    std::uint32_t type = 0;
    if (registry.queryValue(key, SubKeyRef, &type, buffer, &size) != RegistryLookup::kSuccess) {
        KeyVal.clear();
        return false;
    }
    if (size == 0)
        throw std::runtime_error("registry value without data");

    QByteArray data = buffer.left(static_cast<qsizetype>(size));
    if (data.endsWith('\0'))
        data.chop(1);

    if (type == RegistryLookup::kTypeString) {
        // Names are stored in the platform's 8-bit encoding.
        KeyVal = QString::fromLocal8Bit(data);
    } else if (type == RegistryLookup::kTypeDword) {
        // Little-endian bytes, most significant first as hex digits would read.
        quint64 number = 0;
        for (qsizetype i = data.size() - 1; i >= 0; --i) {
            number = (number << 8) | static_cast<quint8>(data.at(i));
            if (number > 0xFFFFFFFFu)
                throw std::runtime_error("registry number overflows");
        }
        KeyVal = QString::number(number);
    }
    return true;
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblURL && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            lblURL->rect().contains(mouse->position().toPoint()))
            lblURL_Click();
    }
    return ReloadingDialog::eventFilter(watched, event);
}
