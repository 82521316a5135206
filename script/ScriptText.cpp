#include "script/ScriptText.h"

#include <cstdio>

namespace {

// Appends to a fixed buffer, dropping what does not fit; the buffer always holds a
// NUL-terminated text.
class BoundedText {
 public:
  BoundedText(char* dest, size_t size) : dest_(dest), size_(size) { dest_[0] = '\0'; }

  void Put(char c) {
    if (length_ + 1 < size_) {
      dest_[length_++] = c;
      dest_[length_] = '\0';
    }
  }

  void Put(const char* text) {
    for (; *text != '\0'; ++text) Put(*text);
  }

 private:
  char* dest_;
  size_t size_;
  size_t length_ = 0;
};

}  // namespace

void FormatScriptText(char* dest, size_t destSize, const char* source, const int32_t* args,
                      int argCount) {
  if (dest == nullptr || destSize == 0) return;
  BoundedText out(dest, destSize);
  if (source == nullptr) return;
  if (args == nullptr) argCount = 0;

  int nextArg = 0;
  for (const char* p = source; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      out.Put('%');
      ++p;
    } else if (p[0] == '%' && p[1] == 'd' && nextArg < argCount) {
      char number[16];  // "-2147483648" and NUL
      std::snprintf(number, sizeof number, "%ld", static_cast<long>(args[nextArg++]));
      out.Put(number);
      ++p;
    } else {
      // A lone '%' at the end, or any sequence not named above, stays as written.
      out.Put(*p);
    }
  }
}
