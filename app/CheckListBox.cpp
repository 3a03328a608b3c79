#include "app/CheckListBox.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMetaObject>

#include "platform/Exceptions.h"
#include "platform/Guard.h"
#include "app/NameDisplay.h"

CheckListModel::CheckListModel(QObject* parent) : QAbstractListModel(parent) {}

void CheckListModel::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw Exception("リストのインデックスが範囲を超えています (" + std::to_string(index) + ")");
}

void CheckListModel::Add(std::string_view path) {
    entries_.push_back({arena_.size(), static_cast<uint32_t>(path.size()), false});
    arena_.append(path);
    SchedulePublish();
}

void CheckListModel::SchedulePublish() {
    if (publishQueued_) return;
    publishQueued_ = true;
    QMetaObject::invokeMethod(this, [this] { Publish(); }, Qt::QueuedConnection);
}

void CheckListModel::Publish() {
    publishQueued_ = false;
    if (published_ >= Count()) return;
    beginInsertRows(QModelIndex(), published_, Count() - 1);
    published_ = Count();
    endInsertRows();
}

void CheckListModel::Clear() {
    beginResetModel();
    arena_.clear();
    arena_.shrink_to_fit();
    entries_.clear();
    entries_.shrink_to_fit();
    published_ = 0;
    checkedCount_ = 0;
    garbage_ = 0;
    endResetModel();
}

std::string CheckListModel::Text(int index) const {
    CheckIndex(index);
    const Entry& e = entries_[static_cast<size_t>(index)];
    return arena_.substr(e.offset, e.length);
}

void CheckListModel::SetText(int index, std::string_view path) {
    CheckIndex(index);
    Entry& e = entries_[static_cast<size_t>(index)];
    garbage_ += e.length;
    e.offset = arena_.size();
    e.length = static_cast<uint32_t>(path.size());
    arena_.append(path);
    if (index < published_) emit dataChanged(createIndex(index, 0), createIndex(index, 0));
    CompactIfWasteful();
}

bool CheckListModel::Checked(int index) const {
    CheckIndex(index);
    return entries_[static_cast<size_t>(index)].checked;
}

void CheckListModel::SetChecked(int index, bool checked) {
    CheckIndex(index);
    Entry& e = entries_[static_cast<size_t>(index)];
    if (e.checked == checked) return;
    e.checked = checked;
    checkedCount_ += checked ? 1 : -1;
    if (index < published_)
        emit dataChanged(createIndex(index, 0), createIndex(index, 0), {Qt::CheckStateRole});
}

void CheckListModel::Delete(int index) {
    CheckIndex(index);
    Publish();
    beginRemoveRows(QModelIndex(), index, index);
    const Entry& e = entries_[static_cast<size_t>(index)];
    garbage_ += e.length;
    if (e.checked) --checkedCount_;
    entries_.erase(entries_.begin() + index);
    published_ = Count();
    endRemoveRows();
    CompactIfWasteful();
}

void CheckListModel::CompactIfWasteful() {
    // Overwritten and deleted texts stay in the arena until they outweigh the live ones.
    if (garbage_ < 4096 || garbage_ * 2 < arena_.size()) return;
    std::string fresh;
    fresh.reserve(arena_.size() - garbage_);
    for (Entry& e : entries_) {
        uint64_t at = fresh.size();
        fresh.append(arena_, e.offset, e.length);
        e.offset = at;
    }
    arena_.swap(fresh);
    garbage_ = 0;
}

int CheckListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

QVariant CheckListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= published_) return {};
    const Entry& e = entries_[static_cast<size_t>(index.row())];
    switch (role) {
        // Names that are not UTF-8 show as Shift-JIS or escaped; the entry keeps the bytes.
        // No tooltip of its own: the list's hint shows over every entry.
        case Qt::DisplayRole:
            return QString::fromStdString(platform::DisplayPath(std::string_view(arena_).substr(e.offset, e.length)));
        case Qt::CheckStateRole: return e.checked ? Qt::Checked : Qt::Unchecked;
        default: return {};
    }
}

bool CheckListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= published_) return false;
    SetChecked(index.row(), value.toInt() == Qt::Checked);
    if (onUserCheck) platform::Guarded(onUserCheck);
    return true;
}

Qt::ItemFlags CheckListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
}

TCheckListBox::TCheckListBox(QWidget* parent) : QListView(parent), model_(new CheckListModel(this)) {
    setModel(model_);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTextElideMode(Qt::ElideNone);
    setLayoutMode(QListView::SinglePass);
    model_->onUserCheck = [this] {
        if (OnClickCheck) OnClickCheck();
    };
    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) {
        SelectClickedEntry(this, index);
        if (OnClick) platform::Guarded(OnClick);
    });
}

void TCheckListBox::keyPressEvent(QKeyEvent* event) {
    ReportKeyboardSelection(this, [this, event] { QListView::keyPressEvent(event); });
}

namespace {

int SelectedRow(const QAbstractItemView* view) {
    const QItemSelectionModel* sel = view->selectionModel();
    if (!sel) return -1;
    const QModelIndex cur = sel->currentIndex();
    return cur.isValid() && sel->isSelected(cur) ? cur.row() : -1;
}

}  // namespace

void ReportKeyboardSelection(QAbstractItemView* view, const std::function<void()>& base) {
    const int before = SelectedRow(view);
    base();
    const int after = SelectedRow(view);
    if (after >= 0 && after != before) emit view->clicked(view->model()->index(after, 0));
}

void SelectClickedEntry(QAbstractItemView* view, const QModelIndex& clicked) {
    // A press on the check box toggles the mark and leaves the selection as it was, so a
    // first click there would leave the list with no selected entry.
    if (!clicked.isValid() || SelectedRow(view) == clicked.row()) return;
    view->selectionModel()->setCurrentIndex(clicked, QItemSelectionModel::ClearAndSelect);
}

void TCheckListBox::Clear() { model_->Clear(); }

void TCheckListBox::Delete(int index) { model_->Delete(index); }

int TCheckListBox::ItemIndex() const {
    QModelIndex cur = selectionModel()->currentIndex();
    if (!cur.isValid() || !selectionModel()->isSelected(cur)) return -1;
    return cur.row();
}

void TCheckListBox::SetItemIndex(int index) {
    if (index < 0 || index >= Count()) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    model_->Publish();
    QModelIndex idx = model_->index(index, 0);
    selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
    scrollTo(idx);
}

void TCheckListBox::Repaint() {
    model_->Publish();
    repaint();
}
