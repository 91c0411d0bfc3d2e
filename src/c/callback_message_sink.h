// Message boxes for a C host: handed to its callback, or printed on standard
// error until it sets one.
#pragma once

#include <vantor/message_sink.h>
#include <vantor/vantor_comm_c.h>

#include <cstdio>

namespace vantor {

class CallbackMessageSink : public MessageSink {
  public:
    void set(vantor_message_fn fn, void* context) {
        fn_ = fn;
        context_ = context;
    }
    void show(const std::string& text) override {
        if (fn_ != nullptr) {
            fn_(context_, text.c_str(), text.size());
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }

  private:
    vantor_message_fn fn_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace vantor
