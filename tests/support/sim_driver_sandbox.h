// A freshly installed simulated driver for one test: loaded through the real loader, its
// settings store in a private temporary directory, no faults. Undone on destruction.
#pragma once

#include <filesystem>

namespace corva::test {

class SimDriverSandbox {
  public:
    SimDriverSandbox();
    ~SimDriverSandbox();
    SimDriverSandbox(const SimDriverSandbox&) = delete;
    SimDriverSandbox& operator=(const SimDriverSandbox&) = delete;

    const std::filesystem::path& storeFile() const { return storeFile_; }

  private:
    std::filesystem::path directory_;
    std::filesystem::path storeFile_;
};

}  // namespace corva::test
