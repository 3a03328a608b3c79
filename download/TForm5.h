#pragma once
// The download list window: the music site's songs to pick from, and the run toggle.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <string>

// The song list: one display line and one check mark per catalogue song.
class TSongList : public QListWidget {
    Q_OBJECT
public:
    explicit TSongList(QWidget* parent = nullptr);
    int Count() const { return count(); }
    void Add(const QString& line);  // unchecked
    void Clear() { clear(); }
    QString Text(int i) const;
    bool Checked(int i) const;
    void SetChecked(int i, bool checked);
    int ItemIndex() const { return currentRow(); }
    void SetItemIndex(int i) { setCurrentRow(i); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The curator's messages: read-only, one line per message, scrolled by whole lines so that
// no line is ever cut, and following the newest message.
class TMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TMemo(QWidget* parent = nullptr);
    void AddLine(const QString& line);
    // Whole lines the memo shows at once.
    int VisibleLines() const { return visibleLines_; }
    int LineHeight() const { return lineHeight_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FitLines();
    void ShowNewest();
    int lineHeight_ = 1;
    int visibleLines_ = 1;
};

class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
    void FormCreate();
    // Fits the window into an available area of that height.
    void FitScreen(int areaHeight);

    QLabel* Label4;  // curator's heading
    QLabel* Label5;  // site address
    TMemo* Memo1;  // the curator's messages
    QLabel* Label6;  // "演奏リスト" heading
    QLabel* Label2;  // column header of the song list
    TSongList* CheckListBox1;  // the catalogue's songs, checked to be fetched
    QGroupBox* GroupBox1;  // "▼入手したい曲を選択": fetch the checked songs
    QLabel* Label1;  // first line of the instruction
    QLabel* Label3;  // second line of the instruction
    QPushButton* Button1;  // DOWNLOAD / CANCEL: the run toggle
    QPushButton* Button2;  // check all
    QPushButton* Button3;  // uncheck all
    QPushButton* Button5;  // uncheck the songs already obtained
    QGroupBox* GroupBox2;  // "▼全てを入手しつつ自動連続演奏": fetch everything
    QPushButton* Button4;  // take everything, with continuous play
    QCheckBox* CheckBox1;  // skip the songs already obtained

    void Button1Click();  // DOWNLOAD / CANCEL
    void Button2Click();  // check all
    void Button3Click();  // uncheck all
    void Button4Click();  // take everything, with continuous play
    void Button5Click();  // uncheck the songs already obtained
    void FormCloseQuery();

    // A song whose file is already in the working folder.
    bool Obtained(int index) const;
    // Appends a line to the memo.
    void AddMemoLine(const QString& line);
    // The run toggle and the five run controls: released (idle) or held (downloading).
    void Release();
    void Hold();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void StartRun();
    void CancelRun();
};
