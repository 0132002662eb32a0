// Replaces, for one test, the entry of an imported system function in this program's
// import table: every call the program makes to it through the import (the product's
// included) reaches the replacement, which can still call the original.
//
//   extern "C" decltype(&::Sleep) __imp_Sleep;   // the import's slot, named by the linker
//   test::ImportSwap sleep(&__imp_Sleep, mySleep);
#pragma once

#include <windows.h>

namespace corva::test {

template <class Fn>
class ImportSwap {
  public:
    ImportSwap(Fn* slot, Fn replacement) : slot_(slot), original_(*slot) { write(replacement); }
    ~ImportSwap() { write(original_); }
    ImportSwap(const ImportSwap&) = delete;
    ImportSwap& operator=(const ImportSwap&) = delete;

    Fn original() const { return original_; }

  private:
    void write(Fn value) {
        DWORD previous = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &previous);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, previous, &previous);
    }

    Fn* slot_;
    Fn original_;
};

}  // namespace corva::test
