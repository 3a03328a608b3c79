#include "app/TForm1.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLineEdit>

#include "app/AppIcon.h"
#include "app/CheckBoxes.h"
#include "app/Forms.h"
#include "platform/DragDrop.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "platform/Guard.h"
#include "platform/Services.h"
#include "app/WorkFolder.h"

TForm1* Form1 = nullptr;

namespace {

template <class W>
W* Place(W* w, int left, int top, int width = -1, int height = -1) {
    if (width >= 0 && height >= 0)
        w->setGeometry(left, top, width, height);
    else if (width >= 0)
        w->setGeometry(left, top, width, w->sizeHint().height());
    else
        w->move(left, top);
    return w;
}

QToolButton* FlatButton(QWidget* parent, const QString& caption, const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setAutoRaise(true);
    b->setText(caption);
    b->setToolTip(hint);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Tessaly Ver1.40"));
    setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setFont(platform::DesignFont(platform::kFontPMincho, 12));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    setFixedSize(kClientWidth, kClientHeight);
    // The application's icon, drawn once at start; drawn here when there is none.
    const QIcon appIcon = QGuiApplication::windowIcon();
    setWindowIcon(appIcon.isNull() ? AppIcon() : appIcon);
    BuildControls();
    FormCreate();
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::BuildControls() {
    ControlBar1 = Place(new QFrame(this), 0, 0, 657, 57);
    ControlBar1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ControlBar1->setAccessibleName(QStringLiteral("ツールバー"));

    SpeedButton1 = Place(FlatButton(ControlBar1, QString(), QStringLiteral("再検索をします")), 11, 2, 46, 48);
    SpeedButton1->setIcon(QIcon(SearchGlyph()));
    SpeedButton1->setIconSize(QSize(32, 32));
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // A button with a picture only is known to assistive technology by its hint.
    SpeedButton1->setAccessibleName(SpeedButton1->toolTip());
    SpeedButton2 = Place(FlatButton(ControlBar1, QStringLiteral("Q"), QStringLiteral("クイック検索をします")), 70, 2, 43, 48);
    SpeedButton2->setIcon(QIcon(QuickSearchGlyph()));
    SpeedButton2->setIconSize(QSize(28, 28));
    SpeedButton2->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    SpeedButton3 = Place(FlatButton(ControlBar1, QStringLiteral("↑"), QStringLiteral("ランチャ表示します")), 126, 2, 35, 48);
    SpeedButton4 = Place(FlatButton(ControlBar1, QStringLiteral("↓"), QStringLiteral("リスト表示します")), 174, 2, 35, 48);
    SpeedButton5 = Place(FlatButton(ControlBar1, QString(), QStringLiteral("連続上映します")), 222, 2, 59, 48);
    Button1 = Place(new QPushButton(QStringLiteral("削除"), ControlBar1), 294, 2, 41, 48);
    Button1->hide();
    Button2 = Place(new QPushButton(QStringLiteral("接続"), ControlBar1), 348, 2, 77, 48);
    Button2->setToolTip(QStringLiteral("ミルフォーネへ接続します"));
    {
        QFont f = font();
        f.setBold(true);
        f.setUnderline(true);
        Button2->setFont(f);
        SetButtonTextColour(Button2, QColor(0x80, 0, 0));  // maroon
    }
    SpeedButton6 = Place(FlatButton(ControlBar1, QStringLiteral("ヘルプ"), QString()), 450, 2, 41, 48);
    Image1 = Place(new QLabel(ControlBar1), 504, 2, 54, 48);
    Image1->setScaledContents(true);
    Image1->setToolTip(QStringLiteral("ダブルクリックで大きくなります"));

    Label1 = Place(new TLabel(QStringLiteral("検索ファイル"), this), 8, 72);
    ComboBox2 = Place(new QComboBox(this), 75, 68, 62);
    ComboBox2->setEditable(true);
    for (const char* p : {"*.MP3", "*.WAV", "*.MID", "*.MPG", "*.DAT", "*.MOV", "*.AVI", "*.BMP",
                          "*.ICO", "*.WMP", "*.EMF", "*.GIF", "*.JPG", "*.XLS", "*.DOC", "", "", ""})
        ComboBox2->addItem(QString::fromLatin1(p));
    ComboBox2->setCurrentIndex(0);
    ComboBox2->setEditText(QStringLiteral("*.MP3"));
    // Files dropped on the box join the list like anywhere else on the window.
    ComboBox2->lineEdit()->setAcceptDrops(false);
    // The box's 62 pixels leave the text too little room for "*.WMP" with the edit's
    // usual inner margins: drop them, so every pattern shows whole.
    ComboBox2->lineEdit()->setTextMargins(-1, 0, -2, 0);
    // Screen readers name the box and its edit field by the label beside them.
    ComboBox2->setAccessibleName(Label1->text());
    // A combo box reads out its text as its name; the label goes with it as its description.
    ComboBox2->setAccessibleDescription(Label1->text());
    ComboBox2->lineEdit()->setAccessibleName(Label1->text());
    CheckBox2 = Place(new QCheckBox(QStringLiteral("アイドル状態でファイルを自動検索"), this), 146, 68, 205, 17);
    ClickableOverWholeArea(CheckBox2);
    ComboBox3 = Place(new QComboBox(this), 356, 65, 153);
    // Editable: a typed delay that is no item counts as index -1.
    ComboBox3->setEditable(true);
    ComboBox3->setInsertPolicy(QComboBox::NoInsert);
    ComboBox3->setEnabled(false);
    ComboBox3->setAccessibleName(QStringLiteral("自動検索を始めるまでの時間"));
    ComboBox3->lineEdit()->setAccessibleName(ComboBox3->accessibleName());
    ComboBox3->setAccessibleDescription(ComboBox3->accessibleName());
    Label11 = Place(new TLabel(QStringLiteral("*  "), this), 8, 96);
    Label10 = Place(new TLabel(QString(), this), 24, 96);
    Button4 = Place(new QPushButton(QStringLiteral("Button4"), this), 160, 88, 33, 25);
    Button4->hide();
    Label9 = Place(new TLabel(QString(), this), 199, 96);
    {
        // "残り100.0%" in the substitute font is wider than the 57 pixels up to the player
        // control; narrowed to 90 per cent it ends before the Play button.
        QFont f = Label9->font();
        f.setStretch(90);
        Label9->setFont(f);
    }
    Label9->hide();
    MediaPlayer1 = Place(new TMediaPlayer(this), 256, 88, 253, 25);
    MediaPlayer1->hide();
    CheckListBox1 = Place(new TCheckListBox(this), 8, 116, 489, 117);
    CheckListBox1->setToolTip(QStringLiteral("クリックで確認できます"));
    CheckListBox1->setAccessibleName(QStringLiteral("リスト"));
    NameScrollBars(CheckListBox1, CheckListBox1->accessibleName());

    {
        auto* volume = Place(new TGroupBox(QStringLiteral("音量"), this), 504, 116, 53, 113);
        // At 12 pixels the substitute font's ideographs reach down to the "L" and "R" just
        // below; one pixel less keeps a clear line between them.
        volume->SetCaptionPixelSize(11);
        GroupBox1 = volume;
    }
    Place(new QLabel(QStringLiteral("L"), GroupBox1), 13, 10);
    Place(new QLabel(QStringLiteral("R"), GroupBox1), 33, 10);
    auto bar = [this](int left) {
        auto* s = Place(new QScrollBar(Qt::Vertical, GroupBox1), left, 24, 17, 81);
        s->setRange(0, 127);
        s->setPageStep(0);
        s->setValue(64);
        return s;
    };
    ScrollBar2 = bar(8);
    ScrollBar1 = bar(28);
    ScrollBar3 = bar(13);  // made last: it lies between the other two, over both
    GroupBox1->setAccessibleName(GroupBox1->title());
    ScrollBar2->setAccessibleName(QStringLiteral("左の音量"));
    ScrollBar1->setAccessibleName(QStringLiteral("右の音量"));
    ScrollBar3->setAccessibleName(QStringLiteral("左右の音量"));
    GroupBox1->hide();

    Label8 = Place(new TLabel(QStringLiteral("　　　　　"), this), 403, 238);
    Label2 = Place(new TLabel(QStringLiteral("Tessaly Ver1.40　ファイル検索・再生・ミルフォーネ接続ソフト"), this), 8, 240);
    StatusBar1 = Place(new TStatusBar(this), 0, 263, 566, 25);

    // Work lists and flags of other handlers, placed below the client area.
    ListBox6 = Place(new QListWidget(this), 8, 312, 100, 40);
    ListBox7 = Place(new QListWidget(this), 112, 312, 100, 40);
    ListBox8 = Place(new QListWidget(this), 216, 312, 100, 40);
    DriveComboBox3 = Place(new QComboBox(this), 320, 312, 100);
    Label5 = Place(new TLabel(QStringLiteral("まもなくスタートします"), this), 8, 360);
    Label5->setFont(platform::DesignFont(platform::kFontPGothic, 12));
    {
        QPalette p = Label5->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        Label5->setPalette(p);
    }
    Label21 = Place(new TLabel(QStringLiteral("Label21"), this), 160, 360);
    CheckBox5 = Place(new QCheckBox(QStringLiteral("クリック時確認"), this), 240, 360, 120, 17);
    CheckBox5->setChecked(true);
    Button5 = Place(new QPushButton(QStringLiteral("Button5"), this), 380, 356, 75, 25);
    ComboBox1 = Place(new QComboBox(this), 8, 384, 145);
    ComboBox1->addItem(QStringLiteral("すべて検索する"));
    ComboBox1->addItem(QStringLiteral("右の数に限定する"));
    ComboBox1->setCurrentIndex(1);
    // The holders lie out of sight: hidden, the keyboard focus never wanders there and
    // assistive technology does not offer them as things on the screen.
    for (QWidget* holder : std::initializer_list<QWidget*>{ListBox6, ListBox7, ListBox8, DriveComboBox3, Label5, Label21,
                                                           CheckBox5, Button5, ComboBox1}) {
        holder->setFocusPolicy(Qt::NoFocus);
        holder->hide();
    }

    Timer1 = new TTimer(6000, false, this);
    Timer2 = new TTimer(1000, false, this);
    Timer3 = new TTimer(1000, true, this);
    Timer4 = new TTimer(5000, true, this);
    Timer5 = new TTimer(1000, false, this);
    Timer6 = new TTimer(2000, false, this);
    Timer1->OnTimer = [this] { Timer1Timer(); };
    Timer2->OnTimer = [this] { Timer2Timer(); };
    Timer3->OnTimer = [this] { Timer3Timer(); };
    Timer4->OnTimer = [this] { Timer4Timer(); };
    Timer5->OnTimer = [this] { Timer5Timer(); };
    Timer6->OnTimer = [this] { Timer6Timer(); };

    auto click = [this](auto* button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] {
            platform::Guarded([this, handler] { (this->*handler)(); });
        });
    };
    click(SpeedButton3, &TForm1::SpeedButton3Click);
    click(SpeedButton4, &TForm1::SpeedButton4Click);
    click(SpeedButton6, &TForm1::SpeedButton6Click);
    click(Button1, &TForm1::Button1Click);
    CheckListBox1->OnClickCheck = [this] { CheckListBox1ClickCheck(); };
    WirePlayerControls();
    click(SpeedButton1, &TForm1::SpeedButton1Click);
    click(SpeedButton2, &TForm1::SpeedButton2Click);
    click(CheckBox2, &TForm1::CheckBox2Click);
    // A chosen item runs both extension handlers, the chosen-item one first; typing only the
    // edited-text one. Text set by the program runs neither.
    connect(ComboBox2, &QComboBox::activated, this, [this] {
        platform::Guarded([this] {
            ComboBox2Select();
            ComboBox2Change();
        });
    });
    connect(ComboBox2->lineEdit(), &QLineEdit::textEdited, this,
            [this] { platform::Guarded([this] { ComboBox2Change(); }); });
    CreateFtpClient();
}

QSize TForm1::OuterSize() const { return platform::OuterSizeOf(size()); }

void TForm1::SetOuterHeight(int height) {
    setFixedSize(platform::ClientSizeOf(QSize(OuterSize().width(), height)));
}

void TForm1::FormCreate() {
    // Move into the working folder: the one the autostart registration recorded, or the data
    // folder when started from the menu. A failure is reported, and the window is set up all
    // the same so that it stays usable.
    try {
        platform::SettleWorkFolder(*platform::Current().registry, platform::CurrentStartPlace());
    } catch (...) {
        platform::ShowCurrentException();
    }
    AutoPlay = 0;
    SpeedButton5->setText(QStringLiteral("現在手動\r\nモードです").replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    MediaPlayer1->SetVisibleButtons({TMediaPlayer::btPlay, TMediaPlayer::btPause, TMediaPlayer::btStop});
    LastCursorPos = platform::Current().desktop->CursorPos();
    AutoSearchIndex = 0;
    WorkDir = platform::GetCurrentDir();
    ComboBox3->clear();
    for (const char* t : {"　すぐ開始する", "　５分後から開始する", "１０分後から開始する",
                          "１５分後から開始する", "２０分後から開始する", "２５分後から開始する",
                          "３０分後から開始する"})
        ComboBox3->addItem(QString::fromUtf8(t));
    ComboBox3->setCurrentIndex(1);
    platform::CentreWindow(this);
    setAcceptDrops(true);
    AcceptsDroppedFiles = true;
}

std::string TForm1::WorkPath(const std::string& name) const { return platform::JoinPath(WorkDir, name); }

void TForm1::SpeedButton3Click() { SetOuterHeight(kLauncherHeight); }

void TForm1::SpeedButton4Click() { SetOuterHeight(kListHeight); }

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (AcceptsDroppedFiles && platform::CarriesLocalFiles(event->mimeData()))
        event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (AcceptsDroppedFiles && platform::CarriesLocalFiles(event->mimeData()))
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    if (!AcceptsDroppedFiles) return;
    std::vector<std::string> paths = platform::DroppedPaths(event->mimeData());
    event->acceptProposedAction();
    platform::Guarded([&] { WMDropFiles(paths); });
}
