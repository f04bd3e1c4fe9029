#pragma once
// Faults asked of the program's simulated camera while it runs, so that a
// test can pull the camera out of the real program. ORVANE_SIMCAM_CONTROL
// names a FIFO (the user's own, not open to others) that carries one
// command a line:
//   unplug               the camera is pulled out
//   replug               and plugged in again
//   drop-replies N       the next N replies are lost
//   fail-reads N         the next N reads of the reply path fail
//   fail-image-reads N   the next N reads of the image path fail
// A line that is not understood is told on standard error and skipped.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace simcam {

class Hub;

// Applies one command line to the generic-driver camera at `path`; false,
// with what is wrong in `error`, when the line is not understood.
bool ApplyControlLine(Hub& hub, const std::string& path, std::string_view line, std::string& error);

// Reads the FIFO on a thread of its own until destruction, which wakes and
// joins it.
class ControlFifo {
public:
    ControlFifo(Hub& hub, std::string path, const std::filesystem::path& fifo);
    ~ControlFifo();
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;

    // Whether the FIFO was opened; `error()` says why not.
    bool listening() const { return thread_.joinable(); }
    const std::string& error() const { return error_; }

private:
    void run();

    Hub& hub_;
    std::string path_;
    std::string error_;
    int fd_ = -1;
    int keep_ = -1; // our own writer end: no hang-up between the test's writes
    int stop_ = -1;
    std::thread thread_;
};

} // namespace simcam
