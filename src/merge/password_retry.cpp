#include "merge/password_retry.h"

#include <utility>
#include <vector>

namespace merge {

std::shared_ptr<Workbook> openSource(detail::RunState& run, const std::string& path) {
    Application& application = run.application;
    ErrorState& errors = run.errors();
    std::shared_ptr<Workbook> book = application.openWorkbook(path);
    auto lockedOut = [&] {
        return !book && errors.isSet() &&
               errors.error().code == spreadsheet::ErrorCode::EncryptedWorkbook;
    };
    for (int attempt = 1; attempt <= MaxPasswordAttempts && lockedOut(); ++attempt) {
        const PasswordAnswer answer = run.host.askPassword(path, attempt);
        if (!answer.password) return nullptr;  // skipped: the file fails as encrypted
        // The answer alone: the run's own passwords were tried already.
        errors.clear();
        application.setPasswords({*answer.password});
        book = application.openWorkbook(path);
        if (book && !errors.isSet() && answer.useForLaterFiles)
            run.passwords.push_back(*answer.password);
        application.setPasswords(run.passwords);
        if (lockedOut() && attempt == MaxPasswordAttempts) {
            errors.clear();
            errors.set(spreadsheet::Error(spreadsheet::ErrorCode::WrongPassword));
        }
    }
    return book;
}

}  // namespace merge
