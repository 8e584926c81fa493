// Reading announced source workbooks on other threads ahead of their turn.
#include "merge/read_ahead.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace merge {

namespace {

// Whether the file is the one that was read: same file, size, mode and change times.
bool unchangedSince(const std::string& path, const struct stat& before) {
    struct stat now {};
    return ::stat(path.c_str(), &now) == 0 && now.st_dev == before.st_dev &&
           now.st_ino == before.st_ino && now.st_size == before.st_size &&
           now.st_mode == before.st_mode && now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
           now.st_ctim.tv_sec == before.st_ctim.tv_sec &&
           now.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
}

}  // namespace

void ReadAhead::announce(const std::string& path) {
    m_expected.push_back(path);
    startReads();
}

void ReadAhead::clear() {
    m_expected.clear();
    m_ahead.clear();
}

void ReadAhead::setPasswords(std::vector<std::string> passwords) {
    if (passwords == m_open.passwords) return;
    m_open.passwords = std::move(passwords);
    ++m_passwordGeneration;
}

spreadsheet::Result<spreadsheet::WorkbookData> ReadAhead::read(const std::string& path) {
    // Files announced before `path` that the run passed over are dropped (after their threads
    // end); a path never announced is read now and leaves the announcements as they are.
    auto started = std::find_if(m_ahead.begin(), m_ahead.end(),
                                [&](const AheadRead& read) { return read.path == path; });
    if (started == m_ahead.end()) {
        auto waiting = std::find(m_expected.begin(), m_expected.end(), path);
        if (waiting != m_expected.end()) {
            m_ahead.clear();
            m_expected.erase(m_expected.begin(), waiting + 1);
        }
        spreadsheet::Result<spreadsheet::WorkbookData> data =
            spreadsheet::openWorkbookFile(std::filesystem::path(path), m_open);
        startReads();
        return data;
    }
    spreadsheet::Result<spreadsheet::WorkbookData> data = started->data.get();
    // A file changed, replaced, removed or made unreadable since it was read ahead is read
    // again now, so each source is taken as it is at its turn.
    if (!unchangedSince(path, started->before) ||
        started->passwordGeneration != m_passwordGeneration)
        data = spreadsheet::openWorkbookFile(std::filesystem::path(path), m_open);
    m_ahead.erase(m_ahead.begin(), started + 1);
    startReads();
    return data;
}

void ReadAhead::startReads() {
    while (m_ahead.size() < AheadLimit && !m_expected.empty()) {
        AheadRead read;
        read.path = m_expected.front();
        if (::stat(read.path.c_str(), &read.before) != 0) {
            // Read at its turn, when the failure is reported.
            m_expected.pop_front();
            continue;
        }
        read.passwordGeneration = m_passwordGeneration;
        try {
            read.data = std::async(std::launch::async,
                                   [next = std::filesystem::path(read.path), options = m_open] {
                                       return spreadsheet::openWorkbookFile(next, options);
                                   });
        } catch (const std::system_error&) {
            // No thread to spare: the file is read when it is opened.
            return;
        }
        m_expected.pop_front();
        m_ahead.push_back(std::move(read));
    }
}

}  // namespace merge
