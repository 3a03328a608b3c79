#pragma once
// Test double of the message boxes: scripted answers and a record of every box.
#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "platform/MessageBoxes.h"

namespace platform {

// Scripted answers and a record of every box shown.
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Shown {
        BoxKind kind;
        QString caption;
        QString text;
    };

    BoxAnswer Show(BoxKind kind, const QString& text) override;

    // Answers for confirmation boxes, used in order; when they run out, `fallback` is given.
    std::deque<BoxAnswer> answers;
    BoxAnswer fallback = BoxAnswer::No;
    // Run while a box "waits", as the user's time in front of the box.
    std::function<void(const Shown&)> whileWaiting;
    std::vector<Shown> shown;

    std::vector<QString> TextsOf(BoxKind kind) const;
};

}  // namespace platform
