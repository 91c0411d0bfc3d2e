#include <vantor/create_control.h>

#include <tuple>

#include "platform/default_backends.h"

namespace vantor {

std::unique_ptr<Vantor_Comm> createControl(ControlOptions options) {
    if (!options.loop) options.loop = defaultMessageLoop();
    if (!options.serial) options.serial = defaultSerialBackend(options.loop);
    if (!options.messages) options.messages = defaultMessageSink();
    if (!options.dates) options.dates = std::make_shared<LocalDateSource>();
    ControlPlatform platform{*options.loop, *options.messages, *options.dates,
                             std::move(options.serial)};
    platform.keepAlive =
        std::make_shared<std::tuple<std::shared_ptr<MessageLoop>, std::shared_ptr<MessageSink>,
                                    std::shared_ptr<const DateSource>>>(
            options.loop, options.messages, options.dates);
    return std::make_unique<Vantor_Comm>(std::move(platform));
}

}  // namespace vantor
