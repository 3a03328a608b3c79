#pragma once
// Shared test set-up: every platform stand-in replaced by its fake for the length of a test,
// a temporary working folder, and the program's windows.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <string>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/Files.h"
#include "platform/Services.h"
#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/FakeDrives.h"
#include "tests/fakes/FakeKeyState.h"
#include "tests/fakes/FakeMedia.h"
#include "tests/fakes/FakeMessageBoxes.h"
#include "tests/fakes/FakePrinting.h"
#include "tests/fakes/FakeProgramStarter.h"

// Installs a fake for every platform service and puts the previous ones back on
// destruction, so no test sees another test's stand-ins or the real system.
class FakeServices {
public:
    explicit FakeServices(const std::string& configDir) {
        platform::Services& s = platform::Current();
        saved_ = std::move(s);
        s = platform::Services{};
        s.boxes = Own(boxes);
        s.desktop = Own(desktop);
        s.registry = std::make_unique<platform::FileRegistry>(configDir + "/tessaly", configDir + "/autostart",
                                                              "/usr/bin/tessaly");
        registry = static_cast<platform::FileRegistry*>(s.registry.get());
        s.drives = Own(drives);
        s.keys = Own(keys);
        s.media = Own(media);
        s.waveOut = Own(waveOut);
        s.programs = Own(programs);
        s.printing = Own(printing);
    }
    ~FakeServices() { platform::Current() = std::move(saved_); }
    FakeServices(const FakeServices&) = delete;
    FakeServices& operator=(const FakeServices&) = delete;

    platform::FakeMessageBoxes* boxes = nullptr;
    platform::FakeDesktop* desktop = nullptr;
    platform::FileRegistry* registry = nullptr;
    platform::FakeDrives* drives = nullptr;
    platform::FakeKeyState* keys = nullptr;
    platform::FakeMediaDevice* media = nullptr;
    platform::FakeWaveOut* waveOut = nullptr;
    platform::FakeProgramStarter* programs = nullptr;
    platform::FakePrinting* printing = nullptr;

private:
    template <class T>
    static std::unique_ptr<T> Own(T*& raw) {
        auto p = std::make_unique<T>();
        raw = p.get();
        return p;
    }
    platform::Services saved_;
};

class PlatformFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        dir = tmp_.path().toStdString();
        oldCwd_ = platform::GetCurrentDir();
        platform::SetCurrentDir(dir);
        fakes = std::make_unique<FakeServices>(dir + "/config");
        boxes = fakes->boxes;
        desktop = fakes->desktop;
        registry = fakes->registry;
    }
    void TearDown() override {
        fakes.reset();
        platform::SetCurrentDir(oldCwd_);
    }

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::string dir;
    std::unique_ptr<FakeServices> fakes;
    platform::FakeMessageBoxes* boxes = nullptr;
    platform::FakeDesktop* desktop = nullptr;
    platform::FileRegistry* registry = nullptr;

private:
    QTemporaryDir tmp_;
    std::string oldCwd_;
};

// All five windows, created in the program's order, on fake services in a temporary
// working folder. `form` is the main window.
class MainWindowFixture : public PlatformFixture {
protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        windows = std::make_unique<ApplicationWindows>();
        form = Form1;
    }
    void TearDown() override {
        windows.reset();
        form = nullptr;
        PlatformFixture::TearDown();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        for (int i = 0; i < form->CheckListBox1->Count(); ++i) out.push_back(form->CheckListBox1->Text(i));
        return out;
    }

    std::unique_ptr<ApplicationWindows> windows;
    TForm1* form = nullptr;
};
