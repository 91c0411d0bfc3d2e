// Reads comma-separated items from a text file, the way both the unit file and
// the data file are read back.
#pragma once

#include <vantor/types.h>

#include <cstdio>
#include <string>

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

    // Takes ownership of `file` (opened for reading) and closes it; `path`
    // names it in errors.
    ItemReader(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
    ~ItemReader();
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
    int get() { return std::getc(file_); }
    int peek();
    void skipLineEnd(int c);

    void push(String& item, int c) const;

    std::FILE* file_;
    std::string path_;
    bool lastQuoted_ = false;
};

// Parses a number item (blanks around it allowed) and rounds it to an Integer
// as an assignment would: half to even, error 6 out of range, 13 if no number.
Integer parseIntegerItem(const String& item);

}  // namespace vantor
