#include "app/desktop_host.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include "app/form3.h"
#include "options/form2.h"
#include "widgets/message_service.h"

namespace app {

DesktopHost::DesktopHost(ResultOpener openResult, merge::RunLock& lock)
    : m_openResult(std::move(openResult)), m_lock(lock) {}

DesktopHost::~DesktopHost() = default;

merge::MergeOptions DesktopHost::askOptions(const merge::SampleInfo& sample,
                                            const merge::ReferenceResolver& resolve) {
    options::Form2 dialog;
    dialog.fill(sample);
    dialog.setResolver(resolve);
    dialog.exec();
    // A cancelled dialog hands back options whose Confirmed is false.
    return dialog.mergeOptions();
}

void DesktopHost::showProgress(int done, int total) {
    if (!m_progress) {
        m_progress = std::make_unique<Form3>();
        m_progress->show();
    }
    m_progress->showProgress(done, total);
}

void DesktopHost::closeProgress() {
    if (!m_progress) return;
    m_progress->close();
    m_progress.reset();
}

merge::MessageAnswer DesktopHost::showMessage(const std::string& text, merge::MessageStyle style,
                                              const std::string& title) {
    return widgets::MessageService::show(QString::fromStdString(text), style,
                                         QString::fromStdString(title));
}

void DesktopHost::handOver(const std::filesystem::path& result) {
    QApplication::processEvents();
    m_lock.release();
    if (m_openResult) m_openResult(result);
}

void DesktopHost::openInDesktop(const std::filesystem::path& result) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(result.string())));
}

}  // namespace app
