#include "app/desktop_host.h"

#include <QApplication>

#include "app/api_select_files.h"
#include "app/form3.h"
#include "app/password_dialog.h"
#include "app/settings.h"
#include "merge/job_file.h"
#include "options/form2.h"
#include "widgets/message_service.h"

namespace app {

DesktopHost::DesktopHost(FinalMessage::Opener open, merge::RunLock& lock)
    : m_open(std::move(open)), m_lock(lock) {}

DesktopHost::~DesktopHost() = default;

namespace {

// The name of a file without its folder, as the folder walk's filter judges it.
std::string_view fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
}

}  // namespace

void DesktopHost::setChosenSources(ChosenSources chosen, std::vector<std::string> folderFiles) {
    m_chosen = std::move(chosen);
    m_folderFiles = std::move(folderFiles);
}

merge::MergeOptions DesktopHost::askOptions(const merge::SampleInfo& sample,
                                            const merge::ReferenceResolver& resolve) {
    options::Form2 dialog;
    dialog.fill(sample);
    dialog.setResolver(resolve);
    options::SourceChoice choice;
    choice.paths = m_chosen.paths;
    choice.folder = m_chosen.folder;
    choice.recursive = m_chosen.recursive;
    if (m_chosen.folder) {
        choice.countTaken = [this](const std::vector<std::string>& include,
                                   const std::vector<std::string>& exclude) {
            const sources::NameFilter filter{include, exclude};
            int taken = 0;
            for (const std::string& file : m_folderFiles)
                if (filter.takes(fileNameOf(file))) ++taken;
            return taken;
        };
    }
    dialog.setSources(std::move(choice));
    dialog.setJobFileChooser(ApiSelectFiles::SaveJobFile);
    const std::optional<merge::MergeJob> remembered = Settings::rememberedOptions();
    if (remembered) dialog.restore(remembered->settings, remembered->include, remembered->exclude);
    dialog.exec();
    // A cancelled dialog hands back options whose Confirmed is false.
    const merge::MergeOptions& options = dialog.mergeOptions();
    if (options.Confirmed) {
        m_filter = sources::NameFilter{dialog.includePatterns(), dialog.excludePatterns()};
        merge::MergeJob kept;
        kept.settings = merge::decodeOptions(options);
        if (m_chosen.folder) {
            kept.include = dialog.includePatterns();
            kept.exclude = dialog.excludePatterns();
        } else if (remembered) {
            // Files were merged: the folder filter stays as it was for the next folder.
            kept.include = remembered->include;
            kept.exclude = remembered->exclude;
        }
        Settings::rememberOptions(kept);
    }
    return options;
}

std::optional<std::vector<std::string>> DesktopHost::narrowSources(
    const std::vector<std::string>& sources) {
    if (!m_chosen.folder || m_filter.empty()) return std::nullopt;
    std::vector<std::string> kept;
    for (const std::string& source : sources)
        if (m_filter.takes(fileNameOf(source))) kept.push_back(source);
    return kept;
}

bool DesktopHost::ensureProgress() {
    if (m_progress) return false;
    m_progress = std::make_unique<Form3>();
    m_progress->show();
    // The keyboard goes to it, so that Escape reaches "取消".
    m_progress->activateWindow();
    return true;
}

void DesktopHost::beginSource(int number, int total, const std::string& path) {
    const bool first = ensureProgress();
    m_progress->showFile(QString::fromStdString(path));
    // Drawn before the first source is read, so that "取消" is there from the start.
    if (first) m_progress->showProgress(number - 1, total);
}

void DesktopHost::showProgress(int done, int total) {
    ensureProgress();
    m_progress->showProgress(done, total);
}

bool DesktopHost::stopRequested() {
    return m_progress && m_progress->stopRequested();
}

void DesktopHost::closeProgress() {
    if (!m_progress) return;
    m_progress->unload();
    m_progress.reset();
}

merge::MessageAnswer DesktopHost::showMessage(const std::string& text, merge::MessageStyle style,
                                              const std::string& title) {
    return widgets::MessageService::show(QString::fromStdString(text), style,
                                         QString::fromStdString(title));
}

void DesktopHost::showSummary(const std::string& text, const std::string& title,
                              const std::filesystem::path& result) {
    // The result is saved (or its save failed): the run writes nothing more.
    m_lock.release();
    if (result.empty()) {
        showMessage(text, merge::MessageStyle::Information, title);
        return;
    }
    FinalMessage box(QString::fromStdString(text), QString::fromStdString(result.string()), m_open);
    box.setWindowTitle(QString::fromStdString(title));
    box.exec();
}

void DesktopHost::handOver(const std::filesystem::path&) {
    // The final message has offered to open the result; what is left is to let go.
    QApplication::processEvents();
    m_lock.release();
}

merge::PasswordAnswer DesktopHost::askPassword(const std::string& path, int attempt) {
    PasswordDialog dialog(QString::fromStdString(path), attempt, m_passwordForLaterFiles,
                          m_progress.get());
    const merge::PasswordAnswer answer = dialog.ask();
    if (answer.password) m_passwordForLaterFiles = answer.useForLaterFiles;
    // The keyboard goes back to the progress window, so that Escape reaches "取消" again.
    if (m_progress) m_progress->activateWindow();
    return answer;
}

}  // namespace app
