#include <gtest/gtest.h>

#include "sim/sim_config.h"
#include "support/temp_dir.h"

TEST(SimConfig, IniFileThenFlagsWhichWin) {
    testing_support::TempDir dir;
    dir.Write("sim.ini",
              "[Sim]\nMasterPort=18080\nProxyPort=18081\nDatabase=/tmp/x.db\nCameraCount=10000\nListChunkRows=1000\n"
              "UploadUrl=http://127.0.0.1:9/pics/\nForwardServers=127.0.0.1:19001,127.0.0.1:19002\nScramble=1\n");
    sim::SimConfig config;
    std::string error;
    std::string configFlag = "--config=" + dir.File("sim.ini");
    const char* argv[] = {"larkview-sim", configFlag.c_str(), "--proxy-port=0", "--verbose"};
    ASSERT_TRUE(sim::ParseSimArgs(4, argv, config, error)) << error;
    EXPECT_EQ(config.masterPort, 18080);
    EXPECT_EQ(config.proxyPort, 0);
    EXPECT_EQ(config.databasePath, "/tmp/x.db");
    EXPECT_EQ(config.cameraCount, 10000);
    EXPECT_EQ(config.listChunkRows, 1000u);
    EXPECT_EQ(config.uploadUrlBase, "http://127.0.0.1:9/pics/");
    ASSERT_EQ(config.forwardServers.size(), 2u);
    EXPECT_EQ(config.forwardServers[1].port, 19002);
    EXPECT_TRUE(config.scrambleByDefault);
    EXPECT_TRUE(config.verbose);
}

TEST(SimConfig, BadValuesAreRefusedWithAReason) {
    auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "larkview-sim");
        sim::SimConfig config;
        std::string error;
        bool ok = sim::ParseSimArgs(static_cast<int>(args.size()), args.data(), config, error);
        return ok ? std::string() : error;
    };
    EXPECT_EQ(parse({"--master-port=0"}), "");
    EXPECT_NE(parse({"--master-port=70000"}), "");
    EXPECT_NE(parse({"--cameras=-1"}), "");
    EXPECT_NE(parse({"--cameras=12abc"}), "");
    EXPECT_NE(parse({"--listen=192.168.1.5"}).find("loopback"), std::string::npos);
    EXPECT_EQ(parse({"--listen=::1"}), "");
    EXPECT_NE(parse({"--forward=nohost"}), "");
    EXPECT_NE(parse({"--server-path=master"}), "");
    EXPECT_NE(parse({"--bogus=1"}), "");
    EXPECT_NE(parse({"--db"}), "") << "a value is required";
    EXPECT_NE(parse({"positional"}), "");
    EXPECT_NE(parse({"--config=/no/such/file.ini"}), "");
}

TEST(SimConfig, ForwardServerLists) {
    std::vector<sim::ForwardServer> servers;
    ASSERT_TRUE(sim::ParseForwardServers("127.0.0.1:1,localhost:65535", servers));
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(servers[1].host, "localhost");
    EXPECT_FALSE(sim::ParseForwardServers("127.0.0.1:", servers));
    EXPECT_FALSE(sim::ParseForwardServers("127.0.0.1:1,", servers));
    EXPECT_FALSE(sim::ParseForwardServers(":80", servers));
}
