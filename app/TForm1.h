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
#include "search/SearchState.h"

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
    QToolButton* SpeedButton1;  // full disk search (magnifier)
    QToolButton* SpeedButton2;  // quick search "Q"
    QToolButton* SpeedButton3;  // launcher view "↑" (toolbar only)
    QToolButton* SpeedButton4;  // list view "↓"
    QToolButton* SpeedButton5;  // manual / automatic play toggle
    QPushButton* Button1;  // "削除": delete checked entries, shown while any is checked
    QPushButton* Button2;  // "接続": fetch the music site's catalogue
    QToolButton* SpeedButton6;  // "ヘルプ": help window
    QLabel* Image1;  // thumbnail of the shown picture; double click enlarges
    TLabel* Label1;  // "検索ファイル" caption of the extension box
    QComboBox* ComboBox2;  // extension box: the pattern searched and listed
    QCheckBox* CheckBox2;  // idle-search permission
    QComboBox* ComboBox3;  // idle time before the automatic search
    TLabel* Label11;  // automatic search step marker
    TLabel* Label10;  // idle countdown / automatic mode line
    QPushButton* Button4;  // hidden: starts the song at DownloadIndex
    TLabel* Label9;  // remaining play time, read by the continuous play tick
    TMediaPlayer* MediaPlayer1;  // player buttons
    TCheckListBox* CheckListBox1;  // the result list
    QGroupBox* GroupBox1;  // "音量" volume group
    QScrollBar* ScrollBar1;  // right volume
    QScrollBar* ScrollBar2;  // left volume
    QScrollBar* ScrollBar3;  // both volumes
    TLabel* Label8;  // "リスト数" entry count
    TLabel* Label2;  // version line
    TStatusBar* StatusBar1;  // download and search messages
    // Holders below the client area, never visible.
    QListWidget* ListBox6;  // unused holder
    QListWidget* ListBox7;  // unused holder
    QListWidget* ListBox8;  // unused holder
    QComboBox* DriveComboBox3;  // unused holder
    QComboBox* ComboBox1;  // search scope; nothing reads it
    TLabel* Label5;  // idle latch: red once the automatic search was armed
    TLabel* Label21;  // unused holder
    QCheckBox* CheckBox5;  // "クリック時確認": a list click activates only while checked
    QPushButton* Button5;  // unused holder, held with the others during a download

    TTimer* Timer1;  // continuous play step, 6 s
    TTimer* Timer2;  // remaining play time display, 1 s
    TTimer* Timer3;  // idle check, 1 s
    TTimer* Timer4;  // automatic search step, 5 s
    TTimer* Timer5;  // catalogue fetch tick, 1 s
    TTimer* Timer6;  // download queue tick, 2 s

    // ---- state fields ----
    // The full search's and the idle check's state, under the window's names.
    search::SearchState Search;
    int& IdleSearchActive = Search.idleSearchActive;
    int& SearchLimit = Search.searchLimit;
    int& SearchCancelled = Search.searchCancelled;
    std::string WorkDir;
    QPoint& LastCursorPos = Search.lastCursorPos;
    int& IdleSeconds = Search.idleSeconds;
    int& AutoSearchIndex = Search.autoSearchIndex;
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
