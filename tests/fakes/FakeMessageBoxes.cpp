#include "tests/fakes/FakeMessageBoxes.h"

namespace platform {

BoxAnswer FakeMessageBoxes::Show(BoxKind kind, const QString& text) {
    shown.push_back({kind, CaptionFor(kind), text});
    Shown copy = shown.back();
    if (whileWaiting) whileWaiting(copy);
    if (kind != BoxKind::Confirmation) return BoxAnswer::Ok;
    if (answers.empty()) return fallback;
    BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
}

std::vector<QString> FakeMessageBoxes::TextsOf(BoxKind kind) const {
    std::vector<QString> out;
    for (const auto& s : shown)
        if (s.kind == kind) out.push_back(s.text);
    return out;
}

}  // namespace platform
