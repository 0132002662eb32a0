// What the benchmark driver needs of the presenter: park and wake the panels, see them
// parked, and end the run.
#pragma once

namespace corva {

class ParkControl {
  public:
    virtual ~ParkControl() = default;
    // false asks the present loop to park the panels, true to wake them.
    virtual void setDisplayWanted(bool wanted) = 0;
    // True once the panels are off under the idle policy.
    virtual bool isParked() = 0;
    virtual void requestStop() = 0;
};

}  // namespace corva
