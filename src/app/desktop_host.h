// The merge run's host on the desktop: the options dialog, the progress window with the file
// being merged and its "取消", the password question for encrypted sources, the message boxes
// and the final message with the result, with pending window events processed at exactly those
// points.
//   DesktopHost host(openResult, lock);  merge::Zelk(input, *application, host);
#pragma once

#include <filesystem>
#include <memory>

#include "app/final_message.h"
#include "merge/run_host.h"
#include "merge/run_lock.h"

namespace app {

class Form3;

class DesktopHost : public merge::RunHost {
public:
    // `open` serves the final message's buttons; `lock` is released once the run has nothing
    // more to write, so that a new program may start while the user reads the final message.
    DesktopHost(FinalMessage::Opener open, merge::RunLock& lock);
    ~DesktopHost() override;

    merge::MergeOptions askOptions(const merge::SampleInfo& sample,
                                   const merge::ReferenceResolver& resolve) override;
    // The first source shows the progress window (at "0 / n"); every source names its file.
    void beginSource(int number, int total, const std::string& path) override;
    void showProgress(int done, int total) override;
    bool stopRequested() override;
    void closeProgress() override;
    merge::MessageAnswer showMessage(const std::string& text, merge::MessageStyle style,
                                     const std::string& title) override;
    // A saved result: the final message with its path and buttons; otherwise a plain message.
    void showSummary(const std::string& text, const std::string& title,
                     const std::filesystem::path& result) override;
    void handOver(const std::filesystem::path& result) override;
    // The password dialog in front of the progress window. Its check box starts as the user
    // last left it in this run; the password itself is never kept here.
    merge::PasswordAnswer askPassword(const std::string& path, int attempt) override;

private:
    // Creates and shows the progress window unless it is up; true when it was created now.
    bool ensureProgress();

    FinalMessage::Opener m_open;
    merge::RunLock& m_lock;
    std::unique_ptr<Form3> m_progress;
    bool m_passwordForLaterFiles = false;
};

}  // namespace app
