// Keeps the PC from sleeping (and the displays from being turned off) while it lives: a
// benchmark can last minutes and counts on the machine staying awake. Undone when it ends,
// whichever way the run ends (and by the system when the thread ends). Does nothing where
// there is no such call.
#pragma once

namespace corva::platform {

class KeepAwake {
  public:
    KeepAwake();
    ~KeepAwake();
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;

    // The system took the request.
    bool held() const { return held_; }

  private:
    bool held_ = false;
};

}  // namespace corva::platform
