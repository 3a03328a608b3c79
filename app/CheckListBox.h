#pragma once
// The main check list: one full path and one check mark per entry. Entries are kept as
// bytes in one arena, so a million paths cost little more than their text; the view asks
// only for the rows it paints.
#include <QAbstractListModel>
#include <QKeyEvent>
#include <QListView>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CheckListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CheckListModel(QObject* parent = nullptr);

    int Count() const { return static_cast<int>(entries_.size()); }
    void Add(std::string_view path);
    void Clear();
    std::string Text(int index) const;
    void SetText(int index, std::string_view path);
    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
    void Delete(int index);
    bool AnyChecked() const { return checkedCount_ > 0; }

    // Announces appended rows to the view; appends are batched until the view needs them.
    void Publish();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Called after the user changed a check mark.
    std::function<void()> onUserCheck;

private:
    struct Entry {
        uint64_t offset;
        uint32_t length;
        bool checked;
    };
    void CheckIndex(int index) const;
    void SchedulePublish();
    void CompactIfWasteful();

    std::string arena_;
    std::vector<Entry> entries_;
    int published_ = 0;
    int checkedCount_ = 0;
    bool publishQueued_ = false;
    uint64_t garbage_ = 0;
};

class TCheckListBox : public QListView {
    Q_OBJECT
public:
    explicit TCheckListBox(QWidget* parent = nullptr);

    int Count() const { return model_->Count(); }
    void Add(std::string_view path) { model_->Add(path); }
    void Clear();
    std::string Text(int index) const { return model_->Text(index); }
    void SetText(int index, std::string_view path) { model_->SetText(index, path); }
    bool Checked(int index) const { return model_->Checked(index); }
    void SetChecked(int index, bool checked) { model_->SetChecked(index, checked); }
    bool AnyChecked() const { return model_->AnyChecked(); }
    void Delete(int index);
    // The selected entry, -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int index);
    // Paints the list at once, for handlers that do not return to the event loop.
    void Repaint();

    CheckListModel* Model() const { return model_; }

    // User changed a check mark / clicked an entry.
    std::function<void()> OnClickCheck;
    std::function<void()> OnClick;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    CheckListModel* model_;
};

// Keyboard use of a check list as a list box has it: a key that moves the selection (arrows,
// Home, End, page keys, a typed first letter) reports the newly selected entry through the
// view's clicked signal, as a mouse click on it would. `base` runs the view's own handling.
void ReportKeyboardSelection(QAbstractItemView* view, const std::function<void()>& base);

// A click anywhere on an entry, its check box included, makes that entry the selected one
// before the click is reported.
void SelectClickedEntry(QAbstractItemView* view, const QModelIndex& clicked);
