#include "install_observer.h"

namespace {

InstallObserver g_observer = nullptr;

} // namespace

void SetInstallObserver(InstallObserver observer) {
    g_observer = observer;
}

bool NotifyInstallObserver(InstallEvent event, uint32_t number) {
    return g_observer == nullptr || g_observer(event, number);
}
