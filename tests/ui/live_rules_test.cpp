// The rules of live viewing without windows: pan-tilt-zoom codes, cell texts, layout
// buttons, renewal texts, the alarm list's pages and picture cache names.
#include <gtest/gtest.h>

#include "ui/live_rules.h"

namespace {

TEST(PanTiltCodes, TenButtonsInAnyLetterCaseAndTheStopOnRelease) {
    EXPECT_EQ(ui::PanTiltActionCode("yt_up"), 1);
    EXPECT_EQ(ui::PanTiltActionCode("YT_UP"), 1);
    EXPECT_EQ(ui::PanTiltActionCode("yt_right"), 4);
    EXPECT_EQ(ui::PanTiltActionCode("yt_focusfar"), 5);
    EXPECT_EQ(ui::PanTiltActionCode("yt_IrisClose"), 8);
    EXPECT_EQ(ui::PanTiltActionCode("yt_ZoomOut"), 10);
    EXPECT_EQ(ui::PanTiltCodeFor("yt_IrisClose", true), 8);
    EXPECT_EQ(ui::PanTiltCodeFor("yt_IrisClose", false), 15);
    // Other controls, prefixes and longer names send nothing, pressed or released.
    for (const char* other : {"yt_", "yt_up2", "up", "", "BtnSet", "yt_Zoom"}) {
        EXPECT_FALSE(ui::PanTiltActionCode(other)) << other;
        EXPECT_FALSE(ui::PanTiltCodeFor(other, false)) << other;
    }
}

TEST(CellTexts, EveryFailureSaysWhy) {
    EXPECT_EQ(ui::CellTextForOpenResult(-7), "无流媒体服务器");
    EXPECT_EQ(ui::CellTextForOpenResult(-2), "不在开放时间段内");
    EXPECT_EQ(ui::CellTextForOpenResult(-5), "摄像头不在线");
    EXPECT_EQ(ui::CellTextForOpenResult(-10), "十秒未收到视频");
    EXPECT_EQ(ui::CellTextForOpenResult(-42), "打开视频失败(-42)") << "a code of the server's own";
    // Opened, or closed while opening by the user or the program: nothing to say.
    EXPECT_FALSE(ui::CellTextForOpenResult(1));
    EXPECT_FALSE(ui::CellTextForOpenResult(0));
    for (int code : {-1, -3, -4, -6, -8, -9, 7}) {
        const std::optional<std::string> text = ui::CellTextForOpenResult(code);
        EXPECT_TRUE(text && !text->empty()) << code;
    }
    EXPECT_EQ(ui::CellOfTextTimer(100), 0);
    EXPECT_EQ(ui::CellOfTextTimer(163), 63);
    EXPECT_FALSE(ui::CellOfTextTimer(164));
    EXPECT_FALSE(ui::CellOfTextTimer(99));
    EXPECT_FALSE(ui::CellOfTextTimer(3));
}

TEST(LayoutButtons, NameTheirCellCounts) {
    const std::pair<const char*, int> expected[] = {{"Win1", 1},   {"Win4", 4},   {"Win9", 9},   {"Win16", 16},
                                                    {"Win25", 25}, {"Win36", 36}, {"Win49", 49}, {"Win64", 64},
                                                    {"Win6", 6},   {"Win8", 8}};
    for (const auto& [name, count] : expected) EXPECT_EQ(ui::LayoutOfButton(name), count) << name;
    EXPECT_FALSE(ui::LayoutOfButton("Win2"));
    EXPECT_FALSE(ui::LayoutOfButton("win4"));
}

TEST(NameFormats, TheNameIsDataNotAFormat) {
    EXPECT_EQ(ui::FormatWithName(ui::kCameraOfflineFormat, "西湖入口"), "摄像头 西湖入口 不在线！");
    EXPECT_EQ(ui::FormatWithName(ui::kCameraOfflineFormat, "%s%n%d"), "摄像头 %s%n%d 不在线！");
}

TEST(RenewalTexts, TickThroughThreeDotsOfEqualLength) {
    EXPECT_EQ(ui::RenewalArrearsText("大门"), "摄像头 大门 已欠费!");
    EXPECT_EQ(ui::RenewalStartedText("大门"), "摄像头 大门 续费中...");
    EXPECT_EQ(ui::RenewalTickText("大门", 0), "摄像头 大门 续费中.  ");
    EXPECT_EQ(ui::RenewalTickText("大门", 1), "摄像头 大门 续费中.. ");
    EXPECT_EQ(ui::RenewalTickText("大门", 2), "摄像头 大门 续费中...");
    EXPECT_EQ(ui::RenewalTickText("大门", 10), ui::RenewalTickText("大门", 1));
    EXPECT_EQ(ui::RenewalTickText("x", 0).size(), ui::RenewalTickText("x", 2).size());

    EXPECT_EQ(ui::RenewalFailureText(-2), "账户余额不足!");
    EXPECT_EQ(ui::RenewalFailureText(-3), "该摄像头非本账户所有!");
    EXPECT_EQ(ui::RenewalFailureText(0), "续费超时!");
    EXPECT_EQ(ui::RenewalFailureText(-1), "请重试!");
    EXPECT_EQ(ui::RenewalFailureText(7), "请重试!");

    const ui::RenewalReply reply = ui::RenewalReply::FromParams(
        {{"status", "1"}, {"expire", "365"}, {"cameraId", "31000006"}, {"expiredDate", "2027-12-08"}});
    EXPECT_EQ(reply.status, 1);
    EXPECT_EQ(reply.expiredDate, "2027-12-08");
    EXPECT_EQ(ui::RenewalReply::FromParams({}).status, 0) << "no status reads as no answer";
}

TEST(AlarmPager, FiftyRowsAtATimeThenTheNextPage) {
    EXPECT_EQ(ui::FormatSearchTime(2026, 3, 7, 1, 0, 0), "2026-03-07 01:00:00");
    ui::AlarmPager pager;
    EXPECT_EQ(pager.NextLoadStep(), ui::AlarmPager::LoadStep::kFetchNextPage);
    EXPECT_EQ(pager.ShowPage(), 0u);
    pager.Received(120);
    EXPECT_EQ(pager.ShowPage(), 50u);
    EXPECT_EQ(pager.NextLoadStep(), ui::AlarmPager::LoadStep::kShowMore);
    EXPECT_EQ(pager.ShowPage(), 50u);
    EXPECT_EQ(pager.ShowPage(), 20u);
    EXPECT_EQ(pager.ShownRows(), 120u);
    EXPECT_EQ(pager.NextLoadStep(), ui::AlarmPager::LoadStep::kFetchNextPage);
    pager.Received(3);
    EXPECT_EQ(pager.ShowPage(), 3u);
    pager.Reset();
    EXPECT_EQ(pager.ReceivedRows(), 0u);
}

TEST(AlarmPictureCache, OneFilePerUrlKeepingAPlainExtension) {
    const std::string a = ui::AlarmPictureCacheFile("/tmp/pics", "http://h:1/upload/7/alarm_1.jpg");
    const std::string b = ui::AlarmPictureCacheFile("/tmp/pics/", "http://h:1/upload/7/alarm_2.jpg");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind("/tmp/pics/", 0), 0u);
    EXPECT_EQ(a.substr(a.size() - 4), ".jpg");
    EXPECT_TRUE(ui::AlarmPictureCacheFile("/p", "http://h/x.png").ends_with(".png"));
    // Anything odd in the URL never reaches the file name.
    const std::string odd = ui::AlarmPictureCacheFile("/p", "http://h/../../etc/passwd.j/../x");
    EXPECT_EQ(odd.find("..", 2), std::string::npos);
    EXPECT_EQ(odd.substr(odd.size() - 4), ".jpg");
    EXPECT_TRUE(ui::AlarmPictureCacheFile("/p", "http://h/a.<script>").ends_with(".jpg"));
}

}  // namespace
