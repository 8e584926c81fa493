// The error indicator and cell values of the automation interface.
#include "merge/automation.h"

#include "spreadsheet/value_text.h"

namespace merge {

void ErrorState::set(spreadsheet::Error error) {
    if (m_set) return;
    m_set = true;
    m_error = std::move(error);
}

void ErrorState::clear() {
    m_set = false;
    m_error = spreadsheet::Error{};
}

std::string ErrorState::message() const {
    if (!m_set) return {};
    return spreadsheet::errorText(m_error);
}

CellValue CellValue::ofText(std::string text) {
    CellValue value;
    value.type = spreadsheet::CellType::Text;
    value.text = std::move(text);
    return value;
}

CellValue CellValue::ofNumber(double number) {
    CellValue value;
    value.type = spreadsheet::CellType::Number;
    value.number = number;
    return value;
}

std::string displayedText(const CellValue& value) {
    switch (value.type) {
        case spreadsheet::CellType::Empty:
            return {};
        case spreadsheet::CellType::Number:
            return spreadsheet::numberText(value.number);
        case spreadsheet::CellType::Boolean:
            return value.number != 0.0 ? "TRUE" : "FALSE";
        case spreadsheet::CellType::Text:
        case spreadsheet::CellType::Error:
            return value.text;
    }
    return {};
}

}  // namespace merge
