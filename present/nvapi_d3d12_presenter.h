// The direct-mode presenter: takes the headset display through the driver's direct
// mode and presents D3D12 frames paced by its vertical blank.
#pragma once

#include "present/park_control.h"
#include "present/present_backend.h"

#include <atomic>
#include <memory>

namespace corva {

struct PresenterImpl;
struct PresentConditions;

class NvapiD3d12Presenter : public PresentBackend, public ParkControl {
  public:
    explicit NvapiD3d12Presenter(const PresenterConfig& config);
    ~NvapiD3d12Presenter() override;
    NvapiD3d12Presenter(const NvapiD3d12Presenter&) = delete;
    NvapiD3d12Presenter& operator=(const NvapiD3d12Presenter&) = delete;

    bool init() override;
    void run(double seconds, const FrameCallback& draw) override;
    void requestStop() override;
    PresentStats stats() override;
    // The parked poll's gaps and the vertical blank, as the last run() measured them; read
    // once it has returned.
    const PresentConditions& conditions() const;

    void setDisplayWanted(bool wanted) override;
    bool isParked() override;

    std::unique_ptr<PresenterImpl> im;
    const PresenterConfig config;
    std::atomic<bool> stopRequested{false};
    // Written by the benchmark driver: false parks the panels, true wakes them.
    std::atomic<bool> displayWanted{true};

  private:
    bool acquireDisplay();
};

}  // namespace corva
