// Reading source workbooks ahead of their turn: files the run announces are read on other
// threads while it places the workbooks opened before them. What a read returns never depends
// on the announcements: a file changed since it was read ahead is read again at its turn.
//   ReadAhead ahead;
//   ahead.announce(next);                      // starts reading in the background
//   Result<WorkbookData> data = ahead.read(path);
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <deque>
#include <future>
#include <string>
#include <vector>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"
#include "spreadsheet/workbook_reader.h"

namespace merge {

class ReadAhead {
public:
    // Waits for the reads under way.
    ~ReadAhead() = default;

    // Announces a file the run will read after those announced before it; reading starts when
    // fewer than AheadLimit files are being read or waiting to be taken.
    void announce(const std::string& path);

    // The workbook at `path`: the one read ahead when it was announced and is unchanged since,
    // otherwise read now. Announced files before `path` that were never read are dropped; a
    // path never announced leaves the announcements as they are.
    spreadsheet::Result<spreadsheet::WorkbookData> read(const std::string& path);

    // Drops every announcement (after the reads under way end).
    void clear();

    // The passwords encrypted sources are opened with from now on. A file read ahead with
    // other passwords is read again when it is taken, so a password only ever opens the files
    // it was given for.
    void setPasswords(std::vector<std::string> passwords);
    const std::vector<std::string>& passwords() const { return m_open.passwords; }

    // The encoding CSV sources are read in ("" detects it per file). Set it before the first
    // announcement: files read ahead keep the encoding they were read with.
    void setCsvEncoding(std::string encoding) { m_open.csvEncoding = std::move(encoding); }

    // Two at a time keep two cores busy, since reading takes about twice as long as placing;
    // memory stays a few sources. The readers share no state.
    static constexpr std::size_t AheadLimit = 2;

private:
    struct AheadRead {
        std::string path;
        struct stat before {};       // the file as it was when reading began
        int passwordGeneration = 0;  // the passwords it was read with
        std::future<spreadsheet::Result<spreadsheet::WorkbookData>> data;
    };
    // Starts reading announced files until AheadLimit are being read or waiting.
    void startReads();

    std::deque<std::string> m_expected;  // announced, not yet started
    std::deque<AheadRead> m_ahead;       // started, in announcement order
    spreadsheet::OpenOptions m_open;
    int m_passwordGeneration = 0;
};

}  // namespace merge
