#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/ini_file.h"
#include "sim/alarm_picture.h"
#include "sim/sim_service.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

// A plain socket client, so the server is not tested only against our own HTTP client.
struct RawResult {
    bool connected = false;
    std::string bytes;
    bool closedByServer = false;
};

RawResult RawExchange(int port, const std::string& request, int timeoutMs = 3000) {
    RawResult result;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return result;
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        result.connected = true;
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        for (;;) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0) result.closedByServer = true;
            if (n <= 0) break;
            result.bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return result;
}

std::string Body(const std::string& response) {
    std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

class SimServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseUtc();
        config_.databasePath = dir_.File("sim.db");
        config_.cameraCount = 24;
        config_.stateFile = dir_.File("state.ini");
        config_.referenceTime = kReference;
        service_ = std::make_unique<sim::SimService>(config_);
        std::string error;
        ASSERT_EQ(service_->Start(&error), sim::SimService::kOk) << error;
        port_ = service_->MasterPort();
        ASSERT_GT(port_, 0);
    }
    std::string Lookup(const std::string& user = "demo") {
        return RawExchange(port_, "GET /master_" + user + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n").bytes;
    }
    std::string ProxyPortText() const { return std::to_string(service_->ProxyPort()); }

    testing_support::TempDir dir_;
    sim::SimConfig config_;
    std::unique_ptr<sim::SimService> service_;
    int port_ = 0;
};

}  // namespace

TEST_F(SimServiceTest, MasterLookupAnswersTheProxyAndCloses) {
    auto result = RawExchange(port_,
                              "GET /master_demo HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Plover/4.0\r\n"
                              "Host: 127.0.0.1\r\n\r\n");
    ASSERT_TRUE(result.connected);
    EXPECT_TRUE(result.closedByServer) << "clients read until the server closes";
    EXPECT_EQ(result.bytes.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << result.bytes;
    const std::string body = "{\"ip\":\"127.0.0.1\",\"port\":\"" + ProxyPortText() + "\",\"status\":\"IDEL\"}";
    EXPECT_EQ(Body(result.bytes), body);
    EXPECT_NE(result.bytes.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(service_->Master().LookupCount(), 1u);
}

TEST_F(SimServiceTest, MasterLookupIsBytewiseIndependentOfRequestDetails) {
    // A request written byte by byte by a slow client, for a user with non-ASCII name.
    EXPECT_EQ(Body(Lookup("%E5%BC%A0%E4%BC%9F")).find("\"status\":\"IDEL\""), Body(Lookup()).find("\"status\":\"IDEL\""));
    EXPECT_EQ(RawExchange(port_, "GET /master_demo?x=1 HTTP/1.0\r\n\r\n").bytes.rfind("HTTP/1.0 200", 0), 0u);
    EXPECT_EQ(RawExchange(port_, "GET http://127.0.0.1/master_demo HTTP/1.0\r\n\r\n").bytes.rfind("HTTP/1.0 200", 0), 0u);
}

TEST_F(SimServiceTest, MasterRejectsWhatItDoesNotServe) {
    EXPECT_EQ(RawExchange(port_, "GET /other HTTP/1.0\r\n\r\n").bytes.rfind("HTTP/1.0 404", 0), 0u);
    EXPECT_EQ(RawExchange(port_, "POST /master_demo HTTP/1.0\r\n\r\n").bytes.rfind("HTTP/1.0 400", 0), 0u);
    EXPECT_EQ(RawExchange(port_, "GET /master_%ZZ HTTP/1.0\r\n\r\n").bytes.rfind("HTTP/1.0 400", 0), 0u);
    EXPECT_EQ(RawExchange(port_, "garbage\r\n\r\n").bytes.rfind("HTTP/1.0 400", 0), 0u);
    auto huge = RawExchange(port_, "GET /master_demo HTTP/1.0\r\nX: " + std::string(20000, 'a') + "\r\n\r\n");
    EXPECT_EQ(huge.bytes.rfind("HTTP/1.0 400", 0), 0u) << "an oversized request is refused, not buffered";
}

TEST_F(SimServiceTest, MasterFaults) {
    sim::MasterFaults faults;
    faults.status = "BUSY";
    service_->SetMasterFaults(faults);
    EXPECT_NE(Body(Lookup()).find("\"status\":\"BUSY\""), std::string::npos);

    faults = {};
    faults.ip = "";
    service_->SetMasterFaults(faults);
    EXPECT_EQ(Body(Lookup()), "{\"ip\":\"\",\"port\":\"" + ProxyPortText() + "\",\"status\":\"IDEL\"}");

    faults = {};
    faults.port = "";
    service_->SetMasterFaults(faults);
    EXPECT_NE(Body(Lookup()).find("\"port\":\"\""), std::string::npos);

    faults = {};
    faults.mode = sim::MasterFaults::Mode::kNotJson;
    service_->SetMasterFaults(faults);
    EXPECT_EQ(Body(Lookup()).find('{'), std::string::npos);

    faults.mode = sim::MasterFaults::Mode::kCloseWithoutAnswer;
    service_->SetMasterFaults(faults);
    auto closed = RawExchange(port_, "GET /master_demo HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(closed.connected);
    EXPECT_TRUE(closed.bytes.empty());

    faults.mode = sim::MasterFaults::Mode::kSilent;
    service_->SetMasterFaults(faults);
    auto silent = RawExchange(port_, "GET /master_demo HTTP/1.0\r\n\r\n", 300);
    EXPECT_TRUE(silent.bytes.empty());
    EXPECT_FALSE(silent.closedByServer) << "the connection is held open";

    ASSERT_TRUE(service_->SetMasterRefusing(true));
    EXPECT_FALSE(RawExchange(port_, "GET /master_demo HTTP/1.0\r\n\r\n").connected);
    service_->ClearFaults();
    EXPECT_EQ(Body(Lookup()), "{\"ip\":\"127.0.0.1\",\"port\":\"" + ProxyPortText() + "\",\"status\":\"IDEL\"}")
        << "listening again on the same port";
}

TEST_F(SimServiceTest, AlarmPicturesAreServedUnderTheUploadUrl) {
    EXPECT_EQ(service_->UploadUrlBase(), "http://127.0.0.1:" + std::to_string(port_) + "/upload/");
    auto picture = RawExchange(port_, "GET /upload/10001/alarm_1.jpg HTTP/1.0\r\n\r\n");
    ASSERT_EQ(picture.bytes.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_NE(picture.bytes.find("Content-Type: image/jpeg\r\n"), std::string::npos);
    std::string jpeg = Body(picture.bytes);
    ASSERT_GT(jpeg.size(), 1000u);
    EXPECT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF") << "a JPEG start of image";
    EXPECT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");
    EXPECT_EQ(RawExchange(port_, "GET /upload/10001/alarm_999999.jpg HTTP/1.0\r\n\r\n").bytes.rfind("HTTP/1.0 404", 0), 0u);
    EXPECT_EQ(RawExchange(port_, "GET /upload/../etc/passwd HTTP/1.0\r\n\r\n").bytes.rfind("HTTP/1.0 404", 0), 0u);
    EXPECT_EQ(service_->Master().PictureCount(), 1u);
}

TEST_F(SimServiceTest, StateFileNamesThePortsInUse) {
    const std::string state = config_.stateFile;
    EXPECT_EQ(platform::ReadProfileString("Ports", "Master", "", state), std::to_string(port_));
    EXPECT_EQ(platform::ReadProfileString("Ports", "Proxy", "", state), ProxyPortText());
    EXPECT_EQ(platform::ReadProfileString("Ports", "Http", "", state), std::to_string(port_));
}

TEST_F(SimServiceTest, RestartKeepsTheDatabaseAndStopIsIdempotent) {
    service_->Stop();
    service_->Stop();
    EXPECT_FALSE(service_->Running());
    EXPECT_FALSE(RawExchange(port_, "GET /master_demo HTTP/1.0\r\n\r\n").connected) << "the port is released";
    sim::SimConfig again = config_;
    again.cameraCount = 1000;
    again.masterPort = port_;
    sim::SimService second(again);
    ASSERT_EQ(second.Start(), sim::SimService::kOk);
    EXPECT_EQ(second.Store().CountRows("cameras"), 24);
}

TEST(SimServiceStart, FailuresAreReportedWithCodes) {
    testing_support::TempDir dir;
    sim::SimConfig config;
    config.databasePath = dir.File("sim.db");
    config.listenAddress = "0.0.0.0";
    std::string error;
    EXPECT_EQ(sim::SimService(config).Start(&error), sim::SimService::kBadConfig);
    EXPECT_NE(error.find("loopback"), std::string::npos);

    config.listenAddress = "127.0.0.1";
    config.databasePath = dir.File("missing/dir/sim.db");
    EXPECT_EQ(sim::SimService(config).Start(&error), sim::SimService::kDatabaseFailed);

    config.databasePath = dir.File("sim.db");
    sim::SimService first(config);
    ASSERT_EQ(first.Start(), sim::SimService::kOk);
    config.masterPort = first.MasterPort();
    EXPECT_EQ(sim::SimService(config).Start(&error), sim::SimService::kMasterListenFailed) << "port taken";
}

TEST(SimAlarmPicture, RendersAJpegEvenWithoutTextSupport) {
    std::string jpeg = sim::RenderAlarmPicture({3, "大门", "文三路门店", "移动侦测", "2023-11-14 22:00:00"}, 320, 180);
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
    EXPECT_TRUE(sim::RenderAlarmPicture({3, "a", "b", "c", "d"}, 0, 0).empty());
    EXPECT_NE(sim::RenderAlarmPicture({3, "大门", "x", "y", "z"}), sim::RenderAlarmPicture({3, "后门", "x", "y", "z"}))
        << "each camera looks different";
}
