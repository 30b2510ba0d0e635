#pragma once
// Video parameters of a live cell's camera on the task threads: the record that
// travels between the window and the task threads (1039 write, 1040 read and its
// answer), its wire form on the forwarding link (commands 9 and 10), and the handlers.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/message.h"

namespace session {
class CAppInteance;
}

namespace tasks {

struct VideoParamRecord {
    int cell = 0;
    int width = 0;
    int height = 0;
    int quality = 0;
    int frameRate = 0;
    int recorder = 0;
};

// The camera's answer to a read, as the link hands it over. Every value must be a
// plain decimal number in range; anything else makes the answer unusable.
std::optional<VideoParamRecord> ParseVideoParameters(const std::map<std::string, std::string>& reply, int cell);
// The parameters a write sends ("width", "height", "qp", "fr", "recoder").
std::map<std::string, std::string> VideoParameterCommand(const VideoParamRecord& record);

struct VideoParamEnvironment {
    // The link of a cell's camera; false when the cell has none or it did not answer.
    std::function<bool(int cell, const std::map<std::string, std::string>&)> write;
    std::function<bool(int cell, std::map<std::string, std::string>&)> read;
    std::function<bool(platform::Message)> postNotify;
};

// 1039: payload VideoParamRecord.
void HandleWriteVideoParameters(platform::Message& message, const VideoParamEnvironment& environment);
// 1040: wParam the cell; answers with 1040 and a record when the camera replied.
void HandleReadVideoParameters(platform::Message& message, const VideoParamEnvironment& environment);

// Both handlers on the application's dispatcher, reaching the camera registry.
void RegisterVideoParamTasks(session::CAppInteance& application);

}  // namespace tasks
