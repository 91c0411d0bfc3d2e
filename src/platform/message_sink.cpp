#include <vantor/message_sink.h>

#include <cstdio>

namespace vantor {

void ConsoleMessageSink::show(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace vantor
