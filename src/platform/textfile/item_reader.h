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
    // Takes ownership of `file` (opened for reading) and closes it.
    explicit ItemReader(std::FILE* file) : file_(file) {}
    ~ItemReader();
    ItemReader(const ItemReader&) = delete;
    ItemReader& operator=(const ItemReader&) = delete;

    // The next item as text. Error 62 when the file has nothing left.
    String readText();
    // The next item as a 16-bit number: error 13 when it is not a number,
    // 6 when it lies outside -32768..32767. An empty item reads as 0.
    Integer readInteger();
    // True when nothing but line ends is left.
    bool atEnd();

  private:
    int get() { return std::getc(file_); }
    int peek();
    void skipLineEnd(int c);

    std::FILE* file_;
};

// Parses a number item (blanks around it allowed) and rounds it to an Integer
// as an assignment would: half to even, error 6 out of range, 13 if no number.
Integer parseIntegerItem(const String& item);

}  // namespace vantor
