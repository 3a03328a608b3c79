#pragma once
// Shared test set-up: fake platform services and a temporary working folder.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <string>

#include "app/TForm1.h"
#include "platform/Files.h"
#include "platform/Services.h"

class PlatformFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        dir = tmp_.path().toStdString();
        oldCwd_ = platform::GetCurrentDir();
        platform::SetCurrentDir(dir);
        auto& s = platform::Current();
        auto b = std::make_unique<platform::FakeMessageBoxes>();
        boxes = b.get();
        s.boxes = std::move(b);
        auto d = std::make_unique<platform::FakeDesktop>();
        desktop = d.get();
        s.desktop = std::move(d);
        auto r = std::make_unique<platform::FileRegistry>(dir + "/config/tessaly", dir + "/config/autostart",
                                                          "/usr/bin/tessaly");
        registry = r.get();
        s.registry = std::move(r);
    }
    void TearDown() override { platform::SetCurrentDir(oldCwd_); }

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
    platform::FakeMessageBoxes* boxes = nullptr;
    platform::FakeDesktop* desktop = nullptr;
    platform::FileRegistry* registry = nullptr;

private:
    QTemporaryDir tmp_;
    std::string oldCwd_;
};

// A main window on fake services in a temporary working folder.
class MainWindowFixture : public PlatformFixture {
protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        form = std::make_unique<TForm1>();
    }
    void TearDown() override {
        form.reset();
        PlatformFixture::TearDown();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        for (int i = 0; i < form->CheckListBox1->Count(); ++i) out.push_back(form->CheckListBox1->Text(i));
        return out;
    }

    std::unique_ptr<TForm1> form;
};
