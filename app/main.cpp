// Program entry. The windows and the login sequence join this loop as they arrive;
// for now the program reads its configuration and reports what it found.
#include <cstdio>

#include "app/app_config.h"
#include "app/log_file.h"
#include "larkview_version.h"
#include "media/application_hooks.h"

int main() {
    media::InstallApplicationHooks();  // the camera registry joins every login cycle
    app::AppConfig& config = app::AppConfig::Instance();
    if (!config.LoadConfiguration()) {
        std::fprintf(stderr, "错误: 读取配置文件出错，请检查配置\n");
        app::LogFile::Destroy();
        return 0;
    }
    std::printf("Larkview %s: %zu master server(s), port %d, path %s, %zu remembered user(s)\n",
                LARKVIEW_VERSION_TEXT, config.serverList.size(), config.serverPort, config.serverPath.c_str(),
                config.savedUsers.size());
    app::LogWrite("larkview started");
    app::LogFile::Destroy();
    return 0;
}
