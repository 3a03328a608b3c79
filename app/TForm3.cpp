#include "app/TForm3.h"

#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>

#include "app/AppIcon.h"
#include "app/Controls.h"
#include "app/HelpText.h"
#include "platform/Fonts.h"
#include "platform/Desktop.h"

namespace {

// Every help line gets the same 12-pixel row, whatever the font's natural line height is:
// the whole help text then fits the list with the lines evenly spaced.
class FixedRowDelegate : public QStyledItemDelegate {
public:
    FixedRowDelegate(int rowHeight, QObject* parent) : QStyledItemDelegate(parent), rowHeight_(rowHeight) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), rowHeight_};
    }

private:
    int rowHeight_;
};

constexpr int kItemHeight = 12;

}  // namespace

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("ヘルプ"));
    setWindowIcon(HelpIcon());
    setFixedSize(580, 347);
    setFont(platform::DesignFont(platform::kFontPGothic, 12));
    // Closing the help window only hides it; it must never end the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(8, 8, 561, 281);
    ListBox1->setFont(platform::DesignFont(platform::kFontMincho, 12));
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new FixedRowDelegate(kItemHeight, ListBox1));
    ListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListBox1->setTextElideMode(Qt::ElideNone);
    ListBox1->addItems(HelpTextLines());
    ListBox1->setAccessibleName(QStringLiteral("ヘルプ"));
    NameScrollBars(ListBox1, ListBox1->accessibleName());

    Button1 = new QPushButton(QStringLiteral("確認"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(240, 296, 113, 49);
    Button1->setFont(platform::DesignFont(platform::kFontPMincho, 12));
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);

    FormCreate();
}

void TForm3::FormCreate() {
    platform::CentreWindow(this);
}

void TForm3::ShowHelp() {
    show();
    raise();
    activateWindow();
}

void TForm3::Button1Click() { hide(); }
