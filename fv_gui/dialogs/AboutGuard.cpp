#include "fv_gui/dialogs/AboutGuard.h"

#include "fv_platform/NamedLock.h"

namespace fv::dialogs {

bool RunGuarded(std::string_view name, const std::function<void()>& show) {
    NamedLock lock;
    if (lock.Create(name) == NamedLock::Result::AlreadyHeld) return false;
    show();
    return true;
}

}  // namespace fv::dialogs
