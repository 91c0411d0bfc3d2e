// Forms runtime: labels, shapes and timers as models that notify their views.
#pragma once

#include <vantor/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vantor {

class MessageLoop;

// A colour as 0xBBGGRR (blue in the high byte, red in the low byte).
using Colour = std::uint32_t;
inline constexpr Colour kDefaultColour = 0xFFFFFFFFu;  // the view's own default

struct Font {
    std::string name;
    double points = 8.25;
    bool bold = false;
};

// Position and size in twips (1/1440 inch).
struct TwipRect {
    int left = 0, top = 0, width = 0, height = 0;
};

// A list of callbacks run after each change of a model.
class Observable {
  public:
    using Listener = std::function<void()>;
    int subscribe(Listener listener);
    void unsubscribe(int id);

  protected:
    void changed();

  private:
    struct Entry {
        int id;
        Listener fn;
    };
    std::vector<Entry> listeners_;
    int nextId_ = 1;
};

enum class Alignment { Left, Centre };

class Label : public Observable {
  public:
    const String& caption() const { return caption_; }
    void setCaption(const String& text);
    bool visible() const { return visible_; }
    void setVisible(bool visible);

    // Design-time appearance; set once when the panel is built.
    Colour foreColour = kDefaultColour;
    Colour backColour = kDefaultColour;
    bool transparent = false;
    bool border = false;
    Alignment alignment = Alignment::Left;
    Font font;
    TwipRect rect;

  private:
    String caption_;
    bool visible_ = true;
};

class Shape : public Observable {
  public:
    Colour fillColour() const { return fillColour_; }
    void setFillColour(Colour colour);
    bool visible() const { return visible_; }
    void setVisible(bool visible);

    TwipRect rect;

  private:
    Colour fillColour_ = 0;
    bool visible_ = true;
};

// A timer whose ticks come from the message loop while it is enabled.
class Timer : public Observable {
  public:
    explicit Timer(MessageLoop& loop) : loop_(loop) {}
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    int interval() const { return intervalMs_; }
    void setInterval(int ms);
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // The tick event handler.
    std::function<void()> onTimer;

  private:
    void arm();
    void disarm();

    MessageLoop& loop_;
    int intervalMs_ = 0;
    bool enabled_ = true;
    int timerId_ = 0;
};

}  // namespace vantor
