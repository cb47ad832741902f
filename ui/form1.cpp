// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1.h"

#include "link/traffic.h"
#include "sensors/mode1_decoder.h"
#include "serial/baud_rate.h"
#include "ui/accessible_events.h"
#include "ui/form1_controls.h"
#include "ui/sstab.h"
#include "ui/traffic_list.h"
#include "ui/value_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHash>
#include <QMessageBox>
#include <QWindow>
#include <climits>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <optional>

namespace {

const QString kCaption =
    QStringLiteral("Carnovo") + QString(124, QLatin1Char(' ')) + QStringLiteral("Ver. 0.35");
constexpr int kClientWidth = 7635 / form1::kTwipsPerPixel;
constexpr int kClientHeight = 4350 / form1::kTwipsPerPixel;
constexpr int kStripHeight = 20; // 520 hundredths of a millimetre

// The window's fonts, sized in pixels: the layout is in pixels at 96 dots per
// inch, so the text must be too, whatever the screen's resolution.
QFont windowFont(const char* family, int pixels, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFont fontFor(unsigned look) {
    if (look & form1::FrameFont)
        return windowFont("Courier New", 13, true);
    if (look & form1::StatusFont)
        return windowFont("MS Sans Serif", 13, false);
    return windowFont("MS Sans Serif", 11, (look & form1::Bold) != 0);
}

// Windows has the design's own faces: there Qt asks the system for "MS Sans
// Serif", which Windows draws with the bitmap face or its metric twin
// Microsoft Sans Serif.
void installFontSubstitutes() {
#ifndef Q_OS_WIN
    // The nearest faces of the same kind that Debian installs.
    QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
    QFont::insertSubstitution("Courier New", "Liberation Mono");
#endif
}

// What a screen reader says after a value box's value.
QString unitOf(const char* box) {
    static const QHash<QString, QString> units{
        {"rpmtext", "rpm"},    {"cool_text", "degrees"}, {"cools_text", "degrees"},
        {"tps_text", "volts"}, {"IAC_text", "steps"},    {"battery_text", "volts"}};
    return units.value(QString::fromLatin1(box));
}

QWidget* makeControl(const form1::Control& c, QWidget* parent) {
    const QString caption = QString::fromUtf8(c.caption ? c.caption : "");
    const Qt::Alignment horizontal = (c.look & form1::Centred) ? Qt::AlignHCenter : Qt::AlignLeft;
    switch (c.kind) {
    case form1::Kind::Frame:
        return new QGroupBox(caption, parent);
    case form1::Kind::Label: {
        auto* label = new QLabel(caption, parent);
        label->setAlignment(horizontal | Qt::AlignTop);
        label->setWordWrap(c.look & form1::Wrapped);
        return label;
    }
    case form1::Kind::DropDown:
        return new QComboBox(parent);
    case form1::Kind::List:
        return new TrafficList(parent);
    case form1::Kind::Button: {
        // Return and Enter press the focused button, as Space does.
        auto* button = new QPushButton(caption, parent);
        button->setAutoDefault(true);
        return button;
    }
    case form1::Kind::ValueBox:
        return new ValueBox(parent, unitOf(c.name));
    case form1::Kind::Picture: {
        auto* picture = new QLabel(parent);
        picture->setPixmap(QPixmap(caption));
        picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        picture->setLineWidth(2);
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return picture;
    }
    }
    return nullptr;
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

} // namespace

// The port as the sequence sees it: the serial control and SetBaudRate.
class Form1::PortGlue : public aldl::SequencePort {
public:
    explicit PortGlue(MSComm& comm) : comm_(comm) {}
    void setInputLen(int length) override { comm_.setInputLen(length); }
    void setCommPort(int port) override { comm_.setCommPort(port); }
    void setPortOpen(bool open) override { comm_.setPortOpen(open); }
    void setBaudRate(std::int32_t baud) override { SetBaudRate(comm_, baud); }
    void setRThreshold(int bytes) override { comm_.setRThreshold(bytes); }
    void output(const QByteArray& bytes) override { comm_.Output(bytes); }
    QByteArray input() override { return comm_.Input(); }

private:
    MSComm& comm_;
};

class Form1::SystemClock : public aldl::TickClock {
public:
    std::int64_t tick() override { return W32Comms::GetTickCount(); }
};

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    installFontSubstitutes();
    setObjectName("Form1");
    setWindowTitle(kCaption);
    // Screen readers read the title without its run of spaces.
    setAccessibleName(kCaption.simplified());
    setFont(windowFont("MS Sans Serif", 11, false));
    QIcon icon;
    icon.addFile(":/carnovo/icon32.png", QSize(32, 32));
    icon.addFile(":/carnovo/icon16.png", QSize(16, 16));
    setWindowIcon(icon);
    setFixedSize(kClientWidth, kClientHeight);
    filterAccessibilityEvents();

    mscomm32 = new MSComm(this);
    buildControls();
    setTabOrder();
    wake_.setTimerType(Qt::PreciseTimer);
    wake_.setSingleShot(true);
    connect(mscomm32, &MSComm::OnComm, this, [this] { portReceived_ = true; });
    Form_Load();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    SSTab1 = new SSTab(this, kStripHeight);
    SSTab1->setObjectName("SSTab1");
    SSTab1->setGeometry(15 / form1::kTwipsPerPixel, 0, 7605 / form1::kTwipsPerPixel,
                        4335 / form1::kTwipsPerPixel);
    QHash<QString, QWidget*> containers;
    const char* captions[] = {"Connect", "Sensor Data", "Trouble Codes", "Logging", "About..."};
    for (int i = 0; i < 5; ++i)
        containers.insert(QStringLiteral("tab%1").arg(i), SSTab1->addTab(captions[i]));
    SSTab1->strip()->setFont(font());

    QLabel* previousLabel = nullptr;
    for (int i = 0; i < form1::kControlCount; ++i) {
        const form1::Control& c = form1::kControls[i];
        QWidget* widget = makeControl(c, containers.value(c.container));
        widget->setObjectName(c.name);
        widget->setFont(fontFor(c.look));
        widget->setGeometry(c.left / form1::kTwipsPerPixel, c.top / form1::kTwipsPerPixel,
                            c.width / form1::kTwipsPerPixel, c.height / form1::kTwipsPerPixel);
        if (c.look & form1::AutoSize)
            widget->resize(widget->sizeHint());
        if (c.toolTip)
            widget->setToolTip(c.toolTip);
        if (c.look & form1::BlueText)
            setTextColour(widget, QColor(0, 0, 255));
        if (c.look & form1::RedText)
            setTextColour(widget, QColor(255, 0, 0));
        if (c.focusOrder < 0 && c.kind != form1::Kind::Label && c.kind != form1::Kind::Picture)
            widget->setFocusPolicy(Qt::NoFocus);
        widget->raise();
        // A value box is named by the label right before it, as Qt names
        // labelled fields; Qt looks for the label among the box's siblings only.
        if (c.kind == form1::Kind::ValueBox && previousLabel) {
            previousLabel->setBuddy(widget);
            if (previousLabel->parentWidget() != widget->parentWidget())
                widget->setAccessibleName(previousLabel->text());
        }
        previousLabel = qobject_cast<QLabel*>(widget);
        containers.insert(c.name, widget);
    }

    comport = findChild<QComboBox*>("comport");
    cbox_baud = findChild<QComboBox*>("cbox_baud");
    listsent = findChild<TrafficList*>("listsent");
    listreceived = findChild<TrafficList*>("listreceived");
    lblconnected = findChild<QLabel*>("lblconnected");
    cmdconnect = findChild<QPushButton*>("cmdconnect");
    cmdexit = findChild<QPushButton*>("cmdexit");
    const char* boxes[] = {"rpmtext",  "cool_text", "cools_text",
                           "tps_text", "IAC_text",  "battery_text"};
    for (std::size_t i = 0; i < valueBoxes_.size(); ++i)
        valueBoxes_[i] = findChild<ValueBox*>(boxes[i]);

    for (int port = 1; port <= 4; ++port)
        comport->addItem(QStringLiteral("COM %1").arg(port), port);
    cbox_baud->addItem("8192", 8192);
    comport->setCurrentIndex(-1);
    cbox_baud->setCurrentIndex(-1);

    connect(cmdconnect, &QPushButton::clicked, this, &Form1::cmdconnect_Click);
    connect(cmdexit, &QPushButton::clicked, this, &Form1::cmdexit_Click);
    SSTab1->setTab(0);
}

void Form1::setTabOrder() {
    // Only single controls are chained, the tab strip first, never a
    // container: Qt releases differ in where they put a container's children.
    std::vector<std::pair<int, QWidget*>> order{{0, SSTab1->strip()}};
    for (int i = 0; i < form1::kControlCount; ++i) {
        if (form1::kControls[i].focusOrder >= 0)
            order.push_back(
                {form1::kControls[i].focusOrder, findChild<QWidget*>(form1::kControls[i].name)});
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1].second, order[i].second);
}

void Form1::Form_Load() {
    comport->setCurrentIndex(0);
    cbox_baud->setCurrentIndex(0);
}

void Form1::cmdconnect_Click() {
    // A press while the sequence runs arrives nested inside its yield. The
    // button stays enabled: disabling it would hand the keyboard focus to Quit.
    if (sequenceRunning_)
        return;
    sequenceRunning_ = true;
    quitRequested_ = false;
    PortGlue port(*mscomm32);
    SystemClock clock;
    bool ending = false;
    std::optional<RaisedError> error;
    try {
        aldl::ConnectionSequence(*this, port, clock).run();
    } catch (const ProgramEnd&) {
        ending = true;
    } catch (const RaisedError& raised) {
        error = raised;
    }
    sequenceRunning_ = false;
    // A quit asked for while a box was open is honoured now, not by a later run.
    if (ending || quitRequested_)
        return endProgram(); // closes the port too
    mscomm32->setPortOpen(false);
    show_not_connected();
#ifdef __GLIBC__
    // A failed run may leave much freed memory behind (a babbling device's
    // buffers, a screen reader's questions); the system gets it back.
    malloc_trim(0);
#endif
    if (error)
        showRaisedError(*error);
}

void Form1::cmdexit_Click() {
    quitRequested_ = true;
    // While the sequence runs, its next yield ends it and then the program.
    if (!sequenceRunning_)
        endProgram();
}

void Form1::quitFromOutside() {
    // A box would wait for its OK first; the sequence behind it then ends at its next yield.
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
    cmdexit_Click();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (sequenceRunning_)
        quitRequested_ = true;
    event->accept();
}

// Qt's own title bar on Wayland centres the caption over the whole bar and
// clips it to the room left, so the run of spaces pushes both words out of
// sight: there the title bar shows them side by side.
void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        windowHandle()->setTitle(kCaption.simplified());
}

void Form1::endProgram() {
    mscomm32->setPortOpen(false);
    emit programEnding();
    close();
    QCoreApplication::exit(0);
}

void Form1::showRaisedError(const RaisedError& error) {
    QMessageBox box(
        QMessageBox::Critical, "Carnovo",
        QStringLiteral("Run-time error '%1':\n\n%2").arg(error.number()).arg(error.description()),
        QMessageBox::Ok, this);
    QString details = QStringLiteral("Source: %1").arg(error.source());
    if (!error.detail().isEmpty())
        details = error.detail() + QStringLiteral("\n") + details;
    box.setInformativeText(details);
    box.exec();
}

void Form1::parse_as_hex(QByteArray textstring) {
    // The list keeps the bytes and makes their hex text when it shows them.
    if (!textstring.isEmpty())
        listreceived->addBytes(textstring);
}

void Form1::check_packet(const QByteArray& buffer, bool& connected) {
    connected = traffic::has_reply_header(buffer);
    if (connected)
        setStatus("Connected");
}

// Each reply confirms the status; only a change is announced.
void Form1::setStatus(const QString& text) {
    if (lblconnected->text() == text)
        return;
    lblconnected->setText(text);
    announceStatus(lblconnected);
}

void Form1::apply_data(std::span<const std::int32_t> data) {
    const mode1::Texts texts = mode1::decode(data);
    // A box keeps its first 5 characters; an unchanged text is not set
    // again, so an idling engine costs no repaints.
    for (std::size_t i = 0; i < texts.size(); ++i)
        valueBoxes_[i]->setValue(texts[i]);
}

int Form1::portNumber() {
    return comport->itemData(comport->currentIndex()).toInt();
}

void Form1::addSentLine(const QString& text) {
    listsent->addItem(text);
}

void Form1::show_not_connected() {
    setStatus("Not Connected");
}

void Form1::showWarning(const QString& prompt, const QString& title) {
    QMessageBox box(QMessageBox::Warning, title, prompt, QMessageBox::Ok, this);
    box.exec();
}

void Form1::yield() {
    QCoreApplication::processEvents();
    if (quitRequested_)
        throw ProgramEnd{};
}

// Handles what is pending, then sleeps until something that matters: the
// port's receive event, a window event, or the tick just past `deadline`.
// No timer runs otherwise, so a quiet link costs no processor time.
void Form1::yield_until(std::int64_t deadline) {
    QCoreApplication::processEvents();
    const std::int64_t wait = deadline + 1 - W32Comms::GetTickCount();
    if (!portReceived_ && !quitRequested_ && wait > 0) {
        wake_.start(static_cast<int>(std::min<std::int64_t>(wait, INT_MAX)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        wake_.stop();
    }
    portReceived_ = false;
    if (quitRequested_)
        throw ProgramEnd{};
}
