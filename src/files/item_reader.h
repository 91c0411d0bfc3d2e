// Reads comma-separated items from a text file, the way both the unit file and
// the data file are read back.
#pragma once

#include <vantor/types.h>

#include <string>

#include "platform/system_file.h"

namespace vantor {

// Item rules: items are separated by commas or line ends (CR LF, LF or CR);
// an item may stand in double quotes, which are removed and inside which a
// comma belongs to the item; an unquoted item starts at its first non-blank
// character and ends at the next comma or line end.
class ItemReader {
  public:
    // No item of the files read this way comes near this; a longer one
    // means a file of another kind, which would otherwise be held whole.
    static constexpr std::size_t kMaxItem = 1 << 16;

    // Takes `file`, open for reading; its path names it in errors.
    explicit ItemReader(SystemFile file) : file_(std::move(file)) {}
    ItemReader(const ItemReader&) = delete;
    ItemReader& operator=(const ItemReader&) = delete;

    // The file's size in bytes.
    long long size() const;
    // The next item as text. Error 62 when the file has nothing left, 75
    // when the item is longer than kMaxItem.
    String readText();
    // Whether the item readText() returned last stood in double quotes.
    bool lastQuoted() const { return lastQuoted_; }
    // The next item as a 16-bit number: error 13 when it is not a number,
    // 6 when it lies outside -32768..32767. An empty item reads as 0.
    Integer readInteger();
    // True when nothing but line ends is left.
    bool atEnd();

  private:
    static constexpr int kEnd = -1;
    int get() {
        return at_ < filled_ || fill() ? static_cast<unsigned char>(buffer_[at_++]) : kEnd;
    }
    int peek();
    bool fill();
    void skipLineEnd(int c);

    void push(String& item, int c) const;

    SystemFile file_;
    char buffer_[1 << 16];
    std::size_t at_ = 0, filled_ = 0;
    bool lastQuoted_ = false;
};

// Parses a number item (blanks around it allowed) and rounds it to an Integer
// as an assignment would: half to even, error 6 out of range, 13 if no number.
Integer parseIntegerItem(const String& item);

}  // namespace vantor
