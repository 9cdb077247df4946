#include "app/main_window.h"

#include "app/about_window.h"
#include "app/application.h"
#include "base/guard.h"
#include "connection/client_socket.h"
#include "controls/bitbtn.h"
#include "controls/edit.h"
#include "controls/field_style.h"
#include "controls/image.h"
#include "controls/label.h"
#include "controls/memo.h"
#include "controls/menu.h"
#include "controls/open_dialog.h"
#include "controls/panel.h"
#include "controls/statusbar.h"
#include "controls/timer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <iterator>

namespace {

// The fonts of the main window, by their design codes.
QFont FontW() {
    return MakeFont(TFace::Window, 11);
}
QFont FontWB() {
    return MakeFont(TFace::Window, 11, true);
}
QFont FontL() {
    return MakeFont(TFace::Window, 13, true);
}
QFont FontS() {
    return MakeFont(TFace::Window, 16, true, true);
}

TLabel* MakeLabel(QWidget* parent, int left, int top, const char* caption, const QFont& font) {
    auto* label = new TLabel(parent);
    label->setFont(font);
    label->move(left, top);
    label->SetCaption(caption);
    return label;
}

TEdit* MakeEdit(QWidget* parent, const QRect& rect, const QFont& font) {
    auto* edit = new TEdit(parent);
    edit->setFont(font);
    edit->setGeometry(rect);
    return edit;
}

TMemo* MakeMemo(QWidget* parent, const QRect& rect, const QList<QByteArray>& lines) {
    auto* memo = new TMemo(parent);
    memo->setFont(FontW());
    memo->setGeometry(rect);
    memo->SetLines(lines);
    return memo;
}

TBitBtn* MakeButton(QWidget* parent, int left, int top, const char* caption, const char* glyph,
                    TBitBtn::TLayout layout) {
    auto* button = new TBitBtn(parent);
    button->setFont(FontW());
    button->setGeometry(left, top, 81, 57);
    button->SetCaption(caption);
    button->SetGlyph(QString::fromLatin1(glyph));
    button->SetLayout(layout);
    return button;
}

int ResultTop(int slot) {
    return 64 + 24 * (slot - 1);
}

} // namespace

QByteArray TTestSlot::Command() const {
    return MemoHolder ? MemoHolder->Text() : EditHolder->Text();
}

void TTestSlot::SetCommand(const QByteArray& command) const {
    if (MemoHolder)
        MemoHolder->SetText(command);
    else
        EditHolder->SetText(command);
}

QWidget* TTestSlot::Holder() const {
    return MemoHolder ? static_cast<QWidget*>(MemoHolder) : EditHolder;
}

TForm1::TForm1() : FormAbout(new TFormAbout(this)) {
    setWindowTitle(QStringLiteral("ZYL_Test_Tool_V1.0"));
    setWindowIcon(Application().Icon());
    setFont(FontW());
    m_client = new QWidget(this);
    m_client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(m_client);

    BuildConnectionArea();
    BuildSlots();
    BuildButtons();
    BuildLineStoreAndLogo();
    BuildMenu();
    BuildComponents();
    SetTabOrder();
    Wire();
    // The size is locked: the frame offers no resizing and FormCanResize
    // refuses what still arrives.
    setFixedSize(sizeHint());
}

TForm1::~TForm1() = default;

void TForm1::BuildConnectionArea() {
    Label4 = MakeLabel(m_client, 10, 12, "IP Address", FontWB());
    Label3 = MakeLabel(m_client, 10, 35, "Port", FontWB());
    LabelStatus = MakeLabel(m_client, 336, 8, "", FontS());
    LabelStatus->SetTextColor(ColorOf(TColor::clNavy));
    EditAddress = MakeEdit(m_client, QRect(96, 8, 190, 24), FontL());
    EditPort = MakeEdit(m_client, QRect(96, 32, 190, 24), FontL());
    EditAddress->setAccessibleName(Label4->ShownText());
    EditPort->setAccessibleName(Label3->ShownText());
}

void TForm1::BuildSlots() {
    struct Design {
        TLabel** label;
        int labelLeft, labelTop;
        const char* caption;
        TEdit** result;
        TMemo** memo;
        TEdit** edit;
        QList<QByteArray> command;
    };
    // clang-format off
    const Design designs[kSlotCount] = {
        // label                   left  top  caption                    result                     memo                       edit     command
        {&LabelFirmware,           130,  75, "Read Firmware",           &EditReadFirmware,         &MemoReadFirmware,         nullptr, {"[0A!?v]"}},
        {&LabelTemp,               130,  99, "Read Temp",               &EditReadTemp,             &MemoReadTemp,             nullptr, {"[0A!?rt]"}},
        {&LabelLightSensorLevel,   130, 123, "Read Light Sensor Level", &EditReadLightSensorLevel, &MemoReadLightSensorLevel, nullptr, {"[0A!?", "psl]"}},
        {&LabelBrightness,         130, 146, "Read Brightness",         &EditReadBrightness,       &MemoReadBrightness,       nullptr, {"[0A!?b]"}},
        {&LabelBackLightStatus,    130, 170, "Read Backlight Status",   &EditReadBacklightStatus,  &MemoReadBacklightStatus,  nullptr, {"[0A!?", "bl]"}},
        {&LabelPSUValues,          130, 194, "Read PSU Values",         &EditReadPSUValue,         &MemoReadPSUValue,         nullptr, {"[0A!?", "rv]"}},
        {&LabelFaultStatus,        130, 218, "Read Fault Status",       &EditReadFaultStatus,      &MemoReadFaultStatus,      nullptr, {"[0A!?s]"}},
        {&LabelPollController,     130, 242, "Poll Controller",         &EditPollController,       &MemoPollController,       nullptr, {"[0A!p]"}},
        {&Label1,                  128, 265, "Label1",                  &Edit1,                    nullptr,                   &Edit11, {"Edit11"}},
        {&Label2,                  128, 289, "Label2",                  &Edit2,                    nullptr,                   &Edit12, {"Edit12"}},
        {&Label11,                 128, 313, "Label11",                 &Edit3,                    nullptr,                   &Edit13, {"Edit13"}},
        {&Label12,                 128, 337, "Label12",                 &Edit4,                    nullptr,                   &Edit14, {"Edit14"}},
        {&Label5,                  128, 361, "Label5",                  &Edit5,                    nullptr,                   &Edit15, {"Edit15"}},
        {&Label6,                  128, 384, "Label6",                  &Edit6,                    nullptr,                   &Edit16, {"Edit16"}},
        {&Label7,                  128, 408, "Label7",                  &Edit7,                    nullptr,                   &Edit17, {"Edit17"}},
        {&Label8,                  128, 432, "Label8",                  &Edit8,                    nullptr,                   &Edit18, {"Edit18"}},
        {&Label9,                  128, 456, "Label9",                  &Edit9,                    nullptr,                   &Edit19, {"Edit19"}},
        {&Label10,                 128, 480, "Label10",                 &Edit10,                   nullptr,                   &Edit20, {"Edit20"}},
    };
    // clang-format on
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        const Design& d = designs[slot - 1];
        const int top = ResultTop(slot);
        *d.label = MakeLabel(m_client, d.labelLeft, d.labelTop, d.caption, FontWB());
        *d.result = MakeEdit(m_client, QRect(304, top, 450, 24), FontL());
        // Every reply redraws two of these wide fields.
        (*d.result)->setStyle(TFieldStyle::Shared());
        (*d.result)->setAccessibleName((*d.label)->ShownText());
        if (d.memo) {
            *d.memo = MakeMemo(m_client, QRect(664, top, 40, slot == 1 ? 17 : 18), d.command);
            (*d.memo)->hide();
        } else {
            const QRect rect = slot <= 10 ? QRect(664, top, 40, 21) : QRect(663, top, 41, 21);
            *d.edit = MakeEdit(m_client, rect, FontW());
            (*d.edit)->SetText(d.command.constFirst());
            (*d.edit)->hide();
        }
        m_slots[size_t(slot - 1)] =
            TTestSlot{*d.label, *d.result, d.memo ? *d.memo : nullptr, d.edit ? *d.edit : nullptr};
    }
}

void TForm1::BuildButtons() {
    using L = TBitBtn::TLayout;
    BitBtnConnect = MakeButton(m_client, 16, 133, "Connect", ":/glyph_connect.png", L::GlyphTop);
    BitBtnStartTest =
        MakeButton(m_client, 16, 210, "Start Test", ":/glyph_starttest.png", L::GlyphTop);
    BitBtnDisconnect =
        MakeButton(m_client, 16, 288, "Disconnect", ":/glyph_disconnect.png", L::GlyphTop);
    BitBtnExit = MakeButton(m_client, 16, 368, "Exit", ":/glyph_exit.png", L::GlyphLeft);
    BitBtnOpen = MakeButton(m_client, 568, 0, "Open", ":/glyph_open.png", L::GlyphTop);
    BitBtnOpen->hide();
}

void TForm1::BuildLineStoreAndLogo() {
    Memo1 = MakeMemo(m_client, QRect(40, 56, 41, 25), {"Memo1"});
    StatusBar1 = new TStatusBar(m_client);
    constexpr int statusBarHeight = 19;
    StatusBar1->setGeometry(0, kClientHeight - statusBarHeight, kClientWidth, statusBarHeight);
    Panel1 = new TPanel(m_client, TColor::clBtnFace);
    Panel1->setGeometry(16, 472, 65, 49);
    Image1 = new TImage(Panel1);
    Image1->setGeometry(0, 0, 57, 41);
    Image1->SetStretch(true);
    Image1->SetTransparent(true);
    Image1->LoadPicture(QStringLiteral(":/logo.png"));
    Image1->setAccessibleName(QStringLiteral("QRW logo"));
    Label13 = MakeLabel(Panel1, 75, 8, "", FontWB());
}

void TForm1::BuildMenu() {
    MainMenu1 = new TMainMenu(this);
    setMenuBar(MainMenu1);
    Exit1 = MainMenu1->AddMenu(QStringLiteral("File"));
    Exit2 = MainMenu1->AddItem(Exit1, QStringLiteral("Exit"));
    Open1 = MainMenu1->AddItem(Exit1, QStringLiteral("Open"));
    Help1 = MainMenu1->AddMenu(QStringLiteral("Help"));
    About1 = MainMenu1->AddItem(Help1, QStringLiteral("About"));
}

void TForm1::BuildComponents() {
    Timer1 = new TTimer(this, kSendDelayMs);
    TimerWatchDog = new TTimer(this, kWatchdogMs);
    ClientSocket1 = new TClientSocket(this);
    ClientSocket1->SetPort(3001);
    ClientSocket1->SetAddress("127.0.0.1");
    OpenDialog1 = new TOpenDialog(this);
    // The designed name carries a drive path; here it is the start-up file of
    // the working folder.
    OpenDialog1->FileName = QStringLiteral("default1.tst");
    OpenDialog1->DefaultExt = OpenDialog1->FileName;
    OpenDialog1->FilterName = QStringLiteral("default1.tst");
    OpenDialog1->FilterPattern = QStringLiteral("*.tst");
}

void TForm1::SetTabOrder() {
    QWidget* const order[] = {
        MemoReadFirmware,
        EditPort,
        EditAddress,
        EditReadFirmware,
        MemoReadBrightness,
        MemoReadTemp,
        MemoReadLightSensorLevel,
        MemoReadBacklightStatus,
        MemoReadPSUValue,
        EditReadTemp,
        EditReadLightSensorLevel,
        EditReadBrightness,
        EditReadBacklightStatus,
        EditReadPSUValue,
        EditReadFaultStatus,
        MemoReadFaultStatus,
        EditPollController,
        MemoPollController,
        BitBtnConnect,
        BitBtnStartTest,
        BitBtnDisconnect,
        BitBtnExit,
        Memo1,
        Edit1,
        Edit2,
        Edit3,
        Edit4,
        Edit5,
        Edit6,
        Edit7,
        Edit8,
        Edit9,
        Edit10,
        Edit11,
        Edit12,
        Edit13,
        Edit14,
        Edit15,
        Edit16,
        Edit17,
        Edit18,
        Edit19,
        Edit20,
        BitBtnOpen,
    };
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    // The first tab stop that can take the focus gets it when the window is
    // first activated: with the slots hidden that is the port field.
    EditPort->setFocus();
}

void TForm1::Wire() {
    BitBtnConnect->OnClick = TNotifyEvent(this, &TForm1::BitBtnConnectClick);
    BitBtnStartTest->OnClick = TNotifyEvent(this, &TForm1::BitBtnStartTestClick);
    BitBtnExit->OnClick = TNotifyEvent(this, &TForm1::BitBtnExitClick);
    BitBtnOpen->OnClick = TNotifyEvent(this, &TForm1::BitBtnOpenClick);
    BitBtnDisconnect->OnClick = TNotifyEvent(this, &TForm1::BitBtnDisconnectClick);
    Exit2->OnClick = TNotifyEvent(this, &TForm1::Exit2Click);
    Open1->OnClick = TNotifyEvent(this, &TForm1::Open1Click);
    About1->OnClick = TNotifyEvent(this, &TForm1::About1Click);
    Timer1->OnTimer = TNotifyEvent(this, &TForm1::Timer1Timer);
    TimerWatchDog->OnTimer = TNotifyEvent(this, &TForm1::TimerWatchDogTimer);
    ClientSocket1->OnLookup = TSocketNotifyEvent(this, &TForm1::ClientSocket1Lookup);
    ClientSocket1->OnConnecting = TSocketNotifyEvent(this, &TForm1::ClientSocket1Connecting);
    ClientSocket1->OnConnect = TSocketNotifyEvent(this, &TForm1::ClientSocket1Connect);
    ClientSocket1->OnDisconnect = TSocketNotifyEvent(this, &TForm1::ClientSocket1Disconnect);
    ClientSocket1->OnRead = TSocketNotifyEvent(this, &TForm1::ClientSocket1Read);
    ClientSocket1->OnWrite = TSocketNotifyEvent(this, &TForm1::ClientSocket1Write);
    ClientSocket1->OnError = TSocketErrorEvent(this, &TForm1::ClientSocket1Error);
    Cycle.CommandOf = [this](int slot) { return Slot(slot).Command(); };
    Cycle.ItemCount = [this] { return ItemCountOf(Memo1->LineCount()); };
}

void TForm1::Create() {
    Guarded([this] { FormCreate(this); });
}

void TForm1::ShowCentred() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int left = std::max(0, (screen.width() - kOuterWidth) / 2);
    const int top = std::max(0, (screen.height() - kOuterHeight) / 2);
    move(screen.left() + left, screen.top() + top);
    show();
}

void TForm1::FormCreate(QObject*) {
    TestStep = 1;
    Memo1->hide();
    Memo1->resize(500, 500);
    for (const TTestSlot& slot : m_slots)
        slot.Label->hide();
    for (const TTestSlot& slot : m_slots)
        slot.Result->hide();
    StartupLoad();
}

void TForm1::FormCanResize(QObject*, int&, int&, bool& Resize) {
    Resize = false;
}

void TForm1::FormClose(QObject*, TCloseAction& Action) {
    const TMsgAnswer answer = Application().ShowMessageBox(
        QStringLiteral("Are you sure you want to exit the application?"), QStringLiteral("Exit"),
        TMsgIcon::Exclamation, TMsgButtons::YesNo);
    if (answer != TMsgAnswer::Yes) {
        Action = TCloseAction::caNone;
        return;
    }
    // Read after the answer: the connection may have changed while the
    // question was open.
    if (BitBtnDisconnect->isEnabled())
        BitBtnDisconnectClick(this);
}

void TForm1::BitBtnExitClick(QObject*) {
    close();
}

void TForm1::Exit2Click(QObject*) {
    close();
}

void TForm1::About1Click(QObject*) {
    FormAbout->ShowAndActivate();
}

void TForm1::closeEvent(QCloseEvent* event) {
    TCloseAction action = TCloseAction::caHide;
    bool answered = false;
    Guarded([&] {
        FormClose(this, action);
        answered = true;
    });
    if (!answered || action == TCloseAction::caNone) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

void TForm1::SelectPortOnFirstActivation() {
    if (m_activatedBefore || !isActiveWindow())
        return;
    m_activatedBefore = true;
    // Qt selects a field's text only when the focus comes by Tab, Shift+Tab
    // or a shortcut; the focus the window hands on at its first activation
    // would leave the cursor in front of the port.
    if (focusWidget() == EditPort)
        EditPort->selectAll();
}

void TForm1::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange)
        SelectPortOnFirstActivation();
    if (event->type() == QEvent::WindowStateChange &&
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        int width = kOuterWidth, height = kOuterHeight;
        bool resize = true;
        FormCanResize(this, width, height, resize);
        if (!resize)
            setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
    }
    QMainWindow::changeEvent(event);
}
