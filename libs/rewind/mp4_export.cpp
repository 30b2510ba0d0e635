#include "libs/rewind/mp4_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include "libs/rewind/recording_reader.h"

namespace rewindlib {
namespace {

constexpr AVRational kMilliseconds{1, 1000};
constexpr AVRational kTrackTimeBase{1, 90000};
// How many frames pass between two progress reports.
constexpr std::size_t kProgressEvery = 25;
// How far from the first exported key frame its parameter sets are looked for.
constexpr std::size_t kParameterSearch = 300;

// The sequence and picture parameter sets of an Annex B access unit, each behind a
// four-byte start code (what the MP4 muxer turns into its avcC box).
std::vector<std::uint8_t> ParameterSets(const std::vector<std::uint8_t>& unit) {
    std::vector<std::uint8_t> sets;
    bool haveSps = false, havePps = false;
    const std::size_t n = unit.size();
    std::size_t i = 0;
    while (i + 3 <= n) {
        if (unit[i] != 0 || unit[i + 1] != 0 || unit[i + 2] != 1) {
            ++i;
            continue;
        }
        const std::size_t start = i + 3;
        std::size_t end = start;
        while (end + 3 <= n && !(unit[end] == 0 && unit[end + 1] == 0 && (unit[end + 2] == 1 || unit[end + 2] == 0)))
            ++end;
        if (end + 3 > n) end = n;
        if (start < end) {
            const int type = unit[start] & 0x1F;
            if ((type == 7 && !haveSps) || type == 8) {
                static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
                sets.insert(sets.end(), kStartCode, kStartCode + 4);
                sets.insert(sets.end(), unit.begin() + static_cast<std::ptrdiff_t>(start),
                            unit.begin() + static_cast<std::ptrdiff_t>(end));
                haveSps = haveSps || type == 7;
                havePps = havePps || type == 8;
            }
        }
        i = end;
    }
    return haveSps && havePps ? sets : std::vector<std::uint8_t>{};
}

// The output under construction: removed again unless it was completed.
class PartialOutput {
public:
    explicit PartialOutput(const std::string& outPath) {
        // A name of our own beside the output (the rename stays on one file system),
        // made with the user's usual permissions.
        static std::atomic<unsigned> serial{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = outPath + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                path_ = name;
                return;
            }
            if (errno != EEXIST) return;
        }
    }
    ~PartialOutput() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;

    bool Made() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    bool Complete(const std::string& outPath) {
        if (std::rename(path_.c_str(), outPath.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string path_;
};

class Muxer {
public:
    ~Muxer() {
        if (context_) {
            if (context_->pb) avio_closep(&context_->pb);
            avformat_free_context(context_);
        }
        av_packet_free(&packet_);
    }

    bool Open(const std::string& path, const IndexedFrame& first, const std::vector<std::uint8_t>& parameterSets) {
        packet_ = av_packet_alloc();
        if (!packet_ || avformat_alloc_output_context2(&context_, nullptr, "mp4", nullptr) < 0 || !context_)
            return false;
        stream_ = avformat_new_stream(context_, nullptr);
        if (!stream_) return false;
        AVCodecParameters* codec = stream_->codecpar;
        codec->codec_type = AVMEDIA_TYPE_VIDEO;
        codec->codec_id = AV_CODEC_ID_H264;
        codec->width = static_cast<int>(std::min<std::uint32_t>(first.width, 16384));
        codec->height = static_cast<int>(std::min<std::uint32_t>(first.height, 16384));
        // Annex B parameter sets: the muxer writes them as its avcC box and turns the
        // frames' start codes into lengths.
        codec->extradata = static_cast<std::uint8_t*>(av_mallocz(parameterSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!codec->extradata) return false;
        std::copy(parameterSets.begin(), parameterSets.end(), codec->extradata);
        codec->extradata_size = static_cast<int>(parameterSets.size());
        stream_->time_base = kTrackTimeBase;
        // "file:" so that a colon in the name is never taken for a protocol.
        if (avio_open(&context_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE) < 0) return false;
        return avformat_write_header(context_, nullptr) >= 0;
    }

    bool Write(std::vector<std::uint8_t>& data, bool key, std::int64_t ms, std::int64_t durationMs) {
        av_packet_unref(packet_);
        const std::size_t size = data.size();
        data.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);  // readers may look a little past the end
        packet_->data = data.data();
        packet_->size = static_cast<int>(size);
        packet_->stream_index = stream_->index;
        packet_->pts = packet_->dts = av_rescale_q(ms, kMilliseconds, stream_->time_base);
        packet_->duration = av_rescale_q(durationMs, kMilliseconds, stream_->time_base);
        if (key) packet_->flags |= AV_PKT_FLAG_KEY;
        const int result = av_write_frame(context_, packet_);
        packet_->data = nullptr;
        packet_->size = 0;
        return result >= 0;
    }

    bool Finish() {
        if (av_write_trailer(context_) < 0) return false;
        if (context_->pb->error < 0) return false;
        return avio_closep(&context_->pb) >= 0;
    }

private:
    AVFormatContext* context_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
};

}  // namespace

int ExportToMp4(const ExportRequest& request) {
    if (request.path.empty() || request.outPath.empty()) return TARN_PB_ERR_ARGUMENT;
    std::unique_ptr<ByteSource> source = OpenFileSource(request.path);
    if (!source) return TARN_PB_ERR_OPEN;
    const RecordingIndex index = RecordingIndex::Build(*source);
    if (!index.Playable()) return TARN_PB_ERR_FORMAT;
    const auto& frames = index.Frames();

    std::size_t first = index.FirstKey();
    std::size_t last = frames.size() - 1;
    if (request.fromTime != 0 || request.toTime != 0) {
        if (request.fromTime != 0) first = index.KeyAtOrBefore(request.fromTime);
        if (request.toTime != 0) last = index.LastAtOrBefore(request.toTime);
        if (first == RecordingIndex::npos || last == RecordingIndex::npos || last < first ||
            (request.toTime != 0 && request.toTime < request.fromTime))
            return TARN_PB_ERR_RANGE;
    }
    const auto total = static_cast<long long>(last - first + 1);

    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> parameterSets;
    for (std::size_t i = first; i <= last && i < first + kParameterSearch && parameterSets.empty(); ++i) {
        if (!ReadFrame(*source, frames[i], data)) return TARN_PB_ERR_OPEN;
        parameterSets = ParameterSets(data);
    }
    // Parameter sets sent once before the range began still describe it.
    for (std::size_t i = first; i-- > 0 && parameterSets.empty();) {
        if (!ReadFrame(*source, frames[i], data)) return TARN_PB_ERR_OPEN;
        parameterSets = ParameterSets(data);
    }
    if (parameterSets.empty()) return TARN_PB_ERR_FORMAT;

    PartialOutput output(request.outPath);
    if (!output.Made()) return TARN_PB_ERR_WRITE;
    Muxer muxer;
    if (!muxer.Open(output.Path(), frames[first], parameterSets)) return TARN_PB_ERR_WRITE;

    if (request.progress && request.progress(0, total, request.user) != 0) return TARN_PB_ERR_CANCELLED;
    const std::int64_t startMs = frames[first].playMs;
    std::int64_t previousMs = -1;
    for (std::size_t i = first; i <= last; ++i) {
        if (!ReadFrame(*source, frames[i], data)) return TARN_PB_ERR_OPEN;
        // The muxer needs strictly rising times; two frames written in one millisecond
        // are a millisecond apart.
        const std::int64_t ms = std::max(frames[i].playMs - startMs, previousMs + 1);
        const std::int64_t nextMs = i < last ? frames[i + 1].playMs - startMs : ms + index.FrameIntervalMs();
        previousMs = ms;
        if (!muxer.Write(data, frames[i].key, ms, std::max<std::int64_t>(1, nextMs - ms))) return TARN_PB_ERR_WRITE;
        const auto done = static_cast<long long>(i - first + 1);
        if (request.progress && (done % kProgressEvery == 0 || done == total) &&
            request.progress(done, total, request.user) != 0)
            return TARN_PB_ERR_CANCELLED;
    }
    if (!muxer.Finish()) return TARN_PB_ERR_WRITE;
    if (!output.Complete(request.outPath)) return TARN_PB_ERR_WRITE;
    return TARN_PB_OK;
}

}  // namespace rewindlib
