#pragma once
// A progress bar over the log view while a whole data file is copied. The copy itself runs on
// the user-interface thread; each progress report repaints the bar (user input waits until the
// copy is over).

#include "platform/FileSystem.h"

class TForm1;
class QProgressBar;

namespace kv::console {

class CopyProgressBar {
public:
    explicit CopyProgressBar(TForm1& Form);
    ~CopyProgressBar();
    CopyProgressBar(const CopyProgressBar&) = delete;
    CopyProgressBar& operator=(const CopyProgressBar&) = delete;

    platform::CopyProgress callback();

private:
    void report(std::uint64_t done, std::uint64_t total);

    QProgressBar* FBar = nullptr;
};

} // namespace kv::console
