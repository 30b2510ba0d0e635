// Arbitrary bytes as a skin form: the window is refused or built, never a crash.
#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ui/toolkit/window.h"

namespace {

class FuzzWindow final : public ui::WindowImplBase {
public:
    std::string GetWindowClassName() const override { return "FuzzWindow"; }
    std::string GetSkinFile() override { return "none"; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qtArgc = 1;
    static QApplication application(qtArgc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzWindow creator;
    std::string error;
    std::unique_ptr<QWidget> root(ui::LoadSkinWidget(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size)), nullptr, &creator, error));
    if (root) {
        ui::CPaintManagerUI manager;
        manager.Init(root.get(), nullptr, nullptr);
        (void)manager.FindControl("BtnOK");
        manager.Shutdown();
    }
    return 0;
}
