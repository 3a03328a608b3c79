// The media device in its module: loaded by the first media open, and a module that is
// missing or is not ours fails that open as an unreadable medium does, never the program.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <QDir>
#include <algorithm>
#include <fstream>

#include "Fixtures.h"
#include "support/MediaMaker.h"
#include "support/WaitUntil.h"
#include "platform/Guard.h"
#include "media/MediaModule.h"

namespace {

using platform::MediaOutputs;
using platform::ModuleMediaDevice;

using testwait::WaitUntil;

class MediaModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        wav = mediamaker::Make(Dir(), "wav", 1.0);
        ASSERT_FALSE(wav.empty());
    }
    std::string Dir() const { return tmp.path().toStdString(); }
    QTemporaryDir tmp;
    std::string wav;
};

TEST_F(MediaModuleTest, TheFirstOpenLoadsTheModuleBesideTheProgramAndItPlays) {
    EXPECT_EQ(platform::MediaModulePath(), std::string(TESSALY_BINARY_DIR) + "/tessaly-media.so");
    ModuleMediaDevice device({}, MediaOutputs::Null);
    // Before any open the player's buttons and timer reach a device with nothing loaded.
    device.Play();
    device.Pause();
    device.Stop();
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Position(), 0);
    EXPECT_EQ(device.Length(), 0);
    EXPECT_FALSE(device.Loaded());

    device.Open(wav);
    ASSERT_TRUE(device.Loaded());
    EXPECT_TRUE(device.IsOpen());
    EXPECT_NEAR(static_cast<double>(device.Length()), 1000.0, 150.0);
    device.Play();
    EXPECT_TRUE(WaitUntil([&] { return device.Position() > 100; }, 5000));
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    // The loaded module's failures are the medium's.
    EXPECT_THROW(device.Open(Dir() + "/missing.wav"), EMCIDeviceError);
    EXPECT_TRUE(device.Loaded());
    EXPECT_FALSE(device.IsOpen());
    device.Open(wav);
    EXPECT_TRUE(device.IsOpen());
}

TEST_F(MediaModuleTest, AMissingOrForeignModuleFailsEachOpenAndSaysWhy) {
    const std::string text = Dir() + "/text/tessaly-media.so";
    QDir().mkpath(QString::fromStdString(Dir() + "/text"));
    std::ofstream(text) << "not a library\n";
    // A real shared library, but not ours: the C library's mathematics.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(static_cast<double (*)(double)>(&::cos)), &info), 0);
    const struct {
        const char* name;
        std::string path;
        const char* says;
    } rows[] = {
        {"missing", Dir() + "/none/tessaly-media.so", "tessaly-media.so"},
        {"not a library", text, "tessaly-media.so"},
        {"another library", info.dli_fname, "not a media module"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ModuleMediaDevice device(row.path, MediaOutputs::Null);
        for (int attempt = 0; attempt < 2; ++attempt) {
            testing::internal::CaptureStderr();
            EXPECT_THROW(device.Open(wav), EMCIDeviceError);
            const std::string err = testing::internal::GetCapturedStderr();
            EXPECT_NE(err.find("tessaly: the media module cannot be used"), std::string::npos) << err;
            EXPECT_NE(err.find(row.says), std::string::npos) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
            EXPECT_FALSE(device.Loaded());
            EXPECT_FALSE(device.IsOpen());
            EXPECT_EQ(device.Length(), 0);
        }
    }
}

// The volume the user set before anything was played holds for the module loaded later,
// and later changes reach it too.
TEST_F(MediaModuleTest, TheVolumeSetBeforeTheModuleReachesItsPlayers) {
    platform::ModuleWaveOut waveOut;
    waveOut.SetVolume(0x12345678u);
    ModuleMediaDevice device({}, MediaOutputs::Null);
    device.Open(wav);
    ASSERT_TRUE(device.Loaded());
    void* module = ::dlopen(platform::MediaModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    auto applied = reinterpret_cast<std::uint32_t (*)()>(::dlsym(module, "tessaly_media_volume"));
    ASSERT_NE(applied, nullptr);
    EXPECT_EQ(applied(), 0x12345678u);
    EXPECT_EQ(waveOut.Volume(), 0x12345678u);
    waveOut.SetVolume(0x7F007F00u);
    EXPECT_EQ(applied(), 0x7F007F00u);
    waveOut.SetVolume(0xFFFFFFFFu);
    EXPECT_EQ(applied(), 0xFFFFFFFFu);
    ::dlclose(module);  // the count taken by the look-up above; the module stays
}

class ModuleActivationTest : public MainWindowFixture {
protected:
    void Activate(const std::string& path) {
        form->CheckListBox1->Clear();
        form->CheckListBox1->Add(path);
        form->CheckListBox1->SetItemIndex(0);
        platform::Guarded([&] { form->CheckListBox1Click(); });
    }
};

// A media file as the first thing the user opens: the module comes then, and the player
// shows; without the module the player's own box says the file could not be opened.
TEST_F(ModuleActivationTest, TheFirstMediaOpenLoadsTheModuleAndAMissingOneIsTheOpenFailureBox) {
    const std::string wav = mediamaker::Make(dir, "wav", 1.0);
    ASSERT_FALSE(wav.empty());

    auto missing = std::make_unique<ModuleMediaDevice>(dir + "/gone/tessaly-media.so", MediaOutputs::Null);
    platform::Current().media = std::move(missing);
    testing::internal::CaptureStderr();
    Activate(wav);
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(boxes->TextsOf(platform::BoxKind::Error).size(), 1u);
    EXPECT_EQ(boxes->TextsOf(platform::BoxKind::Error)[0], QStringLiteral("ご指定のファイルは壊れている\r\n可能性があります。"));
    EXPECT_NE(err.find("media module"), std::string::npos) << err;
    EXPECT_FALSE(form->MediaPlayer1->isVisibleTo(form));
    EXPECT_FALSE(form->Timer2->Enabled());

    boxes->shown.clear();
    auto real = std::make_unique<ModuleMediaDevice>(std::string(), MediaOutputs::Null);
    ModuleMediaDevice* device = real.get();
    platform::Current().media = std::move(real);
    EXPECT_FALSE(device->Loaded());
    Activate(wav);
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_TRUE(device->Loaded());
    EXPECT_TRUE(device->IsOpen());
    EXPECT_TRUE(form->MediaPlayer1->isVisibleTo(form));
    form->Timer2Timer();
    EXPECT_EQ(form->Label9->text(), QStringLiteral("残り100.0%"));
}

}  // namespace
