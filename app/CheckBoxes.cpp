#include "app/CheckBoxes.h"

#include <QCheckBox>
#include <QProxyStyle>
#include <QStyleOption>

namespace {

class WholeAreaClick : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override {
        if (element == SE_CheckBoxClickRect && option) return option->rect;
        return QProxyStyle::subElementRect(element, option, widget);
    }
};

}  // namespace

void ClickableOverWholeArea(QCheckBox* box) {
    auto* style = new WholeAreaClick;
    style->setParent(box);
    box->setStyle(style);
}
