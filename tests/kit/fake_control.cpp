#include "kit/fake_control.h"

#include <vantor/errors.h>

namespace vantor::testing {

int errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

ControlPlatform FakePlatform::platform() {
    auto backend = std::make_unique<FakeSerialBackend>();
    serial = backend.get();
    return ControlPlatform{loop, messages, dates, std::move(backend)};
}

}  // namespace vantor::testing
