#pragma once
// The main window: the toolbar strip, the search row, the check list and the state every
// subsystem works on. Handlers are defined in the folder of the subsystem that owns them.
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPoint>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QWidget>
#include <string>
#include <vector>
#include <array>
#include <functional>
#include <cstdint>

#include "app/CheckListBox.h"
#include "app/Controls.h"
#include "download/Queue.h"
#include "platform/Desktop.h"
#include "net/Parsing.h"
#include "player/MediaPlayerControl.h"

class QCheckBox;
class QCloseEvent;
class QFrame;
class TBlockingSocket;
class TFtpClient;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Outer height of the launcher view (toolbar only) and of the list view (everything).
    static constexpr int kLauncherHeight = 102;
    static constexpr int kListHeight = 315;
    // The frame around the client area (borders and caption), which the outer heights include.
    static constexpr int kFrameWidth = platform::kFrameWidth;
    static constexpr int kFrameHeight = platform::kFrameHeight;
    static constexpr int kClientWidth = 566;
    static constexpr int kClientHeight = 288;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Outer size of the window (client area plus the frame).
    QSize OuterSize() const;
    void SetOuterHeight(int height);

    // ---- controls, under the names every subsystem's handlers use ----
    QFrame* ControlBar1;
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    QToolButton* SpeedButton5;
    QPushButton* Button1;
    QPushButton* Button2;
    QToolButton* SpeedButton6;
    QLabel* Image1;
    TLabel* Label1;
    QComboBox* ComboBox2;
    QCheckBox* CheckBox2;
    QComboBox* ComboBox3;
    TLabel* Label11;
    TLabel* Label10;
    QPushButton* Button4;
    TLabel* Label9;
    TMediaPlayer* MediaPlayer1;
    TCheckListBox* CheckListBox1;
    QGroupBox* GroupBox1;
    QScrollBar* ScrollBar1;
    QScrollBar* ScrollBar2;
    QScrollBar* ScrollBar3;
    TLabel* Label8;
    TLabel* Label2;
    TStatusBar* StatusBar1;
    // Holders below the client area, never visible.
    QListWidget* ListBox6;
    QListWidget* ListBox7;
    QListWidget* ListBox8;
    QComboBox* DriveComboBox3;
    QComboBox* ComboBox1;  // search scope; nothing reads it
    TLabel* Label5;
    TLabel* Label21;
    QCheckBox* CheckBox5;
    QPushButton* Button5;

    TTimer* Timer1;
    TTimer* Timer2;
    TTimer* Timer3;
    TTimer* Timer4;
    TTimer* Timer5;
    TTimer* Timer6;

    // ---- state fields ----
    int IdleSearchActive = 0;
    int SearchLimit = 0;
    int SearchCancelled = 0;
    std::string WorkDir;
    QPoint LastCursorPos;
    int IdleSeconds = 0;
    int AutoSearchIndex = 0;
    int AutoPlay = 0;
    // The download queue, and its phase, song name and song index under the window's names.
    download::Queue Download;
    const download::Phase& DownloadState = Download.State();
    const std::string& DownloadName = Download.Name();
    std::array<std::string, 51> CatalogueFiles;
    const int& DownloadIndex = Download.Index();
    // True once dropped files are accepted (the last creation step).
    bool AcceptsDroppedFiles = false;

    // The file `name` in the working folder; the one way the program names its own files
    // (result lists, the download log, the catalogue, "temp", songs, the marker file).
    std::string WorkPath(const std::string& name) const;

    // ---- application shell ----
    void FormCreate();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton6Click();

    // ---- result store ----
    // The stored list of a box text: one file per extension, whichever use it is for, so a
    // list is always found where it was written.
    std::string StoredListPath(const std::string& boxText) const;
    void DeleteStoredList(const std::string& pattern);
    void WriteStoredList(const std::string& pattern);
    void ReadStoredList(const std::string& path, const std::string* keyword);
    void AppendDownloadLog(const std::string& fileName);
    // "リスト数" and the entry count.
    void ShowListCount();

    // ---- drop-add and deletion ----
    void WMDropFiles(const std::vector<std::string>& paths);
    void CheckListBox1ClickCheck();
    void Button1Click();

    // ---- searches ----
    void SpeedButton1Click();  // full disk search
    void SpeedButton2Click();  // quick search
    void ComboBox2Select();    // an item of the extension box chosen
    void ComboBox2Change();    // the extension box's text edited
    void CheckBox2Click();     // idle-search permission

    // ---- activation and playback ----
    void CheckListBox1Click();  // activation of the selected entry
    void SpeedButton5Click();   // manual / automatic play toggle
    void SwitchToManualPlay();  // leaves automatic mode, if on
    void Image1DblClick();
    void ScrollBar1Scroll();
    void ScrollBar2Scroll();
    void ScrollBar3Scroll();
    // Connects the player's controls (list clicks, play toggle, player buttons, volume
    // bars, thumbnail double-click) to their handlers.
    void WirePlayerControls();
    // Above 0 while an activation runs (it may wait on a confirmation box).
    int ActivationDepth = 0;

    // ---- music site ----
    void Button2Click();  // connect: fetch the catalogue
    void Button4Click();  // start the song at DownloadIndex
    void FormCloseQuery();
    void Button6Click();  // autostart offer

    // The FTP client of the catalogue fetch and the download queue, and its events.
    TFtpClient* FtpClient1 = nullptr;
    void FtpClient1Connect(TBlockingSocket* Sender);
    void FtpClient1Disconnect(TBlockingSocket* Sender);
    void FtpClient1Error(TBlockingSocket* Sender, std::uint16_t Errno, const std::string& Errmsg);
    void FtpClient1Failure(bool& Handled, net::TCmdType Trans_Type);
    void FtpClient1Success(net::TCmdType Trans_Type);
    void FtpClient1Status(TBlockingSocket* Sender, const std::string& Status);
    void FtpClient1PacketRecvd(TBlockingSocket* Sender);
    void FtpClient1TransactionStart(TBlockingSocket* Sender);
    void FtpClient1TransactionStop(TBlockingSocket* Sender);
    // The catalogue's transfer is running, and it was aborted for growing past its limit.
    bool CatalogueTransfer = false;
    bool CatalogueOverflow = false;
    // Ends the process after the close handler; tests replace it.
    std::function<void(int)> ExitProcess;

    // ---- timers; filled by the subsystems that own them ----
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void Timer5Timer();
    void Timer6Timer();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildControls();
    void CreateFtpClient();
};
