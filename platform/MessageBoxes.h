#pragma once
// Message boxes of the four kinds the program uses, with a scripted stand-in for tests.
#include <QString>
#include <deque>
#include <functional>
#include <vector>

namespace platform {

enum class BoxKind { Confirmation, Information, Error, Plain };
enum class BoxAnswer { Yes, No, Ok };

QString CaptionFor(BoxKind kind);

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box and waits for the answer; events go on being processed meanwhile.
    virtual BoxAnswer Show(BoxKind kind, const QString& text) = 0;
};

// Modal QMessageBox; its own event loop keeps timers and sockets running.
class QtMessageBoxes : public MessageBoxes {
public:
    BoxAnswer Show(BoxKind kind, const QString& text) override;
};

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
