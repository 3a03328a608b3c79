#include "download/TForm5.h"

#include <QCloseEvent>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QFontMetricsF>
#include <QAbstractTextDocumentLayout>
#include <QTextCursor>
#include <algorithm>
#include <cmath>

#include "app/CheckBoxes.h"
#include "app/CheckListBox.h"
#include "app/Controls.h"
#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/Catalogue.h"
#include "download/MainWindowHold.h"
#include "download/Site.h"
#include "download/Utf8.h"
#include "platform/Desktop.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "platform/Guard.h"
#include "platform/Services.h"

using download::Utf8;

namespace {
constexpr int kOuterWidth = 462, kOuterHeight = 607;
constexpr int kItemHeight = 12;
// The song list's height as laid out, the top of the button groups below it, and the rows the
// list keeps on the lowest screen.
constexpr int kListHeight = 353, kGroupTop = 476, kFewestRows = 8;

// Every song row is 12 pixels high, whatever the font's natural line height.
class FixedRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), kItemHeight};
    }
};

template <class W>
W* Place(W* w, int left, int top, int width, int height) {
    w->setGeometry(left, top, width, height);
    return w;
}

QLabel* MakeLabel(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setAccessibleName(text);
    return l;
}

QPushButton* MakeButton(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setAccessibleName(text);
    return b;
}

// Check boxes small enough for the 12-pixel rows: the style's own are taller than a row and
// would be cut at top and bottom.
class RowSizedIndicators : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_IndicatorWidth || metric == PM_IndicatorHeight) return kItemHeight - 2;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

}  // namespace

TSongList::TSongList(QWidget* parent) : QListWidget(parent) {
    setUniformItemSizes(true);
    setItemDelegate(new FixedRowDelegate(this));
    setTextElideMode(Qt::ElideNone);
    auto* indicators = new RowSizedIndicators;
    indicators->setParent(this);
    setStyle(indicators);
    connect(this, &QListWidget::clicked, this, [this](const QModelIndex& index) { SelectClickedEntry(this, index); });
}

void TSongList::keyPressEvent(QKeyEvent* event) {
    ReportKeyboardSelection(this, [this, event] { QListWidget::keyPressEvent(event); });
}

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
    // Nothing to type or select here, but the user may scroll back to older messages.
    setReadOnly(true);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    document()->setDocumentMargin(0);
    FitLines();
}

void TMemo::AddLine(const QString& line) {
    // Below the last line, which at first is the memo's one empty line.
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(QLatin1Char('\n') + line);
    ShowNewest();
}

void TMemo::ShowNewest() {
    // The bar lets the last line scroll up to the top; the newest lines fill the memo instead.
    const int lines = static_cast<int>(document()->documentLayout()->documentSize().height());
    verticalScrollBar()->setValue(std::max(0, lines - visibleLines_));
}

void TMemo::FitLines() {
    // One line of the memo's font, leading included; the document's own layout may not have
    // caught up with a font change yet.
    lineHeight_ = std::max(1, static_cast<int>(std::ceil(QFontMetricsF(font()).lineSpacing())));
    visibleLines_ = std::max(1, height() / lineHeight_);
    // The text area is exactly as high as the whole lines it shows; the rest is an even
    // margin above and below, so no line is ever half shown.
    const int spare = std::max(0, height() - visibleLines_ * lineHeight_);
    setViewportMargins(0, spare / 2, 0, spare - spare / 2);
    ShowNewest();
}

void TMemo::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    FitLines();
}

void TMemo::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) FitLines();
}

void TSongList::Add(const QString& line) {
    auto* item = new QListWidgetItem(line, this);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
}

QString TSongList::Text(int i) const { return item(i)->text(); }

bool TSongList::Checked(int i) const { return item(i)->checkState() == Qt::Checked; }

void TSongList::SetChecked(int i, bool checked) { item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked); }

TForm5::TForm5(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("DOWN LOAD LISTS"));
    // Secondary windows only hide; the program ends with the main window alone.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(platform::DesignFont(platform::kFontPMincho, 12));
    setFixedSize(platform::ClientSizeOf({kOuterWidth, kOuterHeight}));

    Label4 = Place(MakeLabel(Utf8("　ミルフォーネ　館長からの一言　"), this), 8, 6, 440, 20);
    Label4->setFont(platform::DesignFont(platform::kFontMincho, 15, true));
    Label5 = Place(MakeLabel(Utf8("URL   ") + QString::fromLatin1(download::kSiteUrl), this), 16, 28, 425, 16);

    Memo1 = Place(new TMemo(this), 16, 46, 425, 34);
    {
        QPalette p = Memo1->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        p.setColor(QPalette::Disabled, QPalette::Base, p.color(QPalette::Button));
        p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
        Memo1->setPalette(p);
        QFont f = font();
        f.setUnderline(true);
        Memo1->setFont(f);
    }
    Memo1->setAccessibleName(Utf8("館長からの一言"));
    NameScrollBars(Memo1, Memo1->accessibleName());
    Memo1->setPlainText(QString());  // one empty line

    Label6 = Place(MakeLabel(Utf8("演奏リスト"), this), 8, 86, 120, 16);
    {
        QFont f = font();
        f.setBold(true);
        Label6->setFont(f);
    }
    const QString header = QStringLiteral("   --- 曲名 ---                         -- 作曲 --                         -- 収録日 -- ");
    Label2 = Place(MakeLabel(header, this), 16, 104, 425, 14);
    Label2->setFont(platform::DesignFont(platform::kFontMincho, 12));

    CheckListBox1 = Place(new TSongList(this), 16, 118, 425, kListHeight);
    CheckListBox1->setFont(platform::DesignFont(platform::kFontMincho, 12));
    CheckListBox1->setAccessibleName(Utf8("演奏リスト"));
    NameScrollBars(CheckListBox1, CheckListBox1->accessibleName());

    GroupBox1 = Place(new QGroupBox(Utf8("▼入手したい曲を選択"), this), 8, kGroupTop, 226, 100);
    GroupBox1->setAccessibleName(GroupBox1->title());
    Label1 = Place(MakeLabel(Utf8("↑聴きたい項目にチェックし、"), GroupBox1), 6, 16, 216, 14);
    Label3 = Place(MakeLabel(Utf8("Downloadボタンを押してください"), GroupBox1), 6, 30, 216, 14);
    Button1 = Place(MakeButton(QStringLiteral("DOWNLOAD"), GroupBox1), 6, 46, 92, 24);
    Button1->setToolTip(Utf8("チェックのつけたものをダウンロードしつつ演奏します　中止は、DONWLOAD/CANCELボタンを押下します"));
    {
        QFont f = font();
        f.setBold(true);
        f.setUnderline(true);
        Button1->setFont(f);
    }
    Button2 = Place(MakeButton(Utf8("全てﾁｪｯｸ"), GroupBox1), 102, 46, 58, 24);
    Button3 = Place(MakeButton(Utf8("全て解除"), GroupBox1), 164, 46, 58, 24);
    Button5 = Place(MakeButton(Utf8("入手済み曲のチェックをはずす"), GroupBox1), 6, 72, 216, 24);

    GroupBox2 = Place(new QGroupBox(Utf8("▼全てを入手しつつ自動連続演奏"), this), 238, kGroupTop, 214, 100);
    GroupBox2->setAccessibleName(GroupBox2->title());
    Button4 = Place(MakeButton(Utf8("全てを入手しBGM連続演奏"), GroupBox2), 8, 20, 198, 44);
    Button4->setToolTip(Utf8("演奏リストにある曲を順番にダウンロードしつつ、連続演奏を開始します。"
                             "ダウンロードを中止するには、▼入手したい曲を選択のDOWNLOAD/CANCELボタンを押します"));
    {
        QFont f = font();
        f.setBold(true);
        f.setUnderline(true);
        Button4->setFont(f);
        SetButtonTextColour(Button4, QColor(0x80, 0, 0));  // maroon
    }
    CheckBox1 = Place(new QCheckBox(Utf8("入手済み曲は、ダウンロードしない"), GroupBox2), 4, 70, 208, 20);
    CheckBox1->setAccessibleName(CheckBox1->text());
    ClickableOverWholeArea(CheckBox1);
    CheckBox1->setChecked(true);

    auto click = [this](QPushButton* b, void (TForm5::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { platform::Guarded([&] { (this->*handler)(); }); });
    };
    click(Button1, &TForm5::Button1Click);
    click(Button2, &TForm5::Button2Click);
    click(Button3, &TForm5::Button3Click);
    click(Button4, &TForm5::Button4Click);
    click(Button5, &TForm5::Button5Click);

    FormCreate();
}

void TForm5::FormCreate() {
    FitScreen(platform::Current().desktop->AvailableArea().height());
    platform::CentreWindow(this);
}

void TForm5::FitScreen(int areaHeight) {
    // On a screen too low for the window (a high scale) the song list gives up rows, down to
    // a few, and everything below it moves up with the window's bottom: the buttons stay on
    // the screen and the list scrolls.
    const int shortfall = kOuterHeight - areaHeight;
    const int give = std::clamp(shortfall, 0, kListHeight - kFewestRows * kItemHeight - 2);
    CheckListBox1->resize(CheckListBox1->width(), kListHeight - give);
    GroupBox1->move(GroupBox1->x(), kGroupTop - give);
    GroupBox2->move(GroupBox2->x(), kGroupTop - give);
    setFixedSize(platform::ClientSizeOf({kOuterWidth, kOuterHeight - give}));
}

void TForm5::AddMemoLine(const QString& line) {
    Memo1->AddLine(line);
}

bool TForm5::Obtained(int index) const {
    if (!Form1 || index < 0 || index >= static_cast<int>(Form1->CatalogueFiles.size())) return false;
    const std::string& name = Form1->CatalogueFiles[static_cast<size_t>(index)];
    // An unsafe name never counts as obtained: it would be looked up outside the folder.
    if (download::SongNameProblem(name)) return false;
    return platform::FileExists(Form1->WorkPath(download::LocalName(name)));
}

void TForm5::Release() {
    Button1->setText(QStringLiteral("DOWNLOAD"));
    Button1->setAccessibleName(Button1->text());
    for (QWidget* w : {static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4),
                       static_cast<QWidget*>(Button5), static_cast<QWidget*>(CheckBox1)})
        w->setEnabled(true);
}

void TForm5::Hold() {
    Button1->setText(QStringLiteral("CANCEL"));
    Button1->setAccessibleName(Button1->text());
    for (QWidget* w : {static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4),
                       static_cast<QWidget*>(Button5), static_cast<QWidget*>(CheckBox1)})
        w->setEnabled(false);
}

void TForm5::StartRun() {
    Hold();
    Form1->Download.StartRun();
    Form1->Timer6->SetEnabled(true);
    Form1->activateWindow();
    Form1->setFocus();
}

void TForm5::CancelRun() {
    Release();
    Form1->Download.Cancel();
}

void TForm5::Button1Click() {
    if (Button1->text() == QStringLiteral("DOWNLOAD")) {
        const QString first = Utf8("演奏リストにチェックをつけた曲を順番にダウンロードしつつ、連続演奏を開始します。いいですか？");
        const QString second = CheckBox1->isChecked()
                                   ? Utf8("現在既に入手済み曲は、新たにﾀﾞｳﾝﾛｰﾄﾞせず、それを演奏する設定になっています")
                                   : Utf8("現在入手済み曲も新たにﾀﾞｳﾝﾛｰﾄﾞし、それを演奏する設定になっています");
        if (platform::Current().boxes->Show(platform::BoxKind::Confirmation, first + QLatin1Char('\n') + second) !=
            platform::BoxAnswer::Yes)
            return;
    }
    // The box may have stayed open over several ticks: look at the window afresh.
    if (!Form1) return;
    if (CheckBox1->isChecked()) {
        for (int i = 0; i < CheckListBox1->Count(); ++i) {
            if (CheckListBox1->Checked(i) && Obtained(i)) {
                CheckListBox1->SetChecked(i, false);
                Form1->CheckListBox1->Add(download::LocalName(Form1->CatalogueFiles[static_cast<size_t>(i)]));
            }
        }
    }
    if (Form1->AutoPlay == 0) Form1->SpeedButton5Click();
    if (Button1->text() != QStringLiteral("CANCEL"))
        StartRun();
    else
        CancelRun();
}

void TForm5::Button2Click() {
    for (int i = 0; i < CheckListBox1->Count(); ++i) CheckListBox1->SetChecked(i, true);
}

void TForm5::Button3Click() {
    for (int i = 0; i < CheckListBox1->Count(); ++i) CheckListBox1->SetChecked(i, false);
}

void TForm5::Button4Click() {
    if (platform::Current().boxes->Show(platform::BoxKind::Confirmation, Utf8("連続演奏を開始します。いいですね？")) !=
        platform::BoxAnswer::Yes)
        return;
    if (!Form1) return;
    if (Form1->AutoPlay == 0) Form1->SpeedButton5Click();
    Button2Click();
    if (CheckBox1->isChecked()) Button5Click();
    StartRun();
}

void TForm5::Button5Click() {
    for (int i = 0; i < CheckListBox1->Count(); ++i)
        if (CheckListBox1->Checked(i) && Obtained(i)) CheckListBox1->SetChecked(i, false);
}

void TForm5::FormCloseQuery() {
    if (!Form1) return;
    Form1->Button2->setEnabled(true);
    // With no song on its way the main window is the user's again.
    download::GiveMainWindowBack(*Form1, true);
}

void TForm5::closeEvent(QCloseEvent* event) {
    platform::Guarded([this] { FormCloseQuery(); });
    event->accept();  // hidden; a running download goes on
}
