#pragma once
// Message boxes of the four kinds the program uses.
#include <QString>
#include <memory>

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

// Shows `box` modally and waits for the answer: Yes only when its default button was
// clicked, No for any other way out of a confirmation, Ok for the other kinds.
BoxAnswer RunMessageBox(QMessageBox& box, BoxKind kind);

// Modal QMessageBox; its own event loop keeps timers and sockets running.
class QtMessageBoxes : public MessageBoxes {
public:
    BoxAnswer Show(BoxKind kind, const QString& text) override;
};

}  // namespace platform
