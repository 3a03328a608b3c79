#pragma once
// Helpers the player benchmarks share: a real wait in the event loop, and an activation of
// one file as a click on it does.
#include <QEventLoop>
#include <QTimer>
#include <string>

#include "app/TForm1.h"
#include "platform/Guard.h"

namespace bench {

inline void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

inline void Activate(TForm1* form, const std::string& path) {
    form->CheckListBox1->Clear();
    form->CheckListBox1->Add(path);
    form->CheckListBox1->SetItemIndex(0);
    platform::Guarded([&] { form->CheckListBox1Click(); });
}

}  // namespace bench
