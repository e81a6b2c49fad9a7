// The window's controls, placed as the layout gives them at 96 dpi.
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStringListModel>
#include <QTimer>

#include "app/form_kolvane.h"
#include "app/jpeg_image.h"
#include "app/key_hotspot.h"
#include "app/key_pad.h"
#include "app/picture_panel.h"
#include "remote/key_table.h"

namespace {

const QString kMingFont = QStringLiteral("新細明體");

QFont pixelFont(const QString& family, int pixels, bool bold = false) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// One of the remote pictures built into the program, decoded.
QImage decodedPicture(const QString& resource) {
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly)) {
        throw app::JpegError("The remote picture is missing from the program");
    }
    const QByteArray bytes = file.readAll();
    const app::DecodedImage decoded =
        app::decodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()));
    if (decoded.components != 3) {
        throw app::JpegError("The remote picture is not a colour picture");
    }
    return QImage(decoded.pixels.data(), decoded.width, decoded.height,
                  decoded.width * decoded.components, QImage::Format_RGB888)
        .copy();  // the decoded pixels go when this returns
}

template <typename Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

}  // namespace

void TFormKolvane::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    setCentralWidget(client);

    ImagePanel =
        place(new app::PicturePanel(
                  decodedPicture(QStringLiteral(":/remote.jpg")),
                  [] { return decodedPicture(QStringLiteral(":/remote@2x.jpg")); }, client),
              "ImagePanel", 0, 0, 240, 520);
    for (std::size_t i = 0; i < Image.size(); ++i) {
        const remote::RemoteKey& key = remote::RemoteKeyTable[i];
        const QString hint = QString::fromLatin1(key.hint.data(), qsizetype(key.hint.size()));
        Image[i] = new app::KeyHotspot(hint, client);
        Image[i]->setObjectName(QStringLiteral("Image%1").arg(key.hotspot));
        Image[i]->setGeometry(key.area.left, key.area.top, remote::kKeyAreaSide,
                              remote::kKeyAreaSide);
    }
    new app::KeyPad(Image, this);

    ButtonSearchDevice = place(new QPushButton(QStringLiteral(" Search Device >>"), client),
                               "ButtonSearchDevice", 256, 8, 110, 25);
    ButtonSearchDevice->setFont(pixelFont(kMingFont, 13, true));

    EditCOMport =
        place(new QLineEdit(QStringLiteral("COM6"), client), "EditCOMport", 368, 10, 49, 21);
    EditCOMport->setFont(pixelFont(kMingFont, 13));
    // The ports there are, offered as the user types; filled each time the box gets focus.
    portCompletions_ = new QStringListModel(EditCOMport);
    auto* completer = new QCompleter(portCompletions_, EditCOMport);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    EditCOMport->setCompleter(completer);
    EditCOMport->installEventFilter(this);

    BitBtnRS232 =
        place(new QPushButton(QStringLiteral("RS232 OFF"), client), "BitBtnRS232", 416, 8, 86, 25);
    BitBtnRS232->setFont(pixelFont(QStringLiteral("Arial"), 15, true));
    BitBtnRS232->setCursor(Qt::PointingHandCursor);
    colourSwitchForTheme();

    Memo1 = place(new QPlainTextEdit(client), "Memo1", 248, 32, 257, 449);
    Memo1->setFont(pixelFont(kMingFont, 13));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setTabChangesFocus(true);

    ButtonClear =
        place(new QPushButton(QStringLiteral("清除"), client), "ButtonClear", 248, 496, 75, 25);
    ButtonClear->setFont(pixelFont(kMingFont, 16));
    ButtonClear->setCursor(Qt::PointingHandCursor);

    EditSend = place(new QLineEdit(QStringLiteral("G46g"), client), "EditSend", 328, 496, 41, 21);

    Label1 = place(new QLabel(QStringLiteral("0x0A"), client), "Label1", 368, 498, 27, 13);
    Label1->setFont(pixelFont(kMingFont, 13));

    ButtonConvert = place(new QPushButton(QStringLiteral("Send CMD"), client), "ButtonConvert", 408,
                          496, 75, 25);
    ButtonConvert->setCursor(Qt::PointingHandCursor);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    // Fixed in both directions, the clock's new text each second asks the status bar for no
    // new layout, which would repaint the whole bar.
    StatusPanel0->setFixedSize(140, 14);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setFixedWidth(50);
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1);
    setStatusBar(StatusBar1);

    // What a screen reader says for controls whose caption does not tell what they are for.
    ImagePanel->setAccessibleName(QStringLiteral("Remote control"));
    EditCOMport->setAccessibleName(QStringLiteral("Serial port"));
    Memo1->setAccessibleName(QStringLiteral("Log"));
    ButtonClear->setAccessibleDescription(QStringLiteral("Clears the log"));
    EditSend->setAccessibleName(QStringLiteral("Command"));

    // Controls kept for their values and handlers; never shown.
    Label7 = place(new QLabel(QStringLiteral("Baudrate"), client), "Label7", 560, 16, 56, 16);
    Label7->setFont(pixelFont(kMingFont, 16));
    ComboBoxBaudrate = place(new QComboBox(client), "ComboBoxBaudrate", 620, 16, 68, 24);
    ComboBoxBaudrate->setFont(pixelFont(kMingFont, 16));
    ComboBoxBaudrate->setEditable(true);
    ComboBoxBaudrate->addItems({QStringLiteral("2400"), QStringLiteral("4800"),
                                QStringLiteral("9600"), QStringLiteral("19200"),
                                QStringLiteral("38400"), QStringLiteral("57600"),
                                QStringLiteral("115200")});
    ComboBoxBaudrate->setCurrentIndex(2);
    ButtonRs232Read = place(new QPushButton(QStringLiteral("Rs232Read"), client), "ButtonRs232Read",
                            672, 128, 75, 25);
    EditChar = place(new QLineEdit(QStringLiteral("G"), client), "EditChar", 672, 160, 89, 21);
    Button1 =
        place(new QPushButton(QStringLiteral("Send CMD"), client), "Button1", 672, 192, 75, 25);
    Button2 =
        place(new QPushButton(QStringLiteral("Send CMD"), client), "Button2", 672, 224, 75, 25);
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             Label7, ComboBoxBaudrate, ButtonRs232Read, EditChar, Button1, Button2}) {
        hidden->hide();
    }

    // Tab order as laid out: 0 "Send CMD" first, 12 the search button last. The remote's keys,
    // made before all of these, come round the chain between the last and the first.
    const std::initializer_list<QWidget*> tabOrder = {
        ButtonConvert, BitBtnRS232, Memo1,   ButtonClear, ButtonRs232Read,  EditCOMport,
        EditSend,      EditChar,    Button1, Button2,     ComboBoxBaudrate, ButtonSearchDevice};
    QWidget* previous = nullptr;
    for (QWidget* w : tabOrder) {
        if (previous != nullptr) {
            setTabOrder(previous, w);
        }
        previous = w;
    }
    // The window opens with the focus on the first of them, not on the keys ahead of it.
    ButtonConvert->setFocus();
}

void TFormKolvane::buildTimers() {
    // TimerRs232 and TimerSearcgDevice belong to the session, which works the line.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    Timer1->start();
}
