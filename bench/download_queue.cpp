// The whole download queue against the demo music site on loopback: 20 songs of 50 MB
// with continuous play on (fake media device), beside curl fetching the same files one
// connection each in the same run, halfway between the queue's songs, so that both meet
// the same disk write-back. The rounds alternate which of the two fetches a song first.
//
//   download_queue <site host:port> <site folder> [rounds]
//
// Prints per round the time spent in the transfers (connect, log-in and download of each
// song) and curl's, the rest of the run and its Timer6 ticks, the longest gap between two
// event-loop turns, and the CPU share while the run waits between songs.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchServices.h"
#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/Site.h"
#include "download/TForm5.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "platform/Services.h"
#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/FakeKeyState.h"
#include "tests/fakes/FakeMedia.h"
#include "tests/fakes/FakeMessageBoxes.h"

namespace {

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct QueueResult {
    double transfers = 0, wall = 0, maxGapMs = 0, idleCpu = 0, idleWall = 0;
    int ticks = 0, songs = 0;
    std::vector<double> perSong;
    std::vector<double> curlSongs;  // curl's own time for each song, in the same run
    double curl = 0;
};

// Shortest, median and longest of the songs' times, in ms.
std::string Spread(const std::vector<double>& times) {
    if (times.empty()) return "-";
    std::vector<double> v = times;
    std::sort(v.begin(), v.end());
    char text[96];
    std::snprintf(text, sizeof text, "%.0f/%.0f/%.0f ms", v.front() * 1000, Median(v) * 1000, v.back() * 1000);
    return text;
}

// curl's fetches are due every 4 s like the queue's songs (one song every two 2-second ticks),
// 2 s after the queue's song, or 2 s before it when curl goes first. Its own time_total is
// counted: connect, log-in and data, as in the queue's tick.
QueueResult RunQueue(const std::string& site, const std::string& work, bool curlFirst) {
    QueueResult r;
    ::sync();  // the last run's files are on disk: its write-back does not fall into this one
    TForm1* form = Form1;
    form->CheckListBox1->Clear();
    auto* boxes = static_cast<platform::FakeMessageBoxes*>(platform::Current().boxes.get());
    boxes->fallback = platform::BoxAnswer::Yes;

    // Catalogue first, then the whole list with continuous play.
    form->Button2->setEnabled(true);
    form->Button2Click();
    form->Timer5Timer();
    if (form->AutoPlay) form->SpeedButton5Click();

    // Wrap the tick to time the start-song ticks (they hold the transfer) and count ticks.
    auto original = form->Timer6->OnTimer;
    form->Timer6->OnTimer = [&, original] {
        ++r.ticks;
        bool starting = form->DownloadState == download::Phase::NextSong && !form->Download.Busy();
        double t0 = Now();
        original();
        if (starting && form->DownloadIndex < Form5->CheckListBox1->Count()) {
            r.transfers += Now() - t0;
            r.perSong.push_back(Now() - t0);
            ++r.songs;
        }
    };

    // Event-loop probe: the longest gap between two turns, and CPU while no song is in flight.
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    double last = Now(), idleCpu0 = 0, idleWall0 = 0;
    bool idle = false;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        double now = Now();
        r.maxGapMs = std::max(r.maxGapMs, (now - last) * 1000 - probe.interval());
        last = now;
        bool nowIdle = !form->Download.Busy();
        if (nowIdle && !idle) {
            idleCpu0 = CpuSeconds();
            idleWall0 = now;
        } else if (!nowIdle && idle) {
            r.idleCpu += CpuSeconds() - idleCpu0;
            r.idleWall += now - idleWall0;
        }
        idle = nowIdle;
    });
    QEventLoop loop;
    QTimer done;
    const std::string curlDir = work + "/curl";
    std::filesystem::create_directories(curlDir);
    std::vector<std::unique_ptr<QProcess>> fetches;
    const int songs = Form5->CheckListBox1->Count();  // the catalogue's, fetched above
    int curlLeft = songs;
    for (int i = 1; i <= songs; ++i) {
        QTimer::singleShot((curlFirst ? 0 : 2000) + (i - 1) * 4000, [&, i] {
            auto& p = fetches.emplace_back(std::make_unique<QProcess>());
            char name[32];
            std::snprintf(name, sizeof name, "bgm%02d.wav", i);
            QObject::connect(p.get(), &QProcess::finished, [&, proc = p.get(), i](int code) {
                bool ok = false;
                double t = QString::fromUtf8(proc->readAllStandardOutput()).toDouble(&ok);
                if (code != 0 || !ok) std::printf("  curl failed for song %d\n", i);
                r.curl += t;
                r.curlSongs.push_back(t);
                --curlLeft;
            });
            const std::string login = std::string(download::kSiteUser) + ":" + download::kSitePassword;
            p->start("curl", {"-s", "-S", "--user", QString::fromStdString(login),
                              QString::fromStdString("ftp://" + site + "/" + name), "-o",
                              QString::fromStdString(curlDir + "/" + name), "-w", "%{time_total}"});
        });
    }
    double start = Now(), end = 0;
    bool started = false;
    QTimer::singleShot(curlFirst ? 2000 : 0, [&] {
        start = Now();
        started = true;
        Form5->Button4Click();
    });
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (!started || form->Timer6->Enabled()) return;
        if (end == 0) end = Now();
        if (curlLeft == 0) loop.quit();
    });
    last = Now();
    probe.start(10);
    done.start(50);
    loop.exec();
    probe.stop();
    if (idle) {
        r.idleCpu += CpuSeconds() - idleCpu0;
        r.idleWall += Now() - idleWall0;
    }
    r.wall = end - start;
    std::filesystem::remove_all(curlDir);
    form->Timer6->OnTimer = original;
    for (int i = 0; i < Form5->CheckListBox1->Count(); ++i)
        if (Form5->CheckListBox1->Checked(i)) std::printf("  song %d was not fetched\n", i + 1);
    std::filesystem::remove_all(work + "/songs-done");
    for (auto& e : std::filesystem::directory_iterator(work))
        if (e.path().extension() == ".wav") std::filesystem::remove(e.path());
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s host:port site-folder [rounds]\n", argv[0]);
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string site = argv[1];
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    setenv("TESSALY_SITE", site.c_str(), 1);
    QApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    QTemporaryDir tmp(QString::fromStdString(std::string(argv[2]) + "/../bench-work-XXXXXX"));
    std::string work = tmp.path().toStdString();
    platform::SetCurrentDir(work);
    InstallBenchServices(work);
    ApplicationWindows windows;

    std::vector<double> ratios;
    for (int round = 1; round <= rounds; ++round) {
        const bool curlFirst = round % 2 == 0;
        QueueResult q = RunQueue(site, work, curlFirst);
        const double curl = q.curl;
        const std::vector<double>& curlSongs = q.curlSongs;
        double ratio = curl / q.transfers;
        ratios.push_back(ratio);
        double rest = q.wall - q.transfers;
        // Each song: the tick that starts it, then the tick that completes it; one more tick
        // finds the end of the list. Each waits up to one 2-second interval.
        double bound = (2.0 * q.songs + 1) * 2.0 + 0.5;
        std::printf("round %d (%s first): %d songs, transfers %.2f s (%.0f MB/s), curl %.2f s (%.0f MB/s), speed ratio %.2f\n",
                    round, curlFirst ? "curl" : "queue", q.songs, q.transfers, q.songs * 50 / q.transfers, curl, q.songs * 50 / curl, ratio);
        std::printf("  one song (shortest/median/longest): queue %s, curl %s\n", Spread(q.perSong).c_str(),
                    Spread(curlSongs).c_str());
        std::printf("  rest of the run %.1f s, %d ticks (%.2f per song); bound %.1f s: %s\n", rest, q.ticks,
                    q.songs ? double(q.ticks) / q.songs : 0.0, bound, rest <= bound ? "ok" : "EXCEEDED");
        std::printf("  longest event-loop gap %.1f ms (%s); CPU between songs %.2f%% of %.1f s\n", q.maxGapMs,
                    q.maxGapMs < 50 ? "ok" : "OVER 50 ms", q.idleWall > 0 ? 100 * q.idleCpu / q.idleWall : 0.0,
                    q.idleWall);
        std::fflush(stdout);
    }
    std::printf("median speed ratio (curl time / transfer time, >= 1 means at least as fast): %.2f\n", Median(ratios));
    return 0;
}
