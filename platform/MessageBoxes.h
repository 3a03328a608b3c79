#pragma once
// Message boxes of the four kinds the program uses, with a scripted stand-in for tests.
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QMessageBox;
class QWidget;

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

// The box of one kind with its caption, icon and buttons. The text is shown as plain text,
// line breaks and all: it often holds a file name, which must read as it is.
std::unique_ptr<QMessageBox> MakeMessageBox(BoxKind kind, const QString& text, QWidget* parent = nullptr);

// Modal QMessageBox; its own event loop keeps timers and sockets running.
class QtMessageBoxes : public MessageBoxes {
public:
    BoxAnswer Show(BoxKind kind, const QString& text) override;

    // For runs nobody watches: when `answerAfterMs` is 0 or more, every box is handed to
    // `capture` once it is up and then closed as its escape button closes it (No or OK),
    // so no box waits for an answer that never comes.
    int answerAfterMs = -1;
    std::function<void(QMessageBox&)> capture;
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
