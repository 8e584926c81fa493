// The merge run's host on the desktop: the options dialog, the progress window with the file
// being merged and its "取消", the password question for encrypted sources, the message boxes
// and the final message with the result, with pending window events processed at exactly those
// points.
//   DesktopHost host(openResult, lock);  merge::Zelk(input, *application, host);
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/final_message.h"
#include "merge/run_host.h"
#include "merge/run_lock.h"
#include "sources/name_filter.h"

namespace app {

class Form3;

// The sources as the user chose them on the main window.
struct ChosenSources {
    std::vector<std::string> paths;  // two or more files, or one folder
    bool folder = false;
    bool recursive = false;  // the folder walk went into sub-folders
};

class DesktopHost : public merge::RunHost {
public:
    // `open` serves the final message's buttons; `lock` is released once the run has nothing
    // more to write, so that a new program may start while the user reads the final message.
    DesktopHost(FinalMessage::Opener open, merge::RunLock& lock);
    ~DesktopHost() override;

    // The sources the run is given came from `chosen`: the options dialog's file count, its
    // file-name filter and its saved job follow them. Without this, the sources are files.
    void setChosenSources(ChosenSources chosen, std::vector<std::string> folderFiles);

    // The options dialog, filled with the options it last accepted (app::Settings); the
    // options it accepts now are kept for the next time.
    merge::MergeOptions askOptions(const merge::SampleInfo& sample,
                                   const merge::ReferenceResolver& resolve) override;
    // A folder's files narrowed by the file-name filter the dialog accepted.
    std::optional<std::vector<std::string>> narrowSources(
        const std::vector<std::string>& sources) override;
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
    ChosenSources m_chosen;
    std::vector<std::string> m_folderFiles;
    sources::NameFilter m_filter;
};

}  // namespace app
