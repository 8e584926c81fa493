// The merge run's host on the desktop: the options dialog, the progress window, the message
// boxes and the hand-over of the result, with pending window events processed at exactly
// those points.
//   DesktopHost host(openResult, lock);  merge::Zelk(input, *application, host);
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "merge/run_host.h"
#include "merge/run_lock.h"

namespace app {

class Form3;

class DesktopHost : public merge::RunHost {
public:
    using ResultOpener = std::function<void(const std::filesystem::path&)>;

    // `openResult` receives the saved result; `lock` is released when the result is handed
    // over, so that a new program may start while the user looks at it.
    DesktopHost(ResultOpener openResult, merge::RunLock& lock);
    ~DesktopHost() override;

    merge::MergeOptions askOptions(const merge::SampleInfo& sample,
                                   const merge::ReferenceResolver& resolve) override;
    void showProgress(int done, int total) override;
    void closeProgress() override;
    merge::MessageAnswer showMessage(const std::string& text, merge::MessageStyle style,
                                     const std::string& title) override;
    void handOver(const std::filesystem::path& result) override;

    // Opens a file in the desktop's default program for its type.
    static void openInDesktop(const std::filesystem::path& result);

private:
    ResultOpener m_openResult;
    merge::RunLock& m_lock;
    std::unique_ptr<Form3> m_progress;
};

}  // namespace app
