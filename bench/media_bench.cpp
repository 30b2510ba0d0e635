// The live pipeline's costs: per frame for decode, overlay (the recording mark),
// display conversion and the window blit at three picture sizes; one camera end to
// end (client CPU per second of video, next to `ffmpeg -threads 1` decoding the same
// stream); and the time from Open to the first picture on loopback.
//
// A plain program printing tables; it runs headless (Qt's offscreen platform).

#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/log_file.h"
#include "media/camera.h"
#include "media/decoder_stage.h"
#include "media/mixer_stage.h"
#include "media/video_output_widget.h"
#include "media/yuv_convert.h"
#include "platform/paths.h"
#include "support/annexb.h"
#include "support/h264_streams.h"
#include "support/temp_dir.h"
#include "transport/fake_forwarding_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;

// CPU seconds (user and system) of this thread or of the whole process, to the nanosecond.
double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}
constexpr clockid_t kThread = CLOCK_THREAD_CPUTIME_ID;
constexpr clockid_t kProcess = CLOCK_PROCESS_CPUTIME_ID;

struct Size {
    int width, height, frames;
    const char* bitrate;
};
constexpr Size kSizes[] = {{352, 288, 200, "512k"}, {704, 576, 200, "1500k"}, {1920, 1080, 100, "5000k"}};

std::string Encode(const testing_support::TempDir& dir, int width, int height, int frames, const char* bitrate) {
    testing_support::StreamRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.frames = frames;
    recipe.extraOptions = std::string("-g 50 -b:v ") + bitrate;
    const std::string file = dir.File(std::to_string(width) + "x" + std::to_string(height) + ".h264");
    if (!testing_support::EncodeStream(recipe, file)) {
        std::fprintf(stderr, "could not make %s with ffmpeg/libx264\n", file.c_str());
        std::exit(1);
    }
    return file;
}

// A camera as the stages see it, without links or windows.
class BenchHost final : public media::StageHost {
public:
    transport::PacketQueue& VideoQueue() override { return queue; }
    bool IsRecording() const override { return recording; }
    bool IsReplayMode() const override { return false; }
    bool IsPaused() const override { return false; }
    platform::WindowHandle DisplayWindow() const override { return 1; }
    int CellIndex() const override { return 0; }
    std::string CameraId() const override { return "1"; }
    void RecorderHandOff(const media::StageFrame&) override {}
    void ReportReplayTime(const std::string&) override {}
    void PostToTaskThread(platform::Message) override {}
    transport::PacketQueue queue;
    bool recording = true;
};

void Push(transport::PacketQueue& queue, const std::string& unit, int width, int height) {
    auto record = queue.TakeFree();
    record->info = transport::StreamInfo::Video(25, width, height, 0);
    const std::uint8_t header[12] = {3};
    record->Store(header, sizeof header, reinterpret_cast<const std::uint8_t*>(unit.data()), unit.size());
    queue.Push(std::move(record), true);
}

// Best of kRuns of `work` repeated `count` times: milliseconds of this thread's CPU per repetition.
template <class Work>
double PerFrameMs(int count, Work&& work) {
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        const double start = CpuSeconds(kThread);
        for (int i = 0; i < count; ++i) work(i);
        best = std::min(best, (CpuSeconds(kThread) - start) * 1000.0 / count);
    }
    return best;
}

void PerFrameCosts(const testing_support::TempDir& dir) {
    std::printf("Per-frame cost in ms of CPU (best of %d runs; x264 veryfast, GOP 50, camera-like bit rates)\n\n", kRuns);
    std::printf("| size | decode stage | overlay (recording mark) | BT.601 to 32-bit | packed 4:2:2 | planar copy | "
                "blit scaled to a 400x300 cell | BT.601 at 400x300 | unscaled blit |\n"
                "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Size& size : kSizes) {
        const std::string file = Encode(dir, size.width, size.height, size.frames, size.bitrate);
        const auto units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(file));
        const int frames = static_cast<int>(units.size());

        BenchHost host;
        host.recording = false;
        media::StageFrame frame;
        std::vector<std::uint8_t> picture;
        double decode = 1e9;
        for (int run = 0; run < kRuns; ++run) {
            media::CDoDecoder decoder(host);
            decoder.Init();
            double spent = 0;
            int shown = 0;
            // In batches below the queue's high-water mark, which would drop frames.
            for (std::size_t first = 0; first < units.size(); first += 50) {
                for (std::size_t i = first; i < std::min(units.size(), first + 50); ++i)
                    Push(host.queue, units[i], size.width, size.height);
                const double start = CpuSeconds(kThread);
                while (host.queue.Size() > 0) shown += decoder.Process(frame);
                spent += CpuSeconds(kThread) - start;
            }
            decode = std::min(decode, spent * 1000.0 / frames);
            if (shown != frames) std::fprintf(stderr, "decoded %d of %d\n", shown, frames);
            picture.assign(frame.picture, frame.picture + media::PictureBytes(size.width, size.height));
        }

        const std::vector<std::uint8_t> original = picture;
        const int mixer = GLZ_Initialize();
        GLZ_OSD osd;
        GLZ_PICTURE description;
        media::FillRecordingMark(picture.data(), size.width, size.height, osd, description);
        GLZ_MixOSD(mixer, &osd, &description);  // the first mix renders the text once
        const double overlay = PerFrameMs(1000, [&](int) { GLZ_MixOSD(mixer, &osd, &description); });
        GLZ_Uninitialize(mixer);

        const media::PlanarPicture planes = media::PlanesOf(original.data(), size.width, size.height);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(size.width) * size.height * 4 + 64);
        const double rgb = PerFrameMs(1000, [&](int) { media::ConvertToBgrx(planes, out.data(), size.width * 4); });
        const double packed = PerFrameMs(1000, [&](int) { media::PackYuy2(planes, out.data(), size.width * 2); });
        const double planar = PerFrameMs(1000, [&](int) { media::CopyYv12(planes, out.data(), size.width); });

        media::ConvertToBgrx(planes, out.data(), size.width * 4);
        const QImage source(out.data(), size.width, size.height, size.width * 4, QImage::Format_RGB32);
        QImage cell(400, 300, QImage::Format_RGB32);
        const double blit = PerFrameMs(1000, [&](int) {
            QPainter painter(&cell);
            painter.drawImage(cell.rect(), source);
        });
        // What a 400x300 wall cell costs now: the conversion at the cell's size, then
        // an unscaled blit.
        media::ScaleScratch scratch;
        std::vector<std::uint8_t> small(400 * 300 * 4);
        const double rgbCell =
            PerFrameMs(1000, [&](int) { media::ConvertToBgrxScaled(planes, small.data(), 400 * 4, 400, 300, scratch); });
        const QImage cellSource(small.data(), 400, 300, 400 * 4, QImage::Format_RGB32);
        const double blitCell = PerFrameMs(1000, [&](int) {
            QPainter painter(&cell);
            painter.drawImage(cell.rect(), cellSource);
        });
        std::printf("| %dx%d | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |\n", size.width, size.height, decode,
                    overlay, rgb, packed, planar, blit, rgbCell, blitCell);
        std::fflush(stdout);
    }
}

// CPU seconds (user and system) of `ffmpeg -threads 1` decoding the file, back to back
// or, with `paced`, at the stream's own rate (-re) as pictures arrive from a camera.
double FfmpegSeconds(const std::string& file, bool paced) {
    const std::regex line(R"(bench: utime=([0-9.]+)s stime=([0-9.]+)s rtime=([0-9.]+)s)");
    double best = 1e9;
    for (int run = 0; run < (paced ? 1 : kRuns); ++run) {
        const std::string command = "ffmpeg -hide_banner -nostdin -benchmark -threads 1 " +
                                    std::string(paced ? "-re " : "") + "-i '" + file + "' -f null - 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) break;
        std::string output;
        char chunk[4096];
        while (std::fgets(chunk, sizeof chunk, pipe)) output += chunk;
        pclose(pipe);
        std::smatch match;
        if (std::regex_search(output, match, line)) best = std::min(best, std::stod(match[1]) + std::stod(match[2]));
    }
    return best;
}

std::shared_ptr<media::CCamera> MakeCamera() {
    media::CameraEnvironment environment;  // reports go nowhere; no control server
    return std::make_shared<media::CCamera>(environment);
}

void EndToEnd(const testing_support::TempDir& dir, int width, int height, const char* bitrate) {
    const int seconds = 8;
    const std::string file = Encode(dir, width, height, seconds * 25, bitrate);
    const auto units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(file));
    testing_support::FakeForwardingServer server;
    server.SetScript([](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType == 1) return {testing_support::FakeForwardingServer::Reply(1, {{"result", "1"}})};
        return {};
    });
    media::VideoOutputWidget widget;
    widget.resize(400, 300);
    widget.show();
    auto camera = MakeCamera();
    if (camera->Open("1001", "127.0.0.1", server.Port(), widget.Handle(), "pw") != 1) {
        std::fprintf(stderr, "open failed\n");
        return;
    }
    std::atomic<bool> done{false};
    std::atomic<double> senderCpu{0};
    const double processStart = CpuSeconds(kProcess);
    const int presentsStart = widget.Presents();
    std::thread sender([&] {
        const double start = CpuSeconds(kThread);
        auto next = Clock::now();
        for (std::size_t i = 0; i < units.size(); ++i) {
            std::this_thread::sleep_until(next);
            std::string frame(1 + 28, '\0');
            frame[0] = 1;
            auto put = [&](int at, std::uint32_t v) {
                for (int b = 0; b < 4; ++b) frame[at + b] = static_cast<char>(v >> (8 * b));
            };
            put(5, static_cast<std::uint32_t>(i * 40));
            put(9, static_cast<std::uint32_t>(units[i].size()));
            put(13, static_cast<std::uint32_t>(width | (height << 12)));
            frame[25] = 25;
            server.PushAll(frame + units[i]);
            next += std::chrono::milliseconds(40);
        }
        senderCpu = CpuSeconds(kThread) - start;
        done = true;
    });
    // The user-interface thread sleeps in its event loop as in the program, waking
    // every 100 ms to see whether every picture has been shown (the queue runs
    // behind the stream by design: the pacing adds a smoothing delay while it is short).
    QEventLoop loop;
    QTimer check;
    int lastShown = -1;
    auto lastChange = Clock::now();
    QObject::connect(&check, &QTimer::timeout, [&] {
        const int shown = widget.Presents() - presentsStart;
        if (shown != lastShown) {
            lastShown = shown;
            lastChange = Clock::now();
        }
        if (done && Clock::now() - lastChange > std::chrono::milliseconds(500)) loop.quit();
    });
    check.start(100);
    loop.exec();
    sender.join();
    const double client = CpuSeconds(kProcess) - processStart - senderCpu;
    const int shown = widget.Presents() - presentsStart;
    camera->Close();
    const double video = units.size() / 25.0;
    const double ffmpeg = FfmpegSeconds(file, false);
    const double ffmpegPaced = FfmpegSeconds(file, true);
    std::printf("| %dx%d | %.1f s | %.4f | %d of %zu | %.4f | %.4f | %.2f | %.2f |\n", width, height, video,
                client / video, shown, units.size(), ffmpeg / video, ffmpegPaced / video, client / ffmpeg,
                client / ffmpegPaced);
    std::fflush(stdout);
}

void OpenLatency(const testing_support::TempDir& dir) {
    const std::string file = Encode(dir, 704, 576, 10, "1500k");
    const auto units = testing_support::SplitAccessUnits(testing_support::ReadWholeFile(file));
    testing_support::FakeForwardingServer server;
    // A forwarding server starts streaming, from a key frame, as soon as it has answered the open.
    server.SetScript([&](const control::ControlMessage& m) -> std::vector<std::string> {
        if (m.msgType != 1) return {};
        std::vector<std::string> replies{testing_support::FakeForwardingServer::Reply(1, {{"result", "1"}})};
        for (int i = 0; i < 3; ++i) {
            std::string frame(1 + 28, '\0');
            frame[0] = 1;
            const std::uint32_t length = static_cast<std::uint32_t>(units[i].size());
            const std::uint32_t size = 704 | (576 << 12);
            for (int b = 0; b < 4; ++b) {
                frame[9 + b] = static_cast<char>(length >> (8 * b));
                frame[13 + b] = static_cast<char>(size >> (8 * b));
            }
            frame[25] = 25;
            replies.push_back(frame + units[i]);
        }
        return replies;
    });
    media::VideoOutputWidget widget;
    widget.resize(400, 300);
    widget.show();
    std::vector<double> latencies;
    for (int run = 0; run < 15; ++run) {
        auto camera = MakeCamera();
        const int before = widget.Presents();
        const auto start = Clock::now();
        if (camera->Open("1001", "127.0.0.1", server.Port(), widget.Handle(), "pw") != 1) continue;
        while (widget.Presents() == before && Clock::now() - start < std::chrono::seconds(5))
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        camera->Close();
    }
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) return;
    std::printf("Open to first picture on loopback (704x576, %zu opens, no waiting picture): median %.1f ms, "
                "best %.1f ms, worst %.1f ms (target under 300 ms)\n",
                latencies.size(), latencies[latencies.size() / 2], latencies.front(), latencies.back());
}

}  // namespace

// Arguments: any of "costs", "camera", "latency" runs only those parts.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    auto wanted = [&](const char* part) {
        if (argc < 2) return true;
        for (int i = 1; i < argc; ++i)
            if (std::string(argv[i]) == part) return true;
        return false;
    };
    testing_support::TempDir dir;
    platform::SetProgramDirectory(dir.Path());  // the log goes there; no waiting picture
    std::printf("Display path here: %s\n\n", media::VideoOutputWidget::GpuPresentationAvailable()
                                                    ? "OpenGL textures (surface type 0)"
                                                    : "software, 32-bit surface (type 1)");
    if (wanted("costs")) PerFrameCosts(dir);
    if (wanted("camera")) {
    std::printf("\nOne camera end to end, 25 frames per second streamed in real time over loopback into a 400x300 "
                "window\n(client CPU = process CPU less the thread that plays the forwarding server)\n\n");
    std::printf("| stream | video | client CPU s per s of video | pictures shown | ffmpeg -threads 1 CPU s per s "
                "| same, paced (-re) | client / ffmpeg | client / paced ffmpeg |\n|---|---:|---:|---:|---:|---:|---:|---:|\n");
    EndToEnd(dir, 352, 288, "512k");
    EndToEnd(dir, 704, 576, "1500k");
    }
    std::printf("\n");
    if (wanted("latency")) OpenLatency(dir);
    core::LogFile::Destroy();
    platform::SetProgramDirectory("");
    return 0;
}
