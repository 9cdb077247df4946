#pragma once

#include "app/reply_log.h"
#include "connection/client_socket.h"
#include "sequencing/reply_checks.h"
#include "sequencing/reply_matcher.h"

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <memory>

class QMenu;
class TBitBtn;
class TEdit;
class TImage;
class TLabel;
class TMainMenu;
class TMemo;
class TMenuItem;
class TOpenDialog;
class TPanel;
class TStatusBar;
class TTimer;
class TFormAbout;

// The designed sizes of the main window: its client area below the menu, and
// the whole window with the frame.
inline constexpr int kClientWidth = 782;
inline constexpr int kClientHeight = 545;
inline constexpr int kOuterWidth = 798;
inline constexpr int kOuterHeight = 603;

// What FormClose makes of a close request: caHide (as it comes in) ends the
// application, caNone keeps the window open.
enum class TCloseAction { caNone, caHide };

// One of the eighteen test slots: the item's label, the field that shows the
// controller's reply, and the hidden holder of the item's command (a
// multi-line box for slots 1 to 8, a single-line field for 9 to 18).
struct TTestSlot {
    TLabel* Label = nullptr;
    TEdit* Result = nullptr;
    TMemo* MemoHolder = nullptr;
    TEdit* EditHolder = nullptr;

    QByteArray Command() const;
    void SetCommand(const QByteArray& command) const;
    QWidget* Holder() const;
};

// The main window. Its controls hold the system's state: the label captions
// and command holders hold the definition's items, Memo1 its lines, the Start
// Test caption the running flag. The handlers read and write controls and
// leave the rules to the widget-free rooms (sequencing/, connection/); they
// are defined one file per concern: main_window.cpp (the shell),
// main_window_definition.cpp, main_window_cycle.cpp and
// main_window_connection.cpp.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Builds every control and the About window (hidden); FormCreate has not
    // run yet.
    TForm1();
    ~TForm1() override;

    // Start-up: runs FormCreate; an error it raises goes to the error display
    // and start-up goes on.
    void Create();
    // First showing: centred on the primary screen (0, 0 on a smaller one).
    void ShowCentred();

    // The slot for number 1..18.
    const TTestSlot& Slot(int number) const { return m_slots.at(size_t(number - 1)); }

    // --- shell (main_window.cpp)
    void FormCreate(QObject* Sender);
    void FormCanResize(QObject* Sender, int& NewWidth, int& NewHeight, bool& Resize);
    void FormClose(QObject* Sender, TCloseAction& Action);
    void BitBtnExitClick(QObject* Sender);
    void Exit2Click(QObject* Sender);
    void About1Click(QObject* Sender);

    // --- test definition (main_window_definition.cpp)
    // Applies the lines of the line store to the address, the port and the
    // slots.
    void LoadTestDefinition();
    void Open1Click(QObject* Sender);
    void BitBtnOpenClick(QObject* Sender);

    // --- test cycle (main_window_cycle.cpp)
    void BitBtnStartTestClick(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void TimerWatchDogTimer(QObject* Sender);
    void ClientSocket1Read(QObject* Sender, TCustomWinSocket* Socket);
    // From now on each completed reply is appended to fileName as a JSON
    // line. A file that cannot be opened goes to the error display, and the
    // window runs without a log.
    void StartReplyLog(const QString& fileName);

    // --- connection (main_window_connection.cpp)
    void BitBtnConnectClick(QObject* Sender);
    void BitBtnDisconnectClick(QObject* Sender);
    void ClientSocket1Lookup(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket1Connecting(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket1Connect(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket1Disconnect(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket1Write(QObject* Sender, TCustomWinSocket* Socket);
    void ClientSocket1Error(QObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent,
                            int& ErrorCode);

    // What a reply answers, by arrival as the window always showed it, and
    // the cycle's rules and state under it; TestStep and ReceiveBuffer are
    // the cycle's own.
    TReplyMatcher Replies{TReplyMatcher::TPolicy::ByArrival};
    TCycleRules& Cycle = Replies.Cycle;
    int32_t& TestStep = Cycle.TestStep;
    TReceiveBuffer& ReceiveBuffer = Cycle.ReceiveBuffer;

    // Connection fields and status.
    TLabel* Label4 = nullptr;
    TLabel* Label3 = nullptr;
    TLabel* LabelStatus = nullptr;
    TEdit* EditAddress = nullptr;
    TEdit* EditPort = nullptr;

    // Slot controls, by their designed names.
    TLabel *LabelFirmware, *LabelTemp, *LabelLightSensorLevel, *LabelBrightness,
        *LabelBackLightStatus, *LabelPSUValues, *LabelFaultStatus, *LabelPollController;
    TLabel *Label1, *Label2, *Label11, *Label12, *Label5, *Label6, *Label7, *Label8, *Label9,
        *Label10;
    TEdit *EditReadFirmware, *EditReadTemp, *EditReadLightSensorLevel, *EditReadBrightness,
        *EditReadBacklightStatus, *EditReadPSUValue, *EditReadFaultStatus, *EditPollController;
    TEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6, *Edit7, *Edit8, *Edit9, *Edit10;
    TMemo *MemoReadFirmware, *MemoReadTemp, *MemoReadLightSensorLevel, *MemoReadBrightness,
        *MemoReadBacklightStatus, *MemoReadPSUValue, *MemoReadFaultStatus, *MemoPollController;
    TEdit *Edit11, *Edit12, *Edit13, *Edit14, *Edit15, *Edit16, *Edit17, *Edit18, *Edit19, *Edit20;

    // Buttons.
    TBitBtn* BitBtnConnect = nullptr;
    TBitBtn* BitBtnStartTest = nullptr;
    TBitBtn* BitBtnDisconnect = nullptr;
    TBitBtn* BitBtnExit = nullptr;
    TBitBtn* BitBtnOpen = nullptr;

    // Line store, status bar, logo.
    TMemo* Memo1 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    TPanel* Panel1 = nullptr;
    TImage* Image1 = nullptr;
    TLabel* Label13 = nullptr;

    // Menu.
    TMainMenu* MainMenu1 = nullptr;
    QMenu* Exit1 = nullptr; // the File menu, under its designed name
    TMenuItem* Exit2 = nullptr;
    TMenuItem* Open1 = nullptr;
    QMenu* Help1 = nullptr;
    TMenuItem* About1 = nullptr;

    // Components without a place on screen.
    TTimer* Timer1 = nullptr;
    TTimer* TimerWatchDog = nullptr;
    TClientSocket* ClientSocket1 = nullptr;
    TOpenDialog* OpenDialog1 = nullptr;

    // The About window, created hidden with this window and owned by it.
    TFormAbout* const FormAbout;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildConnectionArea();
    void BuildSlots();
    void BuildButtons();
    void BuildLineStoreAndLogo();
    void BuildMenu();
    void BuildComponents();
    void SetTabOrder();
    void Wire();

    // On the first activation the focus goes to EditPort: its whole text is
    // selected, so typing replaces the port.
    void SelectPortOnFirstActivation();

    // Clears the line store, loads "default1.tst" from the working folder and
    // applies it when it has more than one line.
    void StartupLoad();
    // Replaces the line store's content with the file's text.
    void FillLineStore(const QString& fileName);
    // Reads the checks file beside a definition whose lines the line store
    // holds, when there is one. A refused file leaves no checks.
    void LoadReplyChecks(const QString& definitionFile);

    // The test is running exactly when Start Test reads "Stop Test".
    bool TestRunning() const;
    // Adds the label and the checks' verdict to a complete reply.
    void Judge(TReplyRecord& record) const;
    // Shows a complete reply in its slot's field, shaded; the other fields
    // return to the window colour. A reply that fails its check is red, with
    // the reason as the field's tooltip.
    void ShowCompletedReply(const TReplyRecord& record);
    // Appends the reply to the log, if one is kept. A failed write ends the
    // logging; its one error box is shown from the event loop, not inside the
    // read notification.
    void LogReply(const TReplyRecord& record);

    // Status message: the prefix and the address field's text, to the status
    // bar's simple text and the status label.
    void ShowStatus(const char* prefix);
    // The buttons as the connection is made (true) or lost (false).
    void SetButtonsForConnection(bool connected);
    void SetConnectionFieldsEnabled(bool enabled);

    QWidget* m_client = nullptr; // the kClientWidth x kClientHeight area below the menu
    std::array<TTestSlot, kSlotCount> m_slots;
    bool m_activatedBefore = false;
    TReplyChecks m_checks;
    std::unique_ptr<TReplyLog> m_replyLog; // null: no log is kept
};
